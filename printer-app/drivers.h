// The printers' drivers, and the texts of their options on the web pages.
#pragma once

#include <pappl/pappl.h>

#include "printer-app/mapping/models.h"

namespace zeruapp {

// The four printer models as PAPPL drivers.

// PAPPL's list of drivers, one a model.
int driverCount();
pappl_pr_driver_t* driverList();

// PAPPL's callbacks: the driver data of a model, and the driver for a
// device ID (nullptr when it is none of the four).
bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* context);
const char* autoAddCallback(const char* deviceInfo, const char* deviceUri, const char* deviceId,
                            void* context);

// The vendor options' labels on the web pages, in the client's language,
// and the printers' printer-strings-languages-supported that lists them.

// Registers the strings files; called once, before any printer is made.
void addWebStrings(pappl_system_t* system);

// Adds printer-strings-languages-supported, once, to a printer's
// attributes: the languages addWebStrings registered.
void addStringsLanguages(ipp_t* attrs);

}  // namespace zeruapp
