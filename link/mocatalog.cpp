#include "mocatalog.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

constexpr std::uint32_t kMagic = 0x950412de;
constexpr std::uint32_t kMagicSwapped = 0xde120495;
// Magic, revision, count, the two table offsets, the hash table's size and offset.
constexpr std::size_t kHeaderSize = 28;
constexpr std::size_t kDescriptorSize = 8;
// Far beyond any real catalogue; keeps a stray link to a device or a huge file from
// being read into memory.
constexpr std::uintmax_t kMaxFileSize = 64u << 20;

// Bounds-checked reads from the catalogue's bytes. Every check is written so that no
// sum of untrusted values can wrap around.
class MoBytes {
 public:
  MoBytes(const char* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Size() const { return size_; }
  void SetSwapped(bool swapped) { swapped_ = swapped; }

  bool Word(std::size_t offset, std::uint32_t& value) const {
    if (offset > size_ || size_ - offset < 4) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(data_ + offset);
    value = swapped_ ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                        std::uint32_t{p[2]} << 8 | p[3])
                     : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                        std::uint32_t{p[1]} << 8 | p[0]);
    return true;
  }

  // A table of count (length, offset) descriptors must lie wholly inside the buffer.
  bool TableFits(std::uint32_t offset, std::uint32_t count) const {
    return offset <= size_ && count <= (size_ - offset) / kDescriptorSize;
  }

  // The string of descriptor index in the table at tableOffset. msgfmt ends every string
  // with a NUL that its length leaves out; a string without it is cut off.
  bool String(std::uint32_t tableOffset, std::uint32_t index, std::string_view& out) const {
    const std::size_t at = std::size_t{tableOffset} + std::size_t{index} * kDescriptorSize;
    std::uint32_t length = 0, offset = 0;
    if (!Word(at, length) || !Word(at + 4, offset)) return false;
    if (offset > size_ || length >= size_ - offset || data_[offset + length] != '\0')
      return false;
    out = std::string_view(data_ + offset, length);
    return true;
  }

 private:
  const char* data_;
  std::size_t size_;
  bool swapped_ = false;
};

// A plural entry holds its forms one after another, each ended by a NUL: it is found by
// its singular and answers with its first form.
std::string_view FirstForm(std::string_view text) { return text.substr(0, text.find('\0')); }

// The header entry's "Content-Type: text/plain; charset=UTF-8" line.
std::string HeaderCharset(std::string_view header) {
  constexpr std::string_view kKey = "charset=";
  const auto at = header.find(kKey);
  if (at == std::string_view::npos) return {};
  const auto begin = at + kKey.size();
  const auto end = header.find_first_of(" \t\r\n;", begin);
  return std::string(header.substr(begin, end == std::string_view::npos ? end : end - begin));
}

}  // namespace

bool MoCatalog::Load(const char* data, std::size_t size) {
  Clear();
  MoBytes bytes(data, size);
  std::uint32_t magic = 0, revision = 0, count = 0, originals = 0, translations = 0;
  if (size < kHeaderSize || !bytes.Word(0, magic)) return false;
  if (magic != kMagic && magic != kMagicSwapped) return false;
  bytes.SetSwapped(magic == kMagicSwapped);
  if (!bytes.Word(4, revision) || !bytes.Word(8, count) || !bytes.Word(12, originals) ||
      !bytes.Word(16, translations))
    return false;
  // Only the major revision changes the layout; minor revisions add plural rules.
  if (revision >> 16 != 0) return false;
  if (!bytes.TableFits(originals, count) || !bytes.TableFits(translations, count)) return false;

  for (std::uint32_t i = 0; i < count; ++i) {
    std::string_view msgid, msgstr;
    if (!bytes.String(originals, i, msgid) || !bytes.String(translations, i, msgstr)) {
      Clear();
      return false;
    }
    if (msgid.empty()) {
      charset_ = HeaderCharset(msgstr);
      continue;
    }
    const std::string_view key = FirstForm(msgid), translation = FirstForm(msgstr);
    if (!key.empty() && !translation.empty()) entries_.try_emplace(std::string(key), translation);
  }
  return true;
}

bool MoCatalog::LoadFile(const std::string& path) {
  Clear();
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > kMaxFileSize) return false;
  std::vector<char> data(static_cast<std::size_t>(size));
  std::ifstream file(path, std::ios::binary);
  if (!file.read(data.data(), static_cast<std::streamsize>(data.size()))) return false;
  return Load(data.data(), data.size());
}

std::optional<std::string_view> MoCatalog::Find(std::string_view msgid) const {
  const auto it = entries_.find(std::string(msgid));
  if (it == entries_.end()) return std::nullopt;
  return std::string_view(it->second);
}

// gettext keeps a context in the key itself, separated from the msgid by an EOT.
std::optional<std::string_view> MoCatalog::Find(std::string_view context,
                                                std::string_view msgid) const {
  std::string key(context);
  key += '\x04';
  key += msgid;
  return Find(key);
}

void MoCatalog::Clear() {
  entries_.clear();
  charset_.clear();
}
