// Who may do what over IPP and the web pages: printing, reading and
// cancelling one's own jobs are open; the admin operations and settings
// pages, and jobs in the printer's own raw format, need a member of the
// admin group with a password checked by PAM.
#pragma once

#include <string>

#include <pappl/pappl.h>

namespace zeruapp {

struct AccessPolicy {
  std::string pamService;
  std::string adminGroup;
};

// Puts the policy in front of PAPPL's own checks. The policy must outlive
// the system.
void installAccessPolicy(pappl_system_t* system, const AccessPolicy& policy);

}  // namespace zeruapp
