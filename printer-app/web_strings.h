// The vendor options' labels on the web pages, in the client's language,
// and the printers' printer-strings-languages-supported that lists them.
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

// Registers the strings files; called once, before any printer is made.
void addWebStrings(pappl_system_t* system);

// Adds printer-strings-languages-supported, once, to a printer's
// attributes: the languages addWebStrings registered.
void addStringsLanguages(ipp_t* attrs);

}  // namespace zeruapp
