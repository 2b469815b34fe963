#include "comport.h"

#include "comerror.h"

#include <QMetaObject>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

enum LineEvent : unsigned {
  EvRxChar = 1u << 0,
  EvError = 1u << 1,
};

// Retries a system call that a signal interrupted; every blocking call goes through it.
template <typename Call>
auto RetryOnInterrupt(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

// A non-blocking descriptor answers "not yet" with either of these.
bool NotYet(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// A line without modem control (a pseudo-terminal, some adapters) refuses the modem
// ioctls with these; that means "no modem lines", not a failure.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

// A tty whose device has gone (unplugged adapter, hung-up pty) answers with these.
bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

void RaiseUnless(bool ok, int code) {
  if (!ok) RaiseComError(code, errno);
}

speed_t LineSpeed() {
  static_assert(ComPort::BaudRate == 19200);
  return B19200;
}

// Raw 8N1: every byte value passes unchanged both ways, no echo, no line editing, no
// XON/XOFF or RTS/CTS, CLOCAL so carrier detect neither blocks the open nor hangs up.
void ApplyLineConfiguration(int fd) {
  termios tio{};
  RaiseUnless(tcgetattr(fd, &tio) == 0, CE_SetStateFailed);
  cfmakeraw(&tio);
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | IGNBRK | BRKINT);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  RaiseUnless(cfsetispeed(&tio, LineSpeed()) == 0 && cfsetospeed(&tio, LineSpeed()) == 0,
              CE_SetStateFailed);
  RaiseUnless(RetryOnInterrupt([&] { return tcsetattr(fd, TCSANOW, &tio); }) == 0,
              CE_SetStateFailed);
  // tcsetattr succeeds when any part of the change took: read back what matters.
  termios applied{};
  RaiseUnless(tcgetattr(fd, &applied) == 0, CE_SetStateFailed);
  if (cfgetospeed(&applied) != LineSpeed() || (applied.c_cflag & CSIZE) != CS8 ||
      (applied.c_cflag & (PARENB | CSTOPB | CRTSCTS)) != 0) {
    errno = EINVAL;
    RaiseUnless(false, CE_SetStateFailed);
  }
}

// Linux raises DTR and RTS at every open of a tty; nothing can prevent that pulse, so
// they are dropped as the very first step after the open.
void DropDtrAndRts(int fd) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd, TIOCMBIC, &lines) != 0 && !NoModemLines(errno))
    RaiseComError(CE_SetStateFailed, errno);
}

// A read returns at once with what has arrived and never waits for more.
void ApplyTimeouts(int fd) {
  termios tio{};
  RaiseUnless(tcgetattr(fd, &tio) == 0, CE_SetTimeoutsFailed);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  RaiseUnless(RetryOnInterrupt([&] { return tcsetattr(fd, TCSANOW, &tio); }) == 0,
              CE_SetTimeoutsFailed);
}

// Opens the tty and takes it for this program alone. TIOCEXCL keeps other users out;
// root passes TIOCEXCL, so the advisory lock is what keeps a second instance away.
int OpenExclusive(const std::string& path) {
  const int fd = RetryOnInterrupt(
      [&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) RaiseComError(CE_OpenFailed, errno);
  int error = 0;
  if (!isatty(fd))
    error = errno ? errno : ENOTTY;
  else if (ioctl(fd, TIOCEXCL) != 0)
    error = errno;
  else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    error = errno;
  if (error != 0) {
    ::close(fd);
    RaiseComError(CE_OpenFailed, error);
  }
  return fd;
}

void ReadModemStatus(int fd) {
  int lines = 0;
  if (ioctl(fd, TIOCMGET, &lines) != 0 && !NoModemLines(errno))
    RaiseComError(CE_ModemStatFailed, errno);
}

}  // namespace

// The open device and its waiting thread. The mutex guards the hand-over state only;
// the descriptor is opened before the thread starts and closed after it has ended.
struct ComPort::Line {
  int fd = -1;
  int stopFd = -1;
  std::thread waiter;

  std::mutex mutex;
  std::condition_variable changed;
  unsigned queuedEvents = 0;
  bool handOverQueued = false;
  bool stopRequested = false;
  bool receptionStopped = false;
  bool waiterEnded = false;

  ComPort* owner = nullptr;

  void Wait();
  bool HandOver(unsigned events);
  void Stop();
};

// The waiting thread: blocks without a time limit until the tty has news or the stop
// signal comes, and hands each set of events to the owner.
void ComPort::Line::Wait() {
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (RetryOnInterrupt([&] { return ::poll(fds, 2, -1); }) < 0) break;
    if (fds[1].revents != 0) break;
    unsigned events = 0;
    if (fds[0].revents & POLLIN) events |= EvRxChar;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) events |= EvError;
    if (events != 0 && !HandOver(events)) break;
  }
  // Whatever is still queued either way is discarded with the thread.
  tcflush(fd, TCIOFLUSH);
  std::lock_guard lock(mutex);
  waiterEnded = true;
  changed.notify_all();
}

// Queues the events for the owner's thread and blocks until they have been dealt with.
// Returns false when the waiting thread is to end.
bool ComPort::Line::HandOver(unsigned events) {
  {
    std::lock_guard lock(mutex);
    if (stopRequested) return false;
    queuedEvents = events;
    handOverQueued = true;
    changed.notify_all();
  }
  QMetaObject::invokeMethod(owner, [port = owner] { port->ServeHandOver(); },
                            Qt::QueuedConnection);
  std::unique_lock lock(mutex);
  changed.wait(lock, [this] { return !handOverQueued; });
  return !stopRequested && !receptionStopped;
}

// Signals the stop and waits for the thread to end, still carrying out a hand-over it
// queued before it saw the stop: the thread blocks until that is done, so neither side
// could otherwise finish.
void ComPort::Line::Stop() {
  {
    std::lock_guard lock(mutex);
    stopRequested = true;
  }
  const uint64_t one = 1;
  [[maybe_unused]] auto written = RetryOnInterrupt([&] { return ::write(stopFd, &one, sizeof one); });
  for (;;) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return waiterEnded || handOverQueued; });
    if (waiterEnded) break;
    lock.unlock();
    owner->ServeHandOver();
  }
  waiter.join();
}

ComPort::ComPort(QObject* parent) : QObject(parent) {}

ComPort::~ComPort() {
  if (!connected_) return;
  try {
    Close();
  } catch (const EComPort&) {
    // Nobody is left to tell at exit: let the device go all the same.
    Release();
  }
}

void ComPort::SetPort(const std::string& name) {
  if (name == port_) return;
  port_ = name;
  if (!connected_) return;
  Close();
  Open();
}

void ComPort::SetConnected(bool value) {
  if (value)
    Open();
  else
    Close();
}

bool ComPort::Receiving() const {
  if (!line_) return false;
  std::lock_guard lock(line_->mutex);
  return !line_->waiterEnded && !line_->receptionStopped;
}

bool ComPort::HandOverQueued() const {
  if (!line_) return false;
  std::lock_guard lock(line_->mutex);
  return line_->handOverQueued;
}

void ComPort::Notify(const NotifyEvent& event) {
  if (event) event(this);
}

void ComPort::Open() {
  if (connected_) return;
  Notify(OnBeforeOpen);
  auto line = std::make_unique<Line>();
  line->owner = this;
  line->fd = OpenExclusive(port_);
  line_ = std::move(line);
  connected_ = true;
  try {
    DropDtrAndRts(line_->fd);
    ApplyLineConfiguration(line_->fd);
    ApplyTimeouts(line_->fd);
    line_->stopFd = eventfd(0, EFD_CLOEXEC);
    if (line_->stopFd < 0) RaiseComError(CE_OpenFailed, errno);
    try {
      line_->waiter = std::thread([line = line_.get()] { line->Wait(); });
    } catch (const std::system_error& e) {
      RaiseComError(CE_OpenFailed, e.code().value());
    }
  } catch (const EComPort&) {
    Release();
    throw;
  }
  Notify(OnAfterOpen);
  ReadModemStatus(line_->fd);
}

void ComPort::Close() {
  if (!connected_) return;
  Notify(OnBeforeClose);
  // Abort what is still on its way out. Received bytes stay: a hand-over queued before
  // the stop still delivers them. A device that has gone cannot be purged, and refusing
  // to close for that would leave the port held for good after an unplug.
  if (tcflush(line_->fd, TCOFLUSH) != 0 && !DeviceGone(errno))
    RaiseComError(CE_PurgeFailed, errno);
  line_->Stop();
  Release();
  Notify(OnAfterClose);
}

// Lets the device go: the exclusivity is given back before the descriptor is closed, so
// the next program (or our own next open) finds the port free. The waiting thread, if
// any, has ended before this runs.
void ComPort::Release() {
  if (!line_) return;
  if (line_->waiter.joinable()) line_->Stop();
  ioctl(line_->fd, TIOCNXCL);
  flock(line_->fd, LOCK_UN);
  ::close(line_->fd);
  if (line_->stopFd >= 0) ::close(line_->stopFd);
  line_.reset();
  connected_ = false;
}

int ComPort::WriteStr(std::string_view data) {
  if (!connected_) RaiseComError(CE_WriteFailed, EBADF);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(
      WriteTimeoutConstantMs + WriteTimeoutPerByteMs * static_cast<long>(data.size()));
  std::size_t written = 0;
  while (written < data.size()) {
    const auto n = RetryOnInterrupt(
        [&] { return ::write(line_->fd, data.data() + written, data.size() - written); });
    if (n >= 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    if (!NotYet(errno)) RaiseComError(CE_WriteFailed, errno);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd out{line_->fd, POLLOUT, 0};
    if (left.count() <= 0 ||
        RetryOnInterrupt([&] { return ::poll(&out, 1, static_cast<int>(left.count())); }) == 0)
      RaiseComError(CE_WriteFailed, ETIMEDOUT);
  }
  return static_cast<int>(written);
}

// Runs on the owner's thread, from its event loop or from Close().
void ComPort::ServeHandOver() {
  if (!line_) return;
  unsigned events = 0;
  {
    std::lock_guard lock(line_->mutex);
    if (!line_->handOverQueued) return;
    events = line_->queuedEvents;
  }
  bool failed = false;
  try {
    DealWithEvents(events);
  } catch (const EComPort&) {
    failed = true;
  }
  std::lock_guard lock(line_->mutex);
  if (failed) line_->receptionStopped = true;
  line_->handOverQueued = false;
  line_->changed.notify_all();
}

// Reads the whole receive queue in one read and gives it to the receiver as one block.
// A hang-up (the device end gone) shows as an error event whose read fails or finds the
// end of the file: that error ends reception instead of waking the thread for ever.
void ComPort::DealWithEvents(unsigned events) {
  const int fd = line_->fd;
  int waiting = 0;
  RaiseUnless(ioctl(fd, FIONREAD, &waiting) == 0, CE_ClearComFailed);
  std::string data;
  if (waiting > 0) {
    data.resize(static_cast<std::size_t>(waiting));
    const auto n = RetryOnInterrupt([&] { return ::read(fd, data.data(), data.size()); });
    if (n < 0 && !NotYet(errno)) RaiseComError(CE_ReadFailed, errno);
    data.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  } else if (events & EvError) {
    char byte = 0;
    const auto n = RetryOnInterrupt([&] { return ::read(fd, &byte, 1); });
    if (n == 0) RaiseComError(CE_ReadFailed, EIO);
    if (n < 0 && !NotYet(errno)) RaiseComError(CE_ReadFailed, errno);
    if (n == 1) data.assign(1, byte);
  }
  if (!data.empty() && receiver_) receiver_(data);
}
