#include "translation.h"

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QStringDecoder>

#include <cctype>
#include <cstdlib>

namespace {

bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// The locale yields a code only when it starts with a two-letter language and a
// two-letter country ("de_DE", "pt_BR.UTF-8"); "C", "POSIX" or a bare "de" yield none.
std::string LocaleCode(std::string_view localeName) {
  const bool hasCode = localeName.size() >= 5 && IsLetter(localeName[0]) &&
                       IsLetter(localeName[1]) && localeName[2] == '_' &&
                       IsLetter(localeName[3]) && IsLetter(localeName[4]) &&
                       (localeName.size() == 5 || !IsLetter(localeName[5]));
  return hasCode ? std::string(localeName.substr(0, 5)) : std::string("C");
}

// msgfmt copies the catalogue's bytes as the translator wrote them; the rest of the
// program reads UTF-8, so any other declared character set is converted here.
std::string ToUtf8(std::string_view text, const std::string& charset) {
  const auto encoding = QStringConverter::encodingForName(charset.c_str());
  if (!encoding || *encoding == QStringConverter::Utf8) return std::string(text);
  QStringDecoder decoder(*encoding);
  const QString decoded = decoder(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  return decoded.toUtf8().toStdString();
}

std::optional<std::string> Lookup(const MoCatalog& catalog, std::string_view context,
                                  std::string_view text) {
  auto found = context.empty() ? std::nullopt : catalog.Find(context, text);
  if (!found) found = catalog.Find(text);
  if (!found) return std::nullopt;
  return ToUtf8(*found, catalog.Charset());
}

void LoadDomain(MoCatalog& catalog, const std::string& baseDir, std::string_view language,
                std::string_view domain) {
  for (const auto& path : Translation::CataloguePaths(baseDir, language, domain))
    if (catalog.LoadFile(path)) return;
}

}  // namespace

namespace Translation {

std::string LanguageCode(const char* langVariable, std::string_view localeName) {
  const std::string code = langVariable && *langVariable
                               ? std::string(langVariable)
                               : LocaleCode(localeName.substr(0, localeName.find('.')));
  return code.substr(0, code.find('.'));
}

// A language that would step out of the "locale" folder names no catalogue.
std::vector<std::string> CataloguePaths(const std::string& baseDir, std::string_view language,
                                        std::string_view domain) {
  if (language.empty() || language.find('/') != std::string_view::npos) return {};
  const auto path = [&](std::string_view code) {
    return baseDir + "/locale/" + std::string(code) + "/LC_MESSAGES/" + std::string(domain) + ".mo";
  };
  std::vector<std::string> paths{path(language)};
  if (language.size() > 2) paths.push_back(path(language.substr(0, 2)));
  return paths;
}

}  // namespace Translation

Translator::Translator(const std::string& baseDir, std::string_view language)
    : language_(language) {
  LoadDomain(default_, baseDir, language, DefaultDomain);
  LoadDomain(cport_, baseDir, language, CPortDomain);
}

std::shared_ptr<const Translator> Translator::ForStartUp(const std::string& exeDir) {
  const std::string language =
      Translation::LanguageCode(std::getenv("LANG"), QLocale::system().name().toStdString());
  return std::make_shared<const Translator>(exeDir, language);
}

std::string Translator::Text(std::string_view text) const {
  auto translated = Lookup(default_, {}, text);
  return translated ? std::move(*translated) : std::string(text);
}

std::optional<std::string> Translator::ToolkitText(std::string_view context,
                                                   std::string_view text) const {
  if (auto translated = Lookup(default_, context, text)) return translated;
  return Lookup(cport_, context, text);
}
