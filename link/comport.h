// ComPort: the serial line to the device, on POSIX termios. It opens a tty at 19200 baud,
// 8 data bits, no parity, one stop bit, raw, without any flow control and with DTR and
// RTS off, holds it exclusively while open, writes whole commands and hands every
// received byte, in order, to the attached receiver (the reply splitter).
//
// Threads. Every member is called on the thread that owns the object (the UI thread),
// and every notification and the receiver run there too. While the port is open one
// waiting thread, new for each open, blocks in poll() on the tty and a stop signal; it
// never reads, writes or calls back. For each set of line events it queues a hand-over
// to the owner's event loop and blocks until the owner has dealt with it, so at most one
// hand-over is outstanding. The owner carries a hand-over out whenever its event loop
// runs (modal loops included), never while it opens the port or waits in WriteStr.
// Closing signals the stop and, while it waits for the thread to end, still carries out
// a hand-over queued before the stop; nothing is delivered after the after-close
// notification. An error while a hand-over is carried out is not reported: it ends the
// waiting thread (Receiving() false), the port stays open, and a close and a new open
// bring reception back.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class ComPort : public QObject {
  Q_OBJECT

 public:
  using NotifyEvent = std::function<void(QObject* Sender)>;
  using ReceiveEvent = std::function<void(std::string_view data)>;

  // The line settings this port always applies.
  static constexpr int BaudRate = 19200;
  static constexpr int DataBits = 8;
  static constexpr int StopBits = 1;
  // A write may take this long in all, plus WriteTimeoutPerByteMs for each byte.
  static constexpr int WriteTimeoutConstantMs = 1000;
  static constexpr int WriteTimeoutPerByteMs = 100;
  // The name a new port starts with: the machine's first serial port.
  static constexpr const char* DefaultPort = "/dev/ttyS0";

  explicit ComPort(QObject* parent = nullptr);
  // An open port is closed, with both close notifications, as it is destroyed.
  ~ComPort() override;

  const std::string& Port() const { return port_; }
  // Records the name (compared exactly, with case). When open, the port is closed and
  // opened again under the new name before this returns; both may raise EComPort.
  void SetPort(const std::string& name);

  // True exactly while the port is open: says nothing about the device or the cable.
  bool Connected() const { return connected_; }
  // Opens or closes the port; setting the current value does nothing. Raises EComPort.
  void SetConnected(bool value);
  void Open();
  void Close();

  // Writes every byte of data and returns how many went out, once the kernel has taken
  // them all. The write is bounded by the write time limit; running out of it raises
  // "WriteFile function failed" with ETIMEDOUT rather than reporting a short count.
  int WriteStr(std::string_view data);

  // The one receiver of received bytes: each hand-over gives it, as one block, what was
  // waiting in the receive queue. Set an empty function to detach it.
  void SetReceiver(ReceiveEvent receiver) { receiver_ = std::move(receiver); }

  // False while the port is closed and after an error in a hand-over ended reception.
  bool Receiving() const;

  NotifyEvent OnBeforeOpen;
  NotifyEvent OnAfterOpen;
  NotifyEvent OnBeforeClose;
  NotifyEvent OnAfterClose;

 protected:
  // True while the waiting thread has handed events over that the owner has not dealt
  // with yet.
  bool HandOverQueued() const;

 private:
  struct Line;

  void Notify(const NotifyEvent& event);
  void ServeHandOver();
  void DealWithEvents(unsigned events);
  void Release();

  std::string port_ = DefaultPort;
  bool connected_ = false;
  ReceiveEvent receiver_;
  std::unique_ptr<Line> line_;
};
