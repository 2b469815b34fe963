#include "comdatapacket.h"

#include <algorithm>

// Replies are cut by moving head_ along the pending text; the text in front of it is
// erased once per chunk, so a chunk holding many replies costs no more than one scan.
void ComDataPacket::HandleData(std::string_view chunk) {
  pending_.append(chunk);
  while ((inPacket_ || FindStart()) && CutReply()) {
  }
  pending_.erase(0, head_);
  searched_ = searched_ > head_ ? searched_ - head_ : 0;
  head_ = 0;
  // Only text without any start can grow this far (a reply in progress never holds
  // more than nine characters), so the limit drops noise and nothing else.
  if (pending_.size() >= MaxBufferSize) {
    pending_.clear();
    inPacket_ = false;
    searched_ = 0;
  }
}

// Drops everything in front of the first "*L". Without one, the text is kept whole:
// a '*' at its end may be joined by an 'L' in the next chunk.
bool ComDataPacket::FindStart() {
  const auto at = pending_.find(StartString, std::max(head_, searched_));
  if (at == std::string::npos) {
    searched_ = pending_.empty() ? 0 : pending_.size() - 1;
    return false;
  }
  head_ = at;
  inPacket_ = true;
  return true;
}

// The size test comes first and wins over the stop test: a normal 11-character reply
// is cut at ten characters and its "#" stays pending until the next start drops it.
bool ComDataPacket::CutReply() {
  std::size_t length = 0;
  if (pending_.size() - head_ >= Size) {
    length = Size;
  } else {
    const auto stop = pending_.find(StopString, head_ + StartString.size());
    if (stop == std::string::npos) return false;
    length = stop + StopString.size() - head_;
  }
  std::string payload =
      pending_.substr(head_ + StartString.size(), length - StartString.size());
  head_ += length;
  searched_ = head_;
  inPacket_ = false;
  const auto stop = payload.find(StopString);
  if (stop != std::string::npos && stop + StopString.size() == payload.size())
    payload.resize(stop);
  if (OnPacket) OnPacket(this, payload);
  return true;
}
