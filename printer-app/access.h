// Who may do what over IPP and the web pages: printing, reading and
// cancelling one's own jobs are open; the admin operations and settings
// pages, and jobs in the printer's own raw format, need a member of the
// admin group with a password checked by PAM.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace zeruapp {

struct AccessPolicy {
  std::string pamService;
  std::string adminGroup;
};

// Puts the policy in front of PAPPL's own checks. The policy must outlive
// the system.
void installAccessPolicy(pappl_system_t* system, const AccessPolicy& policy);

// The command-line socket of the system's server: in a folder of its own,
// reachable by root and the admin group alone, because PAPPL lets every
// client of that socket do everything.

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
