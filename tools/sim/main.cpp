// vortalin-sim: plays the field device on a pseudo-terminal so the tool can be tried, and
// tested end to end, without hardware. The port's path goes to stdout once it is ready;
// every command received is logged to stderr with the time, one line each.
#include "simdevice.h"
#include "simoptions.h"

#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Exit codes: bad arguments, and a machine that does not let the device be set up.
constexpr int kExitBadInput = 2;
constexpr int kExitNoPort = 1;

struct Piece {
  Clock::time_point due;
  std::string bytes;
};

void Log(const std::string& text) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char clock[16];
  std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%s.%03ld ", clock, now.tv_nsec / 1000000);
  // One write per line, so lines from a log shared with other programs never interleave.
  const std::string line = stamp + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "vortalin-sim: %s\n", message.c_str());
  return code;
}

// The pseudo-terminal. The device keeps a slave descriptor of its own for its whole life:
// without it the master would see a hang-up each time the tool closes the port, and the
// tool's next open would find a dead line.
struct Pty {
  int master = -1;
  int slave = -1;
  std::string slavePath;

  std::string Open() {
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
      return std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    slavePath = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    // Raw from the start: no echo, no line editing, every byte value passes as it is.
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    tcsetattr(slave, TCSANOW, &tio);
    return {};
  }
};

std::string LinkTarget(const std::string& link) {
  char target[4096];
  const auto n = readlink(link.c_str(), target, sizeof target - 1);
  return n < 0 ? std::string() : std::string(target, static_cast<std::size_t>(n));
}

// Publishes the slave under the link's name. A link left behind by a simulator that was
// killed points nowhere and is replaced; a link to a live terminal, or any other file, is
// someone else's and stays.
std::string PublishLink(const std::string& link, const std::string& slavePath) {
  struct stat info{};
  if (lstat(link.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode))
      return link + " exists and is not a link; choose another path with --link PATH";
    const std::string target = LinkTarget(link);
    if (stat(link.c_str(), &info) == 0)
      return link + " already points to " + target +
             ", which is in use (another vortalin-sim?); stop it or use --link PATH";
    unlink(link.c_str());
  }
  if (symlink(slavePath.c_str(), link.c_str()) == 0) return {};
  const int error = errno;
  std::string message = "cannot create " + link + ": " + std::strerror(error);
  if (error == EACCES || error == EPERM || error == EROFS)
    message += "; run as root or choose a writable path with --link PATH";
  return message;
}

void RemoveLink(const std::string& link, const std::string& slavePath) {
  if (LinkTarget(link) == slavePath) unlink(link.c_str());
}

// Writes that go out later: late answers, and the small pieces of a chunked reply. The
// pieces stay in order; each is written once it is due.
class Outbox {
 public:
  explicit Outbox(const SimOptions& options) : options_(options), random_(std::random_device{}()) {}

  void Send(const std::string& reply) {
    auto due = std::max(Clock::now() + std::chrono::milliseconds(options_.delayMs), LastDue());
    if (options_.noise) Queue(due, Noise());
    if (!options_.chunks) {
      Queue(due, reply);
      return;
    }
    for (std::size_t at = 0; at < reply.size();) {
      const std::size_t size = std::min(reply.size() - at, Pick(1, 4));
      Queue(due, reply.substr(at, size));
      at += size;
      due += std::chrono::milliseconds(Pick(1, 15));
    }
  }

  // Milliseconds until the next piece is due, or -1 when nothing waits or the line is
  // full (the loop then waits for it to take bytes again).
  int Timeout() const {
    if (pieces_.empty() || blocked_) return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(pieces_.front().due - Clock::now());
    return static_cast<int>(std::max<long>(0, left.count()));
  }

  // Writes what is due; a full line keeps the rest for the next round.
  bool Blocked() const { return blocked_; }

  void Flush(int master) {
    while (!pieces_.empty() && pieces_.front().due <= Clock::now()) {
      std::string& bytes = pieces_.front().bytes;
      const auto n = write(master, bytes.data(), bytes.size());
      blocked_ = n < 0 && errno == EAGAIN;
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
      if (n < 0) {
        Log(std::string("write failed: ") + std::strerror(errno));
        pieces_.pop_front();
        continue;
      }
      bytes.erase(0, static_cast<std::size_t>(n));
      if (bytes.empty()) pieces_.pop_front();
    }
  }

 private:
  Clock::time_point LastDue() const {
    return pieces_.empty() ? Clock::time_point{} : pieces_.back().due;
  }
  void Queue(Clock::time_point due, std::string bytes) {
    pieces_.push_back({due, std::move(bytes)});
  }
  std::size_t Pick(std::size_t low, std::size_t high) {
    return std::uniform_int_distribution<std::size_t>(low, high)(random_);
  }

  // Any byte but '*': noise must never form a start, or it would be read as a reply.
  std::string Noise() {
    std::string bytes(Pick(1, 8), '\0');
    for (char& c : bytes) {
      do c = static_cast<char>(Pick(0, 255));
      while (c == '*');
    }
    return bytes;
  }

  const SimOptions& options_;
  std::mt19937 random_;
  std::deque<Piece> pieces_;
  bool blocked_ = false;
};

void Answer(SimDevice& device, const SimOptions& options, Outbox& outbox,
            const std::string& command) {
  const auto reply = device.Answer(command);
  if (!reply) {
    Log("received " + Printable(command) + " ignored");
  } else if (options.mute) {
    Log("received " + Printable(command) + " not answered (--mute)");
  } else {
    Log("received " + Printable(command) + " answered " + *reply);
    outbox.Send(*reply);
  }
}

// Reads what the tool sent. The device's own slave descriptor keeps the master from ever
// seeing a hang-up, so an error here means the pseudo-terminal itself is gone.
bool Receive(int master, CommandFramer& framer, SimDevice& device, const SimOptions& options,
             Outbox& outbox) {
  char buffer[512];
  for (;;) {
    const auto n = read(master, buffer, sizeof buffer);
    if (n > 0) {
      for (const auto& command : framer.Feed({buffer, static_cast<std::size_t>(n)}))
        Answer(device, options, outbox, command);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    Log(std::string("the pseudo-terminal failed: ") +
        (n == 0 ? "end of file" : std::strerror(errno)));
    return false;
  }
}

// SIGINT, SIGTERM and SIGHUP arrive as readable events, so the link is removed by the
// loop itself rather than inside a signal handler.
int BlockStopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGHUP);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  return signalfd(-1, &stops, SFD_CLOEXEC);
}

int Run(const SimOptions& options) {
  std::signal(SIGPIPE, SIG_IGN);
  const int stopFd = BlockStopSignals();
  if (stopFd < 0)
    return Fail(kExitNoPort, std::string("cannot watch for signals: ") + std::strerror(errno));
  Pty pty;
  if (auto error = pty.Open(); !error.empty()) return Fail(kExitNoPort, error);
  if (auto error = PublishLink(options.link, pty.slavePath); !error.empty())
    return Fail(kExitNoPort, error);

  SimDevice device(options.address, options.revision);
  CommandFramer framer;
  Outbox outbox(options);
  Log("vortalin-sim: address " + device.Reading().substr(2, 3) + ", revision " + options.revision +
      ", on " + options.link + " -> " + pty.slavePath);
  std::printf("%s\n", options.link.c_str());
  std::fflush(stdout);

  int code = 0;
  for (;;) {
    const short lineEvents = POLLIN | (outbox.Blocked() ? POLLOUT : 0);
    pollfd fds[2] = {{pty.master, lineEvents, 0}, {stopFd, POLLIN, 0}};
    if (poll(fds, 2, outbox.Timeout()) < 0 && errno != EINTR) {
      code = Fail(kExitNoPort, std::string("poll failed: ") + std::strerror(errno));
      break;
    }
    if (fds[1].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(stopFd, &info, sizeof info) > 0)
        Log("vortalin-sim: stopped by signal " + std::to_string(info.ssi_signo));
      break;
    }
    if ((fds[0].revents & POLLIN) && !Receive(pty.master, framer, device, options, outbox)) {
      code = kExitNoPort;
      break;
    }
    outbox.Flush(pty.master);
  }
  RemoveLink(options.link, pty.slavePath);
  return code;
}

}  // namespace

int main(int argc, char* argv[]) {
  const auto parsed = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) return Fail(kExitBadInput, parsed.error);
  if (parsed.options.help) {
    std::fputs(SimUsage().c_str(), stdout);
    return 0;
  }
  return Run(parsed.options);
}
