// Fuzzes the reply splitter and the payload reading. The input is a chunking header and
// a byte stream; the stream is fed in the chunks the header gives, as one block, and one
// byte at a time. After every chunk the splitter must agree with a plain rendering of the
// framing rules kept here (no search shortcuts, one character at a time), keep less than
// the limit pending, and hand on only pieces of the stream, in order.
#include "comdatapacket.h"
#include "protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// The framing rules, written out step by step for each chunk.
class PlainSplitter {
 public:
  std::vector<std::string> Feed(std::string_view chunk) {
    std::vector<std::string> payloads;
    pending_.append(chunk);
    for (;;) {
      if (!inReply_) {
        std::size_t start = 0;
        while (start + 1 < pending_.size() && !(pending_[start] == '*' && pending_[start + 1] == 'L'))
          ++start;
        if (start + 1 >= pending_.size()) break;
        pending_.erase(0, start);
        inReply_ = true;
      }
      std::size_t length = 0;
      if (pending_.size() >= 10) {
        length = 10;
      } else {
        std::size_t stop = 2;
        while (stop < pending_.size() && pending_[stop] != '#') ++stop;
        if (stop == pending_.size()) break;
        length = stop + 1;
      }
      std::string payload = pending_.substr(2, length - 2);
      pending_.erase(0, length);
      inReply_ = false;
      std::size_t hash = 0;
      while (hash < payload.size() && payload[hash] != '#') ++hash;
      if (hash + 1 == payload.size()) payload.pop_back();
      payloads.push_back(payload);
    }
    if (pending_.size() >= 1024) {
      pending_.clear();
      inReply_ = false;
    }
    return payloads;
  }

  const std::string& Pending() const { return pending_; }
  bool InReply() const { return inReply_; }

 private:
  std::string pending_;
  bool inReply_ = false;
};

// Payload reading: six characters or more with "." as the sixth; address 1-3, revision 4-8.
void CheckReading(const std::string& payload) {
  const auto reading = ReadPayload(payload);
  const bool readable = payload.size() >= 6 && payload[5] == '.';
  Check(reading.has_value() == readable, "payload read exactly when its sixth character is '.'");
  if (!readable) return;
  Check(reading->Address == payload.substr(0, 3), "address is characters 1 to 3");
  const std::size_t revisionLength = payload.size() < 8 ? payload.size() - 3 : 5;
  Check(reading->Revision == payload.substr(3, revisionLength), "revision is characters 4 to 8");
}

// Feeds the stream in the given chunks to both renderings and checks them after each.
void Run(std::string_view stream, const std::vector<std::size_t>& lengths) {
  ComDataPacket splitter;
  PlainSplitter plain;
  std::vector<std::string> got;
  splitter.OnPacket = [&](ComDataPacket* sender, const std::string& payload) {
    Check(sender == &splitter, "OnPacket names its splitter");
    got.push_back(payload);
  };
  std::size_t fed = 0;
  std::size_t searchFrom = 0;  // payloads are pieces of the stream, each behind the last
  for (std::size_t i = 0; fed < stream.size(); ++i) {
    const std::size_t length = std::min(lengths[i % lengths.size()], stream.size() - fed);
    const std::string_view chunk = stream.substr(fed, length);
    fed += length;
    got.clear();
    splitter.HandleData(chunk);
    const auto expected = plain.Feed(chunk);
    Check(got == expected, "payloads agree with the plain rendering");
    Check(splitter.Pending() == plain.Pending(), "pending text agrees");
    Check(splitter.InPacket() == plain.InReply(), "in-reply flag agrees");
    Check(splitter.Pending().size() < ComDataPacket::MaxBufferSize, "pending below the limit");
    const std::string_view soFar = stream.substr(0, fed);
    Check(soFar.ends_with(splitter.Pending()), "pending is the tail of what arrived");
    for (const auto& payload : got) {
      Check(payload.size() <= ComDataPacket::Size - 2, "a payload is at most eight characters");
      const auto at = soFar.find("*L" + payload, searchFrom);
      Check(at != std::string_view::npos, "payload is a piece of the stream behind the last");
      searchFrom = at + 2 + payload.size();
      CheckReading(payload);
    }
  }
}

}  // namespace

// Input: one byte n (mod 16), n chunk-length bytes, then the stream. A length byte below
// 0x80 is that many bytes (0 an empty chunk); from 0x80 on it counts sixteens, so single
// chunks can pass the 1024-byte limit as well as split a start.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t count = data[0] % 16;
  if (size < 1 + count) return 0;
  std::vector<std::size_t> lengths;
  bool anyNonEmpty = false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = data[1 + i];
    lengths.push_back(b < 0x80 ? b : std::size_t(b & 0x7f) * 16);
    anyNonEmpty = anyNonEmpty || lengths.back() != 0;
  }
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1 + count, size - 1 - count);
  if (anyNonEmpty) Run(stream, lengths);
  Run(stream, {stream.size() ? stream.size() : 1});
  Run(stream, {1});
  return 0;
}
