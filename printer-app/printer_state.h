// The printer's state as its device reports it: the device ID read when the
// printer is added, on status requests and at the start of every job; what
// it says in printer-state-reasons and printer-state-message; the toner
// levels the device reports; and a page of the web interface with the raw
// device ID.
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

// PAPPL's status callback: asks the printer's device, when no job holds it.
bool printerStatusCallback(pappl_printer_t* printer);

// Asks the device a job has opened, at the job's start.
void readJobDeviceStatus(pappl_job_t* job, pappl_device_t* device);

// A printer was made: its device page, and (unless the printers are being
// loaded from the saved state, where PAPPL asks by itself) its state.
void printerAdded(pappl_printer_t* printer);
void setLoadingState(bool loading);

// The device refused a job's stream.
void reportRefusedJob(pappl_printer_t* printer);

}  // namespace zeruapp
