// vortalin-cli: the window's device link for scripts. It lists the serial ports, reads a
// device's address and revision, and gives a device a new address, so that a technician
// can commission a batch of devices without the window.
#include "cliarguments.h"
#include "comerror.h"
#include "devicesession.h"
#include "portlist.h"
#include "protocol.h"
#include "translation.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;

constexpr int kReadTimeoutMs = 2000;
constexpr int kSetTimeoutMs = 5000;
constexpr int kSetQueryPeriodMs = 1000;

void PrintLine(std::FILE* stream, const std::string& text) {
  const std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), stream);
}

int Fail(const std::string& message) {
  PrintLine(stderr, "vortalin-cli: " + message);
  return kExitFailed;
}

// Texts on the line are bytes; JSON carries each byte as the character of that code.
QJsonValue JsonText(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Paths are the file system's, in the user's encoding.
QJsonValue JsonPath(const std::string& path) {
  return QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()));
}

void PrintJson(const QJsonDocument& document) {
  PrintLine(stdout, document.toJson(QJsonDocument::Compact).toStdString());
}

std::string ReadingText(const DeviceReading& reading) {
  return "address " + reading.Address + " revision " + reading.Revision;
}

std::string ThreeDigits(int address) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", address);
  return digits;
}

int List(const CliRequest& request) {
  const std::vector<std::string> names = ComPortNames();
  if (!request.json) {
    for (const auto& name : names) PrintLine(stdout, name);
    return kExitDone;
  }
  QJsonArray ports;
  for (const auto& name : names) ports.append(JsonPath(name));
  PrintJson(QJsonDocument(ports));
  return kExitDone;
}

int Read(const CliRequest& request) {
  DeviceSession session(request.port);
  session.Send(QueryCommand);
  const auto reading = session.WaitForReading([](const DeviceReading&) { return true; }, kReadTimeoutMs);
  if (!reading) return Fail("no reply from " + request.port);
  if (!request.json) {
    PrintLine(stdout, ReadingText(*reading));
    return kExitDone;
  }
  PrintJson(QJsonDocument(QJsonObject{
      {QStringLiteral("port"), JsonPath(request.port)},
      {QStringLiteral("address"), JsonText(reading->Address)},
      {QStringLiteral("revision"), JsonText(reading->Revision)},
  }));
  return kExitDone;
}

// The device is not asked to confirm the new address; only a later reading that shows it
// counts, so a lost command or a device that refused it is never reported as done.
int Set(const CliRequest& request) {
  const std::string wanted = ThreeDigits(request.address);
  DeviceSession session(request.port);
  session.Send(SetAddressCommand(request.address));
  const auto reading = session.WaitForReading(
      [&](const DeviceReading& r) { return r.Address == wanted; }, kSetTimeoutMs, QueryCommand,
      kSetQueryPeriodMs);
  if (reading) {
    PrintLine(stdout, ReadingText(*reading));
    return kExitDone;
  }
  const auto& last = session.LastReading();
  if (!last) return Fail("no reply from " + request.port);
  PrintLine(stdout, ReadingText(*last));
  return Fail(request.port + " still reads address " + last->Address + ", not " + wanted);
}

int Run(const CliRequest& request) {
  switch (request.action) {
    case CliRequest::Action::Help:
      std::fputs(CliHelp().c_str(), stdout);
      return kExitDone;
    case CliRequest::Action::List:
      return List(request);
    case CliRequest::Action::Read:
      return Read(request);
    case CliRequest::Action::Set:
      return Set(request);
  }
  return kExitBadArguments;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const auto parsed = ParseCliArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    PrintLine(stderr, "vortalin-cli: " + parsed.error);
    PrintLine(stderr, CliUsageLine());
    return kExitBadArguments;
  }
  // The serial errors read as the window shows them, from the same catalogues.
  const auto translator =
      Translator::ForStartUp(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
  SetComErrorTranslator([translator](std::string_view text) { return translator->Text(text); });
  try {
    return Run(parsed.request);
  } catch (const EComPort& error) {
    const std::string& port = parsed.request.port;
    return Fail((port.empty() ? std::string() : port + ": ") + error.what());
  }
}
