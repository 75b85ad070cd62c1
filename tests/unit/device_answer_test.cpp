// The printer's state from its answer to a device-ID request: the core's
// public decoding of the status block, and what the Printer Application
// reports of each answer.
#include <gtest/gtest.h>

#include <string>

#include "printer-app/mapping/device_answer.h"
#include "zeru/status_block.h"

namespace {

using namespace zeruapp;

// 108 bytes 0, 1, 2, ... as 144 base64 characters.
std::string blockValue() {
  static const char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (int i = 0; i < zeru::kStatusBlockSize; i += 3) {
    unsigned group = (unsigned(i) << 16) | (unsigned(i + 1) << 8) | unsigned(i + 2);
    for (int shift = 18; shift >= 0; shift -= 6) text += alphabet[(group >> shift) & 63];
  }
  return text;
}

const std::string kModelId = "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7M;";

TEST(DecodeStatusBlock, TellsAbsentUnreadableAndValidBlocksApart) {
  EXPECT_EQ(zeru::decodeStatusBlock(nullptr).kind, zeru::StatusBlock::Absent);
  EXPECT_EQ(zeru::decodeStatusBlock(kModelId.c_str()).kind, zeru::StatusBlock::Absent);
  // Lower case is another key.
  EXPECT_EQ(zeru::decodeStatusBlock((kModelId + "sts:" + blockValue() + ";").c_str()).kind,
            zeru::StatusBlock::Absent);

  zeru::StatusBlock block = zeru::decodeStatusBlock((kModelId + "STS:" + blockValue() + ";").c_str());
  ASSERT_EQ(block.kind, zeru::StatusBlock::Valid);
  for (int i = 0; i < zeru::kStatusBlockSize; ++i) EXPECT_EQ(block.bytes[i], i) << i;

  // A key after the value runs into it, as in the filter's decoder; a short
  // value is no block either.
  EXPECT_EQ(zeru::decodeStatusBlock(("STS:" + blockValue() + ";CMD:PJL;").c_str()).kind,
            zeru::StatusBlock::Unreadable);
  EXPECT_EQ(zeru::decodeStatusBlock(("STS:" + blockValue().substr(0, 140) + ";").c_str()).kind,
            zeru::StatusBlock::Unreadable);
  EXPECT_EQ(zeru::decodeStatusBlock("STS:;").kind, zeru::StatusBlock::Unreadable);
}

TEST(PrinterStatus, OnlyAFileHasNoDeviceIdChannel) {
  EXPECT_EQ(idChannelOf("file:///tmp/out?ext=zeru"), IdChannel::None);
  EXPECT_EQ(idChannelOf(nullptr), IdChannel::None);
  EXPECT_EQ(idChannelOf("usb://ZEMRO/TX%207M?serial=1"), IdChannel::Printer);
  EXPECT_EQ(idChannelOf("socket://192.0.2.1:9100"), IdChannel::Printer);
  EXPECT_EQ(idChannelOf("snmp://192.0.2.1"), IdChannel::Printer);
}

TEST(PrinterStatus, AnswersAreClassifiedWithoutReadingTheBlock) {
  const std::string valid = kModelId + "STS:" + blockValue() + ";";
  const std::string unreadable = kModelId + "STS:QUJD;";
  EXPECT_EQ(deviceAnswerOf(IdChannel::None, true, valid.c_str()), DeviceAnswer::NotAsked);
  EXPECT_EQ(deviceAnswerOf(IdChannel::None, false, nullptr), DeviceAnswer::NotAsked);
  EXPECT_EQ(deviceAnswerOf(IdChannel::Printer, false, nullptr), DeviceAnswer::NoAnswer);
  EXPECT_EQ(deviceAnswerOf(IdChannel::Printer, false, valid.c_str()), DeviceAnswer::NoAnswer);
  EXPECT_EQ(deviceAnswerOf(IdChannel::Printer, true, ""), DeviceAnswer::NoAnswer);
  EXPECT_EQ(deviceAnswerOf(IdChannel::Printer, true, kModelId.c_str()),
            DeviceAnswer::NoStatusBlock);
  EXPECT_EQ(deviceAnswerOf(IdChannel::Printer, true, unreadable.c_str()),
            DeviceAnswer::UnreadableBlock);
  EXPECT_EQ(deviceAnswerOf(IdChannel::Printer, true, valid.c_str()), DeviceAnswer::StatusBlock);
}

TEST(PrinterStatus, OnlyAPrinterThatDoesNotAnswerIsOffline) {
  EXPECT_FALSE(printerStateOf(DeviceAnswer::NotAsked).known);

  PrinterState none = printerStateOf(DeviceAnswer::NoAnswer);
  EXPECT_TRUE(none.known);
  EXPECT_TRUE(none.offline);
  EXPECT_EQ(none.message, "The printer does not answer");

  for (DeviceAnswer answer :
       {DeviceAnswer::NoStatusBlock, DeviceAnswer::UnreadableBlock, DeviceAnswer::StatusBlock}) {
    PrinterState state = printerStateOf(answer);
    EXPECT_TRUE(state.known);
    EXPECT_FALSE(state.offline);
    EXPECT_FALSE(state.message.empty());
    EXPECT_NE(state.message, refusedJobMessage());
  }
  EXPECT_NE(printerStateOf(DeviceAnswer::StatusBlock).message,
            printerStateOf(DeviceAnswer::UnreadableBlock).message);
  EXPECT_NE(answerLogLine(DeviceAnswer::StatusBlock, kModelId.c_str()).find(kModelId),
            std::string::npos);
}

}  // namespace
