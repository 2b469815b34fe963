// ComDataPacket: the reply splitter. It cuts the device's replies out of the bytes the
// serial line delivers, chunk by chunk, and hands each reply's payload to OnPacket.
// A reply starts at "*L" and is cut as soon as ten characters (counting "*L") are
// pending, or earlier after the first "#"; the start and a final "#" are removed.
// Plain C++, no I/O and no Qt: one instance is fed from one thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class ComDataPacket {
 public:
  using PacketEvent = std::function<void(ComDataPacket* Sender, const std::string& Str)>;

  static constexpr std::string_view StartString = "*L";
  static constexpr std::string_view StopString = "#";
  static constexpr std::size_t Size = 10;
  static constexpr std::size_t MaxBufferSize = 1024;

  // Called once per reply, in order, before HandleData returns.
  PacketEvent OnPacket;

  // Appends one chunk of received bytes and hands on every reply now complete.
  void HandleData(std::string_view chunk);

  // Between chunks: what is neither handed on nor dropped yet, and whether a start has
  // been found.
  const std::string& Pending() const { return pending_; }
  bool InPacket() const { return inPacket_; }

 private:
  bool FindStart();
  bool CutReply();

  std::string pending_;
  bool inPacket_ = false;
  // Where the text not yet handed on or dropped begins, while a chunk is dealt with.
  std::size_t head_ = 0;
  // Where the start search resumes: nothing before it holds a "*L", so a stream of
  // noise is scanned once, not once per chunk.
  std::size_t searched_ = 0;
};
