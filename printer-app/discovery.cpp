#include "printer-app/discovery.h"

#include <ctime>

namespace zeruapp {

void advertiseNewPrinter(pappl_printer_t* printer) {
  pappl_system_t* system = papplPrinterGetSystem(printer);
  if (system == nullptr || !papplSystemIsRunning(system)) return;
  // PAPPL 1.3.1 advertises its printers when the system starts, and again
  // only when a printer's DNS-SD name, location or geo-location changes:
  // papplPrinterCreate on a running system registers nothing. Setting the
  // name the printer already has registers its _printer, _ipp (and _ipps)
  // services with the system's port and the full TXT record.
  char name[256];
  if (papplPrinterGetDNSSDName(printer, name, sizeof name) == nullptr || name[0] == '\0') return;
  papplPrinterSetDNSSDName(printer, name);
}

namespace {

// Nothing to do: the timer is there to bound the main loop's wait.
bool wake(pappl_system_t*, void*) { return true; }

}  // namespace

void addWakeTimer(pappl_system_t* system) {
  // PAPPL 1.3.1's main loop waits up to 30 s in poll() between looks at its
  // shutdown request when no timer is due sooner, so Shutdown-All-Printers
  // answered OK while the server went on for up to 30 s. A one-second timer
  // bounds that wait.
  papplSystemAddTimerCallback(system, time(nullptr) + 1, 1, wake, nullptr);
}

}  // namespace zeruapp
