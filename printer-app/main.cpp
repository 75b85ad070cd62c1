// zeru-printer-app: a Printer Application for the four models, on PAPPL.
// papplMainloop gives the sub-commands (server, add, submit, status, jobs,
// cancel, shutdown, ...); the system callback below reads the server's
// options, among them the state file and spool directory that PAPPL's own
// callback does not take.
#include <pappl/pappl.h>

#include "printer-app/system.h"

int main(int argc, char* argv[]) { return zeruapp::runMainloop(argc, argv); }
