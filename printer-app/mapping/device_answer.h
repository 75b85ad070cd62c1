// What a printer's answer to a device-ID request says about its state, as
// plain values: no PAPPL.
//
// The printer's status block is decoded by the core, but the meaning of its
// 108 bytes is not known; the state reported from it is therefore only
// whether the printer answered, and whether its answer carried a block that
// could be read. Nothing is made up from the bytes themselves.
#pragma once

#include <string>

#include "zeru/status_block.h"

namespace zeruapp {

// How a device URI's device can be asked for its device ID.
enum class IdChannel {
  None,     // a file: a device ID is never there, and its absence says nothing
  Printer,  // USB (the 1284 descriptor) or the network (SNMP)
};
IdChannel idChannelOf(const char* deviceUri);

// The printer's answer to one device-ID request.
enum class DeviceAnswer {
  NotAsked,         // the device has no ID channel
  NoAnswer,         // the device could not be opened, or gave no device ID
  NoStatusBlock,    // a device ID without "STS:"
  UnreadableBlock,  // "STS:" whose value is not a status block
  StatusBlock,      // a whole status block
};
// `opened`: the device could be opened; `deviceId` its device ID, nullptr
// or "" when it gave none.
DeviceAnswer deviceAnswerOf(IdChannel channel, bool opened, const char* deviceId);

// What a printer's state says of an answer.
struct PrinterState {
  bool known = false;    // false: leave the printer's state as it is
  bool offline = false;  // printer-state-reasons holds "offline"
  std::string message;   // the state message ("" for none)
};
PrinterState printerStateOf(DeviceAnswer answer);

// The state message of a printer whose device refused the job stream: the
// job ends, the printer says why.
const char* refusedJobMessage();

// One line for the printer's log about an answer.
std::string answerLogLine(DeviceAnswer answer, const char* deviceId);

}  // namespace zeruapp
