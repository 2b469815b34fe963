// CatalogTranslator: answers the toolkit's own texts (the "OK" of a message box, the
// items of an edit field's context menu) from the message catalogues, "default" first,
// then "cport". The window's own texts never pass through a translator, since they are
// set as written rather than through tr(), so no catalogue can change them.
//
// Translations installs, for the lifetime of the application, both users of one
// Translator: this toolkit translator and the serial layer's error texts.
#pragma once

#include <QTranslator>

#include <memory>

class Translator;

class CatalogTranslator : public QTranslator {
  Q_OBJECT

 public:
  explicit CatalogTranslator(std::shared_ptr<const Translator> translator,
                             QObject* parent = nullptr);

  // A null string when neither catalogue has the text, so that Qt keeps it as written.
  QString translate(const char* context, const char* sourceText,
                    const char* disambiguation = nullptr, int n = -1) const override;
  bool isEmpty() const override;

 private:
  std::shared_ptr<const Translator> translator_;
};

class Translations {
 public:
  // Translates the serial error texts now and installs the toolkit translator on the
  // running application.
  explicit Translations(std::shared_ptr<const Translator> translator);
  // Every text reads as written again.
  ~Translations();
  Translations(const Translations&) = delete;
  Translations& operator=(const Translations&) = delete;

 private:
  std::unique_ptr<CatalogTranslator> toolkit_;
};
