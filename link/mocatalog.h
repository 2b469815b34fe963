// MoCatalog: one GNU gettext message catalogue (".mo"), read by our own small reader.
// A catalogue comes from whoever drops a file beside the program, so every offset and
// length is checked against the buffer before it is used; a file that is damaged in any
// way is refused whole and the catalogue stays empty, so every text reads as written.
// The hash table is not needed for lookup and is ignored. Plain C++, no I/O but LoadFile.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

class MoCatalog {
 public:
  // Replaces the contents with the catalogue in data[0, size). Returns false, leaving
  // the catalogue empty, when the bytes are not a sound catalogue of revision 0.
  bool Load(const char* data, std::size_t size);
  // Load() on the whole file; false when it cannot be read.
  bool LoadFile(const std::string& path);

  // The translation of msgid, or nothing when the catalogue has none. An entry with an
  // empty translation counts as none; of a plural entry only the first form is given.
  std::optional<std::string_view> Find(std::string_view msgid) const;
  // The translation of msgid given with the msgctxt context.
  std::optional<std::string_view> Find(std::string_view context, std::string_view msgid) const;

  // The character set named by the catalogue's header entry, empty when it names none.
  const std::string& Charset() const { return charset_; }
  bool Empty() const { return entries_.empty(); }
  std::size_t Size() const { return entries_.size(); }
  void Clear();

 private:
  std::unordered_map<std::string, std::string> entries_;
  std::string charset_;
};
