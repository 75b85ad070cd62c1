// The printer's state as its device reports it: the device ID read when the
// printer is added, on status requests and at the start of every job; what
// it says in printer-state-reasons, the printer's log and its device page of
// the web interface (raw device ID and state message); and the toner levels
// the device reports (the four toners with unknown levels when it reports
// none).
//
// PAPPL 1.3.1 makes printer-state-message of the printer's state alone
// ("Idle.", "Printing.", "Stopped.") and has no way to set it: the state
// message the app makes of the device's answer is shown on the device page
// and written to the log.
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

// PAPPL's status callback: asks the printer's device, when no job holds it.
bool printerStatusCallback(pappl_printer_t* printer);

// Asks the device a job has opened for its device ID, at the job's start.
void readJobDeviceStatus(pappl_job_t* job, pappl_device_t* device);

// A printer was made: its device page, and (unless the printers are being
// loaded from the saved state, where PAPPL asks by itself) its state.
void printerAdded(pappl_printer_t* printer);
void setLoadingState(bool loading);

// The device refused a job's stream.
void reportRefusedJob(pappl_printer_t* printer);

}  // namespace zeruapp
