// The Printer Application's system, and its printers on the network.
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

// The Printer Application's system: its server options, drivers and state.

int runMainloop(int argc, char* argv[]);

// The printers' DNS-SD advertisements while the server runs, and a server
// that notices a shutdown request within a second.

// A printer made while the server runs (command line, web page, IPP
// Create-Printer, autoadd): advertised now rather than at the next start.
void advertiseNewPrinter(pappl_printer_t* printer);

// A timer that wakes the server's main loop every second.
void addWakeTimer(pappl_system_t* system);

}  // namespace zeruapp
