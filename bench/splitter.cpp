// Reply splitter throughput, in MB/s, on a stream of normal replies and on noise that
// holds no start, each fed in the chunk sizes a hand-over gives; the floor is memchr
// finding every '*' in the same buffer, the scan any start search has to make.
#include "comdatapacket.h"
#include "protocol.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kBytes = 64u << 20;
constexpr int kRounds = 3;

std::string Replies() {
  std::string stream;
  while (stream.size() < kBytes) stream += "*L00501.00#";
  return stream;
}

// Random bytes in which no '*' is followed by 'L'.
std::string Noise() {
  std::string stream(kBytes, '\0');
  std::mt19937_64 random(7);
  for (auto& byte : stream) byte = char(random() & 0xff);
  for (std::size_t i = 1; i < stream.size(); ++i)
    if (stream[i - 1] == '*' && stream[i] == 'L') stream[i] = 'l';
  return stream;
}

double MBps(std::size_t bytes, Clock::duration took) {
  return double(bytes) / 1e6 / std::chrono::duration<double>(took).count();
}

// Best of a few rounds: the least disturbed run is the closest to the code's own cost.
template <typename Pass>
double Best(Pass pass) {
  double best = 0;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = Clock::now();
    pass();
    best = std::max(best, MBps(kBytes, Clock::now() - start));
  }
  return best;
}

double Splitter(const std::string& stream, std::size_t chunk, std::size_t& payloads) {
  return Best([&] {
    ComDataPacket splitter;
    std::size_t shown = 0;
    splitter.OnPacket = [&](ComDataPacket*, const std::string& payload) {
      if (ReadPayload(payload)) ++shown;
    };
    for (std::size_t at = 0; at < stream.size(); at += chunk)
      splitter.HandleData(std::string_view(stream).substr(at, chunk));
    payloads = shown;
  });
}

double Memchr(const std::string& stream, std::size_t& found) {
  return Best([&] {
    std::size_t count = 0;
    const char* at = stream.data();
    const char* end = at + stream.size();
    while ((at = static_cast<const char*>(std::memchr(at, '*', std::size_t(end - at))))) {
      ++count;
      ++at;
    }
    found = count;
    volatile std::size_t sink = count;
    (void)sink;
  });
}

}  // namespace

int main() {
  const std::string replies = Replies(), noise = Noise();
  std::printf("Reply splitter throughput (%zu MiB per stream, best of %d)\n\n", kBytes >> 20, kRounds);
  std::printf("| stream | chunk | splitter MB/s | memchr MB/s | ratio | readable replies |\n");
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  for (const auto* name : {"replies", "noise"}) {
    const std::string& stream = std::strcmp(name, "replies") == 0 ? replies : noise;
    std::size_t stars = 0;
    const double floor = Memchr(stream, stars);
    if (stars == 0) return 1;
    for (std::size_t chunk : {std::size_t(64), std::size_t(4095)}) {
      std::size_t payloads = 0;
      const double rate = Splitter(stream, chunk, payloads);
      std::printf("| %s | %zu | %.0f | %.0f | %.2f | %zu |\n", name, chunk, rate, floor, rate / floor, payloads);
    }
  }
  return 0;
}
