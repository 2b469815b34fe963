#include "protocol.h"

#include <cstdio>

std::string SetAddressCommand(int address) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%.3d", address);
  return "*L" + std::string(digits) + "#";
}

std::optional<DeviceReading> ReadPayload(std::string_view payload) {
  if (payload.size() < 6 || payload[5] != '.') return std::nullopt;
  return DeviceReading{std::string(payload.substr(0, 3)), std::string(payload.substr(3, 5))};
}
