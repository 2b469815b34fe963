// The simulated device's own model of the protocol, kept apart from any I/O so that it
// can be tested as a table. CommandFramer cuts the commands out of the bytes the tool
// sends; SimDevice answers them: a query with its reading, a valid set-address command by
// taking the new address and answering with the new reading. Everything else is ignored,
// as a real device ignores what it cannot parse.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Commands open with "*L" and close with the first "#" after it. A new "*L" before that
// "#" abandons the command in progress: a device resynchronises on every start, so one
// garbled command never swallows the next. Text without a start is dropped, except a
// trailing "*" that may be the first half of a start split over two reads.
class CommandFramer {
 public:
  // The longest text kept while waiting for a "#"; the longest valid command has six.
  static constexpr std::size_t MaxCommandLength = 16;

  // Appends the bytes and returns every command completed by them, "*L" to "#", in order.
  std::vector<std::string> Feed(std::string_view bytes);
  const std::string& Pending() const { return pending_; }

 private:
  std::string pending_;
};

class SimDevice {
 public:
  static constexpr int MinAddress = 1;
  static constexpr int MaxAddress = 126;
  static constexpr std::size_t RevisionLength = 5;

  SimDevice(int address, std::string revision);

  int Address() const { return address_; }
  // '*L', the address as three digits, the revision, '#': "*L00501.00#".
  std::string Reading() const;
  // The reply to one framed command, or nothing for a command the device ignores.
  std::optional<std::string> Answer(std::string_view command);

 private:
  int address_;
  std::string revision_;
};

// Bytes as a log line can show them: printable ASCII as it is, anything else as \xNN.
std::string Printable(std::string_view bytes);
