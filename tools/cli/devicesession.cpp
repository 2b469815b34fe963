#include "devicesession.h"

#include "comerror.h"

#include <QEventLoop>
#include <QTimer>

DeviceSession::DeviceSession(const std::string& port) {
  splitter_.OnPacket = [this](ComDataPacket*, const std::string& payload) { OnPayload(payload); };
  port_.SetReceiver([this](std::string_view data) { splitter_.HandleData(data); });
  port_.SetPort(port);
  port_.Open();
}

void DeviceSession::Send(std::string_view command) { port_.WriteStr(command); }

void DeviceSession::OnPayload(const std::string& payload) {
  const auto reading = ReadPayload(payload);
  if (!reading) return;
  lastReading_ = reading;
  if (onReading_) onReading_(*reading);
}

std::optional<DeviceReading> DeviceSession::WaitForReading(const Wanted& wanted, int timeoutMs,
                                                           std::string_view repeat, int periodMs) {
  QEventLoop loop;
  std::optional<DeviceReading> found;
  std::optional<EComPort> sendError;
  onReading_ = [&](const DeviceReading& reading) {
    if (found || !wanted(reading)) return;
    found = reading;
    loop.quit();
  };

  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setTimerType(Qt::PreciseTimer);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  deadline.start(timeoutMs);

  // An exception must not travel through the event loop: a failed write is kept and
  // raised once the loop has returned.
  QTimer poll;
  poll.setTimerType(Qt::PreciseTimer);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    try {
      Send(repeat);
    } catch (const EComPort& error) {
      sendError = error;
      loop.quit();
    }
  });
  if (!repeat.empty()) poll.start(periodMs);

  loop.exec();
  onReading_ = nullptr;
  if (sendError) throw *sendError;
  return found;
}
