#include "ptypair.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

PtyPair::PtyPair() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    master_ = slave_ = -1;
    return;
  }
  slavePath_ = name;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  // Raw from the start, so nothing the device writes before the tool opens is echoed.
  termios tio{};
  tcgetattr(slave_, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave_, TCSANOW, &tio);
}

PtyPair::~PtyPair() { Vanish(); }

void PtyPair::Vanish() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
}

void PtyPair::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const auto n = ::write(master_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      return;
    } else if (n < 0 && errno == EAGAIN) {
      pollfd out{master_, POLLOUT, 0};
      ::poll(&out, 1, 1000);
    }
  }
}

std::string PtyPair::ReadAvailable() {
  std::string data;
  char buffer[4096];
  for (;;) {
    const auto n = ::read(master_, buffer, sizeof buffer);
    if (n > 0)
      data.append(buffer, static_cast<std::size_t>(n));
    else if (n < 0 && errno == EINTR)
      continue;
    else
      return data;
  }
}

std::string PtyPair::ReadFor(std::size_t n, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string data;
  while (data.size() < n) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd in{master_, POLLIN, 0};
    if (::poll(&in, 1, static_cast<int>(left)) <= 0) continue;
    data += ReadAvailable();
  }
  return data;
}

termios PtyPair::SlaveSettings() const {
  termios tio{};
  tcgetattr(slave_, &tio);
  return tio;
}

void PtyPair::FillTowardDevice() {
  const int flags = fcntl(slave_, F_GETFL);
  fcntl(slave_, F_SETFL, flags | O_NONBLOCK);
  // The pty moves data on to the master's side in the background, so the queue is full
  // only once it has stayed unwritable for a while.
  const std::string block(4096, 'f');
  for (;;) {
    while (::write(slave_, block.data(), block.size()) > 0) {
    }
    pollfd out{slave_, POLLOUT, 0};
    if (::poll(&out, 1, 300) == 0) break;
  }
  fcntl(slave_, F_SETFL, flags);
}
