#include "status/device_id.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr size_t kStatusKeyLength = sizeof kStatusKey - 1;
constexpr char kPad = '=';
// Four pad characters after the text make every group that reaches past the
// text's end hold a pad character, so the walk always stops inside the copy.
constexpr char kPadGroup[] = "====";
constexpr size_t kPadGroupLength = sizeof kPadGroup - 1;

// The value of one base64 character, or -1 outside the alphabet ("=" included).
int base64Value(char character) {
  unsigned char c = static_cast<unsigned char>(character);
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool isGroupCharacter(char c) { return c == kPad || base64Value(c) >= 0; }

}  // namespace

int Base64DecodeQuad(const char* group, uint8_t* output) {
  int value[4];
  for (int i = 0; i < 4; ++i) value[i] = base64Value(group[i]);

  // Pad characters may only close a group, and only from the right: each
  // position that is not a character of the alphabet must be "=" and so must
  // every position after it.
  int count = 3;
  if (value[3] < 0) {
    if (group[3] != kPad) return 0;
    value[3] = 0;
    count = 2;
  }
  if (value[2] < 0) {
    if (group[3] != kPad || group[2] != kPad) return 0;
    value[2] = 0;
    --count;
  }
  if (value[1] < 0) {
    if (group[2] != kPad || group[1] != kPad) return 0;
    value[1] = 0;
    --count;
  }
  if (value[0] < 0) {
    if (group[1] != kPad || group[0] != kPad) return 0;
    value[0] = 0;
    --count;
  }
  if (count < 0) count = 0;

  uint32_t bits = static_cast<uint32_t>(value[0]) << 18 | static_cast<uint32_t>(value[1]) << 12 |
                  static_cast<uint32_t>(value[2]) << 6 | static_cast<uint32_t>(value[3]);
  for (int i = 0; i < count; ++i) output[i] = static_cast<uint8_t>(bits >> (16 - 8 * i));
  return count;
}

int Base64Decode(const char* text, uint8_t* output) {
  size_t textLength = strlen(text);
  std::unique_ptr<char[]> copy(new (std::nothrow) char[textLength + kPadGroupLength + 1]);
  if (!copy) return -1;
  memcpy(copy.get(), text, textLength);
  memcpy(copy.get() + textLength, kPadGroup, kPadGroupLength + 1);

  int remaining = kDeviceStatusSize;
  int total = 0;
  const char* next = copy.get();
  for (;;) {
    // Collect the next four characters of the alphabet or "=", passing over
    // separators, blanks and any other byte. The appended pad group ends the
    // walk before the terminating NUL; the check on NUL only keeps the walk
    // inside the copy should that ever fail.
    char group[4];
    int collected = 0;
    while (collected < 4 && *next != '\0') {
      if (isGroupCharacter(*next)) group[collected++] = *next;
      ++next;
    }
    if (collected < 4) return total;

    uint8_t bytes[3];
    int n = Base64DecodeQuad(group, bytes);
    if (n > remaining) return -1;
    memcpy(output + total, bytes, static_cast<size_t>(n));
    remaining -= n;
    total += n;
    if (n != 3) return total;
  }
}

int DecodStatusFromDeviceID(const char* deviceId, uint8_t* status) {
  if (status == nullptr || deviceId == nullptr) return 0;
  const char* key = strstr(deviceId, kStatusKey);
  if (key == nullptr) return 0;
  // The value runs to the end of the device ID, not only to the next ";".
  return Base64Decode(key + kStatusKeyLength, status) == kDeviceStatusSize ? 1 : 0;
}
