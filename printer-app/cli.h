// The sub-commands that name a printer by its name and act through the
// system service (delete, default), done by the app rather than by
// papplMainloop.
#pragma once

namespace zeruapp {

// Runs `delete -d NAME` or `default -d NAME` against the running server and
// returns true with the exit status in `status`; returns false (and leaves
// the command to papplMainloop) for any other command line, or when no
// server answers on the local socket.
bool runPrinterIdCommand(int argc, char* argv[], int& status);

}  // namespace zeruapp
