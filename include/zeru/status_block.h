// The printer's status block: 108 raw bytes that the printer carries,
// base64-encoded, under the key "STS:" of its IEEE 1284 device ID. The core
// decodes it exactly as the CUPS filter's status probe does; what the bytes
// mean is not known, so a front end may say only whether the printer sent a
// block and whether it could be read.
#pragma once

#include <array>
#include <cstdint>

namespace zeru {

inline constexpr int kStatusBlockSize = 108;

struct StatusBlock {
  enum Kind {
    Absent,      // the device ID holds no "STS:" key
    Unreadable,  // "STS:" is there, but its value is not 108 bytes of base64
    Valid,       // `bytes` holds the block
  };
  Kind kind = Absent;
  std::array<uint8_t, kStatusBlockSize> bytes{};
};

// The status block of a device ID (nullptr counts as an empty one).
StatusBlock decodeStatusBlock(const char* deviceId);

}  // namespace zeru
