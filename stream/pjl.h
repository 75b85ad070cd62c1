// The PJL job envelope: job header, trailer and the failure comment line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "settings/job_services.h"
#include "zeru/byte_sink.h"
#include "zeru/page_header.h"

// The nine bytes ESC %-12345X.
inline constexpr char kUel[] = "\x1b%-12345X";

// What the job header says besides the raster header's own fields.
struct JobHeaderInputs {
  uint8_t startFlag = 1;
  std::string title;
  std::string user;
  std::string host;
  std::string date;        // "%m/%d/%Y"
  std::string time;        // "%H:%M:%S"
  int duplexMode = 0;
  int paperIndex = 0;
  int pageCount = 0;
  int blankBackAdded = 0;
};

// The job header bytes, a pure function of its inputs. Control bytes of
// title, user and host become blanks; a line that would exceed 255 bytes has
// its value cut (never inside a UTF-8 sequence), keeping its CR LF.
std::string buildJobHeader(const zeru::PageHeader& header, const JobHeaderInputs& inputs);

// The page geometry line for the log. It ends in "\n" and the log's append
// adds its own newline, so an empty line follows it in the log.
std::string jobHeaderLogLine(const zeru::PageHeader& header, int paperIndex);

// Fills the inputs' host, date and time from the system.
void readSystemJobAttributes(JobHeaderInputs& inputs);

// Writes the job header to `out` and gives the geometry line to the log;
// false when `out` refused the header (errno set). A null header writes
// nothing.
bool setup(zeru::ByteSink& out, const zeru::PageHeader* header, const JobHeaderInputs& inputs,
           const JobServices& services);

std::string buildJobTrailer(bool cancelled);
// False when `out` refused the trailer (errno set).
bool WriteJobTrailer(zeru::ByteSink& out, bool cancelled);

// "@PJL COMMENT %s\r\n".
void WritePjlComment(zeru::ByteSink& out, const char* text);
