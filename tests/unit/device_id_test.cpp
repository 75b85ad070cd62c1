#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "status/device_id.h"

namespace {

// Plain RFC 4648 encoder, to build device IDs from known bytes.
std::string encodeBase64(const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t bits = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) text += kAlphabet[(bits >> shift) & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest == 1) {
    uint32_t bits = bytes[i] << 16;
    text += kAlphabet[(bits >> 18) & 63];
    text += kAlphabet[(bits >> 12) & 63];
    text += "==";
  } else if (rest == 2) {
    uint32_t bits = bytes[i] << 16 | bytes[i + 1] << 8;
    text += kAlphabet[(bits >> 18) & 63];
    text += kAlphabet[(bits >> 12) & 63];
    text += kAlphabet[(bits >> 6) & 63];
    text += "=";
  }
  return text;
}

std::vector<uint8_t> statusBytes(unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(kDeviceStatusSize);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// 144 base64 characters: a whole status block without pad characters.
std::string statusValue(unsigned seed = 1) { return encodeBase64(statusBytes(seed)); }

constexpr uint8_t kUntouched = 0xA5;

struct QuadCase {
  const char* group;
  int count;
  std::vector<uint8_t> bytes;
};

}  // namespace

TEST(Base64DecodeQuad, FullGroupsAndPadGroupsYieldTheirBytes) {
  const QuadCase cases[] = {
      {"QUJD", 3, {'A', 'B', 'C'}},
      {"////", 3, {0xFF, 0xFF, 0xFF}},
      {"AAAA", 3, {0, 0, 0}},
      {"+/9a", 3, {0xFB, 0xFF, 0x5A}},
      {"QUI=", 2, {'A', 'B'}},
      {"QQ==", 1, {'A'}},
  };
  for (const auto& c : cases) {
    std::array<uint8_t, 4> out;
    out.fill(kUntouched);
    EXPECT_EQ(Base64DecodeQuad(c.group, out.data()), c.count) << c.group;
    for (int i = 0; i < c.count; ++i) EXPECT_EQ(out[i], c.bytes[i]) << c.group << " byte " << i;
    for (size_t i = c.count; i < out.size(); ++i)
      EXPECT_EQ(out[i], kUntouched) << c.group << " wrote beyond its count";
  }
}

TEST(Base64DecodeQuad, PadBeforeAnAlphabetCharacterYieldsNothing) {
  for (const char* group : {"=QUJ", "Q=JD", "QU=D", "Q=I=", "=Q==", "==Q=", "===Q", "=QQ="}) {
    std::array<uint8_t, 3> out;
    out.fill(kUntouched);
    EXPECT_EQ(Base64DecodeQuad(group, out.data()), 0) << group;
    for (uint8_t b : out) EXPECT_EQ(b, kUntouched) << group;
  }
}

TEST(Base64DecodeQuad, OneCharacterOrNoneBeforeThePadsYieldsNothing) {
  for (const char* group : {"Q===", "===="}) {
    std::array<uint8_t, 3> out;
    out.fill(kUntouched);
    EXPECT_EQ(Base64DecodeQuad(group, out.data()), 0) << group;
    for (uint8_t b : out) EXPECT_EQ(b, kUntouched) << group;
  }
}

TEST(Base64DecodeQuad, NonAlphabetCharacterInAnyPositionYieldsNothing) {
  for (char bad : {'*', ';', ' ', '\n', '-', '_', '\x80', '\xff'}) {
    for (int position = 0; position < 4; ++position) {
      char group[5] = "QUJD";
      group[position] = bad;
      std::array<uint8_t, 3> out;
      out.fill(kUntouched);
      EXPECT_EQ(Base64DecodeQuad(group, out.data()), 0)
          << "byte " << int(static_cast<unsigned char>(bad)) << " at " << position;
      for (uint8_t b : out) EXPECT_EQ(b, kUntouched);
    }
    // Also in a group that would otherwise be a valid padded one.
    for (const char* pattern : {"QU#=", "Q#==", "#Q=="}) {
      std::string group(pattern);
      for (auto& c : group)
        if (c == '#') c = bad;
      uint8_t out[3];
      EXPECT_EQ(Base64DecodeQuad(group.c_str(), out), 0) << pattern;
    }
  }
}

TEST(Base64Decode, RoundTripOfAStatusBlock) {
  for (unsigned seed : {1u, 2u, 3u, 42u}) {
    std::vector<uint8_t> bytes = statusBytes(seed);
    std::string text = encodeBase64(bytes);
    ASSERT_EQ(text.size(), 144u);
    std::array<uint8_t, kDeviceStatusSize> out{};
    ASSERT_EQ(Base64Decode(text.c_str(), out.data()), kDeviceStatusSize);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), out.begin())) << "seed " << seed;
  }
}

TEST(Base64Decode, ShortTextsStopAtTheirPadOrEnd) {
  struct Case {
    const char* text;
    int total;
  };
  const Case cases[] = {
      {"", 0},          {"Q", 0},          {"QQ", 1},         {"QUI", 2},
      {"QUJD", 3},      {"QUJDRA", 4},     {"QUJDRA==", 4},   {"QUJDRA==QUJD", 4},
      {"QUI=QUJD", 2},  {";;;", 0},        {"=", 0},
  };
  for (const auto& c : cases) {
    std::array<uint8_t, kDeviceStatusSize> out{};
    EXPECT_EQ(Base64Decode(c.text, out.data()), c.total) << '"' << c.text << '"';
  }
}

TEST(Base64Decode, OtherBytesArePassedOverWithoutCounting) {
  std::array<uint8_t, kDeviceStatusSize> out{};
  ASSERT_EQ(Base64Decode("Q U\nJ;D:\xff" "RE\tVG", out.data()), 6);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "ABCDEF");
}

TEST(Base64Decode, MoreThanTheCapacityIsRefused) {
  std::array<uint8_t, kDeviceStatusSize + 16> out{};
  out.fill(kUntouched);
  std::string text = statusValue() + "QUJD";
  EXPECT_EQ(Base64Decode(text.c_str(), out.data()), -1);
  for (size_t i = kDeviceStatusSize; i < out.size(); ++i)
    EXPECT_EQ(out[i], kUntouched) << "wrote past the status block at " << i;
}

TEST(Base64Decode, HugeTextNeverWritesPastTheCapacity) {
  std::array<uint8_t, kDeviceStatusSize + 16> out{};
  out.fill(kUntouched);
  for (size_t length : {2048u, 4096u, 100000u}) {
    std::string text(length, 'A');
    EXPECT_EQ(Base64Decode(text.c_str(), out.data()), -1) << length;
  }
  for (size_t i = kDeviceStatusSize; i < out.size(); ++i) EXPECT_EQ(out[i], kUntouched);
}

TEST(DecodStatusFromDeviceID, LastKeyWithAWholeBlockDecodes) {
  std::vector<uint8_t> bytes = statusBytes(7);
  std::string id = "MFG:ZEMRO;MDL:Test;CMD:PJL;STS:" + encodeBase64(bytes) + ";";
  DeviceStatus status{};
  ASSERT_EQ(DecodStatusFromDeviceID(id.c_str(), status.data()), 1);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), status.begin()));
}

TEST(DecodStatusFromDeviceID, FurtherKeyAfterTheValueSpoilsIt) {
  std::string id = "STS:" + statusValue() + ";CMD:PJL;";
  DeviceStatus status{};
  EXPECT_EQ(DecodStatusFromDeviceID(id.c_str(), status.data()), 0);
}

TEST(DecodStatusFromDeviceID, ValueLengthDecidesTheResult) {
  std::string value = statusValue();
  struct Case {
    std::string text;
    int result;
  };
  const Case cases[] = {
      {value.substr(0, 143), 0},  // last group yields 2 bytes: 107
      {value, 1},                 // 108
      {value + "A", 1},           // a lone character yields nothing: 108
      {value + "AA", 0},          // one byte beyond the block
      {value + ";", 1},
      {value.substr(0, 140), 0},  // 105
  };
  for (const auto& c : cases) {
    std::string id = "MDL:X;STS:" + c.text;
    DeviceStatus status{};
    EXPECT_EQ(DecodStatusFromDeviceID(id.c_str(), status.data()), c.result)
        << c.text.size() << " characters";
  }
}

TEST(DecodStatusFromDeviceID, KeyIsCaseSensitiveAndFoundAnywhere) {
  std::string value = statusValue();
  DeviceStatus status{};
  EXPECT_EQ(DecodStatusFromDeviceID(("sts:" + value + ";").c_str(), status.data()), 0);
  EXPECT_EQ(DecodStatusFromDeviceID(("Sts:" + value + ";").c_str(), status.data()), 0);
  EXPECT_EQ(DecodStatusFromDeviceID(("MDL:XSTS:" + value).c_str(), status.data()), 1);
  EXPECT_EQ(DecodStatusFromDeviceID("MFG:ZEMRO;MDL:Test;", status.data()), 0);
  EXPECT_EQ(DecodStatusFromDeviceID("", status.data()), 0);
  EXPECT_EQ(DecodStatusFromDeviceID("STS", status.data()), 0);
}

TEST(DecodStatusFromDeviceID, FirstKeyIsUsed) {
  std::string id = "STS:QUJD;STS:" + statusValue() + ";";
  DeviceStatus status{};
  EXPECT_EQ(DecodStatusFromDeviceID(id.c_str(), status.data()), 0);
}

TEST(DecodStatusFromDeviceID, NullRecordGivesZero) {
  std::string id = "STS:" + statusValue() + ";";
  EXPECT_EQ(DecodStatusFromDeviceID(id.c_str(), nullptr), 0);
}

TEST(DecodStatusFromDeviceID, HugeDeviceIdIsRefusedWithoutOverflow) {
  DeviceStatus status{};
  std::string id = "STS:" + std::string(2044, 'z');
  EXPECT_EQ(DecodStatusFromDeviceID(id.c_str(), status.data()), 0);
  id = "STS:" + statusValue() + std::string(1900, ';');
  EXPECT_EQ(DecodStatusFromDeviceID(id.c_str(), status.data()), 1);
}
