// The PPD's marked choices as the printing core reads a job's choices, and
// the settings dump of the job's log.
#pragma once

#include <string>

#include <cups/cups.h>
#include <cups/ppd.h>

#include "zeru/choices.h"

// The marked choice keyword of a PPD option, or nullptr.
const char* markedChoice(ppd_file_t* ppd, const char* keyword);

// The PPD's marked choices, as the printing core reads the job's choices.
class PpdChoices : public zeru::Choices {
 public:
  explicit PpdChoices(ppd_file_t* ppd) : ppd_(ppd) {}
  const char* choice(const char* keyword) const override;

 private:
  ppd_file_t* ppd_;
};

// The option that says two-sided printing: DrvDuplex when it has a marked
// choice, else the standard Duplex.
const char* duplexOption(ppd_file_t* ppd);

// The text of the settings dump: one "INFO: ...\n" line per entry, marked
// choices only. argv needs at least six entries (argv[1], argv[3], argv[5] are shown).
std::string settingsDumpText(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                             char* argv[]);

// The settings dump, as one block of log lines.
void dumpSettings(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                  char* argv[]);
