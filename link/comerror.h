// EComPort: the one error type of the serial line. Every failing step raises it through
// RaiseComError(), which picks the message text by code and appends the operating
// system's error number; nothing in the link returns an error code instead.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

enum ComErrorCode : int {
  CE_OpenFailed = 1,
  CE_WriteFailed = 2,
  CE_ReadFailed = 3,
  CE_PurgeFailed = 5,
  CE_SetStateFailed = 7,
  CE_SetTimeoutsFailed = 8,
  CE_SetupComFailed = 9,
  CE_ClearComFailed = 10,
  CE_ModemStatFailed = 11,
  CE_RegError = 23,
};

class EComPort : public std::runtime_error {
 public:
  EComPort(int code, int winCode, const std::string& message)
      : std::runtime_error(message), code_(code), winCode_(winCode) {}
  int Code() const { return code_; }
  // The operating system's error number of the failed call, -1 when there is none.
  int WinCode() const { return winCode_; }

 private:
  int code_;
  int winCode_;
};

// The message text of a code as the serial layer currently reads it (translated when a
// translator was installed), without the error-number suffix.
std::string ComErrorText(int code);

// Builds the message ("<text> (win error code: <n>)", or the text alone for -1) and
// throws it. The single place where serial errors are made.
[[noreturn]] void RaiseComError(int code, int osError = -1);

// Message translation for the serial errors: the table of texts is translated once, when
// the translator is installed at start-up, the error-number suffix each time an error is
// made. Without a translator every text reads as written.
using ComTextTranslator = std::function<std::string(std::string_view text)>;
void SetComErrorTranslator(ComTextTranslator translator);
