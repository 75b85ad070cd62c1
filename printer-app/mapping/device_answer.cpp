#include "printer-app/mapping/device_answer.h"

#include <cstring>

namespace zeruapp {

namespace {

constexpr const char* kNoAnswerMessage = "The printer does not answer";
constexpr const char* kNoBlockMessage = "The printer answers without a status block";
constexpr const char* kUnreadableMessage = "The printer sends a status block that cannot be read";
constexpr const char* kBlockMessage = "The printer answers with a status block";
constexpr const char* kRefusedJobMessage = "The printer refused the job";

}  // namespace

IdChannel idChannelOf(const char* deviceUri) {
  if (deviceUri == nullptr) return IdChannel::None;
  // file: writes a file; every other scheme PAPPL opens reaches a printer.
  if (strncmp(deviceUri, "file:", 5) == 0) return IdChannel::None;
  return IdChannel::Printer;
}

DeviceAnswer deviceAnswerOf(IdChannel channel, bool opened, const char* deviceId) {
  if (channel == IdChannel::None) return DeviceAnswer::NotAsked;
  if (!opened || deviceId == nullptr || *deviceId == '\0') return DeviceAnswer::NoAnswer;
  switch (zeru::decodeStatusBlock(deviceId).kind) {
    case zeru::StatusBlock::Absent: return DeviceAnswer::NoStatusBlock;
    case zeru::StatusBlock::Unreadable: return DeviceAnswer::UnreadableBlock;
    case zeru::StatusBlock::Valid: return DeviceAnswer::StatusBlock;
  }
  return DeviceAnswer::NoStatusBlock;
}

PrinterState printerStateOf(DeviceAnswer answer) {
  switch (answer) {
    case DeviceAnswer::NotAsked: return {};
    case DeviceAnswer::NoAnswer: return {true, true, kNoAnswerMessage};
    case DeviceAnswer::NoStatusBlock: return {true, false, kNoBlockMessage};
    case DeviceAnswer::UnreadableBlock: return {true, false, kUnreadableMessage};
    case DeviceAnswer::StatusBlock: return {true, false, kBlockMessage};
  }
  return {};
}

const char* refusedJobMessage() { return kRefusedJobMessage; }

std::string answerLogLine(DeviceAnswer answer, const char* deviceId) {
  const std::string id = deviceId ? deviceId : "";
  switch (answer) {
    case DeviceAnswer::NotAsked: return "The device gives no device ID";
    case DeviceAnswer::NoAnswer: return "The printer gave no device ID";
    case DeviceAnswer::NoStatusBlock: return "Device ID without status block: " + id;
    case DeviceAnswer::UnreadableBlock: return "Device ID with an unreadable status block: " + id;
    case DeviceAnswer::StatusBlock: return "Device ID with a status block: " + id;
  }
  return "";
}

}  // namespace zeruapp
