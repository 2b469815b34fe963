#include "comerror.h"

#include <array>
#include <cstdio>

namespace {

struct ErrorText {
  int code;
  const char* text;
};

// The texts keep the wording that technicians and support scripts already know.
constexpr std::array<ErrorText, 10> kErrorTexts{{
    {CE_OpenFailed, "Unable to open com port"},
    {CE_WriteFailed, "WriteFile function failed"},
    {CE_ReadFailed, "ReadFile function failed"},
    {CE_PurgeFailed, "PurgeComm function failed"},
    {CE_SetStateFailed, "SetCommState function failed"},
    {CE_SetTimeoutsFailed, "SetCommTimeouts failed"},
    {CE_SetupComFailed, "SetupComm function failed"},
    {CE_ClearComFailed, "ClearCommError function failed"},
    {CE_ModemStatFailed, "GetCommModemStatus function failed"},
    {CE_RegError, "Registry error"},
}};

constexpr std::string_view kSuffix = " (win error code: %d)";

struct TranslatedTexts {
  std::array<std::string, kErrorTexts.size()> texts;
  ComTextTranslator translator;

  TranslatedTexts() { Load({}); }

  void Load(ComTextTranslator t) {
    translator = std::move(t);
    for (size_t i = 0; i < kErrorTexts.size(); ++i)
      texts[i] = translator ? translator(kErrorTexts[i].text) : kErrorTexts[i].text;
  }
};

TranslatedTexts& Texts() {
  static TranslatedTexts texts;
  return texts;
}

// Fills the one "%d" of the (possibly translated) suffix; a translation that dropped the
// placeholder keeps its own wording and gets no number.
std::string FormatSuffix(const std::string& suffix, int osError) {
  const auto at = suffix.find("%d");
  if (at == std::string::npos) return suffix;
  return suffix.substr(0, at) + std::to_string(osError) + suffix.substr(at + 2);
}

}  // namespace

std::string ComErrorText(int code) {
  for (size_t i = 0; i < kErrorTexts.size(); ++i)
    if (kErrorTexts[i].code == code) return Texts().texts[i];
  return {};
}

void RaiseComError(int code, int osError) {
  std::string message = ComErrorText(code);
  if (osError != -1) {
    const auto& translator = Texts().translator;
    const std::string suffix = translator ? translator(kSuffix) : std::string(kSuffix);
    message += FormatSuffix(suffix, osError);
  }
  throw EComPort(code, osError, message);
}

void SetComErrorTranslator(ComTextTranslator translator) { Texts().Load(std::move(translator)); }
