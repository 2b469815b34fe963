// The command texts sent to the device and the reading of a reply's payload.
// Plain C++, no I/O: the window decides when a command goes out.
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view QueryCommand = "*L?#";

// "*L", the address in decimal padded with zeros to three digits, "#": 1 gives "*L001#".
std::string SetAddressCommand(int address);

struct DeviceReading {
  std::string Address;   // payload characters 1 to 3
  std::string Revision;  // payload characters 4 to 8, as many as exist
};

// A payload is read only when it has at least six characters and the sixth is "."; the
// characters are taken as they arrived, whatever they are.
std::optional<DeviceReading> ReadPayload(std::string_view payload);
