// Message translation: the catalogues a user or distributor may drop beside the program,
// found by the language chosen once at start. The serial layer's texts come from the
// "default" domain; the toolkit's own texts from "default" and then "cport". Without a
// catalogue (or with a damaged one) every text reads as written. A Translator does not
// change once built, so it may be shared by every user of it.
#pragma once

#include "mocatalog.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Translation {

// The language: langVariable ("LANG", nullptr when unset) when it is not empty, else the
// locale name's "ll_CC", else "C"; everything from the first "." on is dropped.
std::string LanguageCode(const char* langVariable, std::string_view localeName);

// Where a domain's catalogue may lie under baseDir, in the order they are tried: the
// full language code, then its first two letters.
std::vector<std::string> CataloguePaths(const std::string& baseDir, std::string_view language,
                                        std::string_view domain);

}  // namespace Translation

class Translator {
 public:
  static constexpr const char* DefaultDomain = "default";
  static constexpr const char* CPortDomain = "cport";

  // No catalogues: every text reads as written.
  Translator() = default;
  // Loads both domains for language from baseDir/locale. A catalogue that is missing
  // or damaged is passed over for the next place to look.
  Translator(const std::string& baseDir, std::string_view language);

  // The start-up choice: the language from "LANG" and the user's locale, the catalogues
  // beside the executable in exeDir.
  static std::shared_ptr<const Translator> ForStartUp(const std::string& exeDir);

  const std::string& Language() const { return language_; }
  bool Empty() const { return default_.Empty() && cport_.Empty(); }

  // A text of the serial layer, looked up in "default", as UTF-8; as written when the
  // catalogue has no translation.
  std::string Text(std::string_view text) const;
  // A toolkit text, looked up in "default" and then "cport", as UTF-8. In each domain the
  // entry given with the toolkit's context comes before the plain one.
  std::optional<std::string> ToolkitText(std::string_view context, std::string_view text) const;

 private:
  std::string language_ = "C";
  MoCatalog default_;
  MoCatalog cport_;
};
