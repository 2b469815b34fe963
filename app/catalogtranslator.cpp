#include "catalogtranslator.h"

#include "comerror.h"
#include "translation.h"

#include <QCoreApplication>

CatalogTranslator::CatalogTranslator(std::shared_ptr<const Translator> translator,
                                     QObject* parent)
    : QTranslator(parent), translator_(std::move(translator)) {}

// The catalogues are plain gettext ones: a text is found by its wording (and, when the
// translator wrote one, a msgctxt naming the toolkit's context); Qt's disambiguation and
// plural count have no counterpart there.
QString CatalogTranslator::translate(const char* context, const char* sourceText,
                                     const char*, int) const {
  if (!translator_ || !sourceText || !*sourceText) return {};
  const auto translated = translator_->ToolkitText(context ? context : "", sourceText);
  return translated ? QString::fromStdString(*translated) : QString();
}

bool CatalogTranslator::isEmpty() const { return !translator_ || translator_->Empty(); }

Translations::Translations(std::shared_ptr<const Translator> translator) {
  if (!translator) translator = std::make_shared<const Translator>();
  toolkit_ = std::make_unique<CatalogTranslator>(translator);
  SetComErrorTranslator([translator](std::string_view text) { return translator->Text(text); });
  QCoreApplication::installTranslator(toolkit_.get());
}

Translations::~Translations() {
  QCoreApplication::removeTranslator(toolkit_.get());
  SetComErrorTranslator({});
}
