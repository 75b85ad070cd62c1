// The printer's status block, carried base64-encoded under "STS:" in its device ID.
#pragma once

#include <array>
#include <cstdint>

// The device-ID key whose value is the status block.
inline constexpr char kStatusKey[] = "STS:";
inline constexpr int kDeviceStatusSize = 108;
using DeviceStatus = std::array<uint8_t, kDeviceStatusSize>;

// Decodes four base64 characters into up to three bytes; returns the count.
int Base64DecodeQuad(const char* group, uint8_t* output);

// Decodes base64 text into at most 108 bytes; -1 beyond that or when the
// working copy cannot be allocated.
int Base64Decode(const char* text, uint8_t* output);

// 1 when the device ID holds "STS:" and its value decodes to exactly 108 bytes.
int DecodStatusFromDeviceID(const char* deviceId, uint8_t* status);
