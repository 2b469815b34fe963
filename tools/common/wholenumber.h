// The number parsing shared by the companion programs' command lines.
#pragma once

#include <optional>
#include <string_view>

// A whole decimal number within [low, high], nothing else: no sign, no spaces, no
// leading '+', and short enough that it cannot overflow.
inline std::optional<int> WholeNumber(std::string_view text, int low, int high) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}
