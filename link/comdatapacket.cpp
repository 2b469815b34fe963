#include "comdatapacket.h"

void ComDataPacket::HandleData(std::string_view chunk) {
  pending_.append(chunk);
  while ((inPacket_ || FindStart()) && CutReply()) {
  }
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
  const auto at = pending_.find(StartString, searched_);
  if (at == std::string::npos) {
    searched_ = pending_.empty() ? 0 : pending_.size() - 1;
    return false;
  }
  pending_.erase(0, at);
  inPacket_ = true;
  searched_ = 0;
  return true;
}

// The size test comes first and wins over the stop test: a normal 11-character reply
// is cut at ten characters and its "#" stays pending until the next start drops it.
bool ComDataPacket::CutReply() {
  std::size_t length = 0;
  if (pending_.size() >= Size) {
    length = Size;
  } else {
    const auto stop = pending_.find(StopString, StartString.size());
    if (stop == std::string::npos) return false;
    length = stop + StopString.size();
  }
  std::string payload = pending_.substr(StartString.size(), length - StartString.size());
  pending_.erase(0, length);
  inPacket_ = false;
  const auto stop = payload.find(StopString);
  if (stop != std::string::npos && stop + StopString.size() == payload.size())
    payload.resize(stop);
  if (OnPacket) OnPacket(this, payload);
  return true;
}
