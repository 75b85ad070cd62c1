#include "zeru/status_block.h"

#include <cstring>

#include "status/device_id.h"

namespace zeru {

static_assert(kStatusBlockSize == kDeviceStatusSize);

StatusBlock decodeStatusBlock(const char* deviceId) {
  StatusBlock block;
  if (deviceId == nullptr || strstr(deviceId, kStatusKey) == nullptr) return block;
  DeviceStatus status{};
  if (DecodStatusFromDeviceID(deviceId, status.data()) != 1) {
    block.kind = StatusBlock::Unreadable;
    return block;
  }
  block.kind = StatusBlock::Valid;
  block.bytes = status;
  return block;
}

}  // namespace zeru
