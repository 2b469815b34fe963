#include "simdevice.h"

#include <cstdio>

namespace {

constexpr std::string_view kStart = "*L";
constexpr char kStop = '#';

// Three decimal digits naming an address the device accepts, or nothing.
std::optional<int> AddressDigits(std::string_view body) {
  if (body.size() != 3) return std::nullopt;
  int value = 0;
  for (char c : body) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < SimDevice::MinAddress || value > SimDevice::MaxAddress) return std::nullopt;
  return value;
}

}  // namespace

std::vector<std::string> CommandFramer::Feed(std::string_view bytes) {
  pending_.append(bytes);
  std::vector<std::string> commands;
  for (;;) {
    const auto start = pending_.find(kStart);
    if (start == std::string::npos) {
      const bool halfStart = !pending_.empty() && pending_.back() == kStart[0];
      pending_ = halfStart ? std::string(1, kStart[0]) : std::string();
      return commands;
    }
    pending_.erase(0, start);
    const auto stop = pending_.find(kStop, kStart.size());
    const auto restart = pending_.find(kStart, kStart.size());
    if (restart != std::string::npos && (stop == std::string::npos || restart < stop)) {
      pending_.erase(0, restart);
      continue;
    }
    if (stop != std::string::npos) {
      commands.push_back(pending_.substr(0, stop + 1));
      pending_.erase(0, stop + 1);
      continue;
    }
    // No end yet. A start followed by more text than any command has is noise: skip it
    // and look for the next start in what follows.
    if (pending_.size() <= MaxCommandLength) return commands;
    pending_.erase(0, kStart.size());
  }
}

SimDevice::SimDevice(int address, std::string revision)
    : address_(address), revision_(std::move(revision)) {}

std::string SimDevice::Reading() const {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", address_);
  return std::string(kStart) + digits + revision_ + kStop;
}

std::optional<std::string> SimDevice::Answer(std::string_view command) {
  if (command.size() < kStart.size() + 1 || command.substr(0, kStart.size()) != kStart ||
      command.back() != kStop)
    return std::nullopt;
  const auto body = command.substr(kStart.size(), command.size() - kStart.size() - 1);
  if (body == "?") return Reading();
  if (const auto address = AddressDigits(body)) {
    address_ = *address;
    return Reading();
  }
  return std::nullopt;
}

std::string Printable(std::string_view bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return text;
}
