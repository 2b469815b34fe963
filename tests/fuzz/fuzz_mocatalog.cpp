// Fuzzes the ".mo" catalogue reader. The bytes are copied into a buffer of exactly their
// size, so AddressSanitizer stops any read past the end. A refused catalogue must be
// empty; an accepted one must answer every lookup as its own tables say, which is
// checked against a plain walk of those tables written here.
#include "mocatalog.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Little- or big-endian word at offset, as the magic number says; the caller has checked
// the offset against the size.
std::uint32_t Word(const unsigned char* p, bool bigEndian) {
  return bigEndian ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3])
                   : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0]);
}

std::string_view FirstForm(std::string_view text) { return text.substr(0, text.find('\0')); }

// Walks the tables of a catalogue the reader accepted. Acceptance means every descriptor
// lies inside the bytes, with its string and the NUL behind it: Check() says so if not.
std::map<std::string, std::string> Entries(const unsigned char* data, std::size_t size) {
  const bool bigEndian = data[0] == 0x95;  // 0x950412de written most significant first
  const std::uint64_t count = Word(data + 8, bigEndian);
  const std::uint64_t originals = Word(data + 12, bigEndian);
  const std::uint64_t translations = Word(data + 16, bigEndian);
  auto text = [&](std::uint64_t table, std::uint64_t i) {
    const std::uint64_t at = table + i * 8;
    Check(at + 8 <= size, "accepted descriptor lies inside the file");
    const std::uint64_t length = Word(data + at, bigEndian), offset = Word(data + at + 4, bigEndian);
    Check(offset + length < size && data[offset + length] == 0, "accepted string ends with NUL inside the file");
    return std::string_view(reinterpret_cast<const char*>(data) + offset, length);
  };
  std::map<std::string, std::string> entries;
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto msgid = text(originals, i), msgstr = text(translations, i);
    if (msgid.empty()) continue;
    const auto key = FirstForm(msgid), translation = FirstForm(msgstr);
    if (!key.empty() && !translation.empty()) entries.try_emplace(std::string(key), translation);
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto bytes = std::make_unique<char[]>(size ? size : 1);
  if (size) std::memcpy(bytes.get(), data, size);

  MoCatalog catalogue;
  const bool loaded = catalogue.Load(bytes.get(), size);
  if (!loaded) {
    Check(catalogue.Empty() && catalogue.Size() == 0, "a refused catalogue is empty");
    Check(!catalogue.Find("Unable to open com port"), "a refused catalogue translates nothing");
    return 0;
  }
  const auto entries = Entries(data, size);
  Check(catalogue.Size() == entries.size(), "one entry per distinct msgid with a translation");
  for (const auto& [key, translation] : entries) {
    const auto found = catalogue.Find(key);
    Check(found && *found == translation, "every entry is found with its first translation");
    const auto separator = key.find('\x04');
    if (separator != std::string::npos) {
      const auto inContext = catalogue.Find(std::string_view(key).substr(0, separator),
                                            std::string_view(key).substr(separator + 1));
      Check(inContext && *inContext == translation, "a context entry is found by its context");
    }
  }
  // Keys that the tables do not hold are answered with nothing.
  Check(!catalogue.Find(""), "the header entry is no translation");
  const std::string probe(reinterpret_cast<const char*>(data), size < 16 ? size : 16);
  Check(catalogue.Find(probe).has_value() == (entries.count(probe) > 0), "lookup of an arbitrary key");

  // A catalogue loaded again from a shorter copy must not keep what it held before.
  if (size > 0) {
    auto shorter = std::make_unique<char[]>(size - 1 ? size - 1 : 1);
    std::memcpy(shorter.get(), data, size - 1);
    if (!catalogue.Load(shorter.get(), size - 1)) Check(catalogue.Empty(), "a reload that fails empties the catalogue");
  }
  return 0;
}
