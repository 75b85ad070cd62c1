// Device IDs from the printer: any bytes, any length.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "status/device_id.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
  DeviceStatus status{};
  int result = DecodStatusFromDeviceID(text.c_str(), status.data());
  if (result != 0 && result != 1) abort();
  uint8_t decoded[kDeviceStatusSize];
  int count = Base64Decode(text.c_str(), decoded);
  if (count < -1 || count > kDeviceStatusSize) abort();
  if (size >= 4) {
    uint8_t quad[3];
    int n = Base64DecodeQuad(text.c_str(), quad);
    if (n < 0 || n > 3) abort();
  }
  return 0;
}
