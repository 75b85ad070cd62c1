// The command-line socket of the system's server: in a folder of its own,
// reachable by root and the admin group alone, because PAPPL lets every
// client of that socket do everything.
#pragma once

#include <string>

namespace zeruapp {

// Called first: points PAPPL's socket of a server run as root into the
// app's own folder (unless SNAP_COMMON names another), and for the client
// sub-commands of a user who cannot reach the system's server, prints why
// and gives the exit status (else -1: go on).
int prepareLocalSocket(int argc, char* argv[]);

// The SNAP_COMMON the user gave, or nullptr: where the state goes by
// default.
const char* userSnapCommon();

// For a server run as root with the app's own socket folder: makes the
// folder root's, of the admin group (root's when `adminGroup` is nullptr
// or unknown), mode 0750. False, with the reason in `error`, when it cannot.
bool secureSocketFolder(const char* adminGroup, std::string& error);

}  // namespace zeruapp
