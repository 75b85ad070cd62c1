// The sub-commands that name a printer by its name and act through the
// system service (delete, default), done by the app rather than by
// papplMainloop.
#pragma once

#include <sys/types.h>

#include <string>

namespace zeruapp {

// Runs `delete -d NAME` or `default -d NAME` against the running server and
// returns true with the exit status in `status`; returns false (and leaves
// the command to papplMainloop) for any other command line, or when no
// server answers on the local socket.
bool runPrinterIdCommand(int argc, char* argv[], int& status);

// The local socket of the server run by `uid`, where papplMainloop's client
// sub-commands look for it.
std::string serverSocketPath(uid_t uid);

}  // namespace zeruapp
