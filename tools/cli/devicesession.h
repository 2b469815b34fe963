// DeviceSession: one conversation with the device for a command-line run, on the very
// serial line and reply splitter the window uses. The session opens the port when it is
// made and closes it when it goes.
//
// Threads. Everything runs on the thread that made the session, which must have a Qt
// event loop available (a QCoreApplication): the serial line hands received bytes over
// through that thread's event loop, so the session waits in a local event loop rather
// than blocking, and readings arrive only while it waits.
#pragma once

#include "comdatapacket.h"
#include "comport.h"
#include "protocol.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class DeviceSession {
 public:
  using Wanted = std::function<bool(const DeviceReading&)>;

  // Opens port; raises EComPort when it cannot be opened.
  explicit DeviceSession(const std::string& port);

  // Writes one whole command; raises EComPort.
  void Send(std::string_view command);

  // Waits up to timeoutMs for a valid reply that wanted accepts and returns it. With a
  // repeat command, that command is sent every periodMs meanwhile, the first one periodMs
  // after the wait starts. Replies that are not valid readings are passed over. A failing
  // repeat ends the wait and raises its EComPort.
  std::optional<DeviceReading> WaitForReading(const Wanted& wanted, int timeoutMs,
                                              std::string_view repeat = {}, int periodMs = 1000);

  // The last valid reading received in this session, whether or not it was wanted.
  const std::optional<DeviceReading>& LastReading() const { return lastReading_; }

 private:
  void OnPayload(const std::string& payload);

  ComPort port_;
  ComDataPacket splitter_;
  std::optional<DeviceReading> lastReading_;
  // Set only while WaitForReading runs: hands each valid reading to the waiting loop.
  std::function<void(const DeviceReading&)> onReading_;
};
