// Idle cost: CPU time and wake-ups per second of the real window (offscreen), connected
// to a pseudo-terminal device that answers every query, and disconnected, against a
// minimal Qt window with one timer ticking once a second. Each case runs in a process of
// its own; the device is a child process, so its work is not counted.
//   bench_idle [--seconds N]      (default 30 s per case)
#include "comdatapacket.h"
#include "comport.h"
#include "mainwindow.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <pty.h>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long Switches(const std::string& status) {
  std::ifstream file(status);
  std::string line;
  long total = 0;
  while (std::getline(file, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
      total += std::stol(line.substr(line.find(':') + 1));
  return total;
}

// Wake-ups of the main thread and of all the others together.
struct WakeUps {
  long main = 0, others = 0;
};

WakeUps Count() {
  WakeUps wakeUps;
  const std::string self = std::to_string(getpid());
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const long n = Switches(std::string("/proc/self/task/") + entry->d_name + "/status");
      (self == entry->d_name ? wakeUps.main : wakeUps.others) += n;
    }
    closedir(dir);
  }
  return wakeUps;
}

// The device: answers each query with a normal reply, until it is killed.
pid_t StartDevice(int master) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  char buffer[256];
  for (;;) {
    const auto n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) _exit(0);
    for (ssize_t i = 0; i + 3 < n; ++i)
      if (std::memcmp(buffer + i, "*L?#", 4) == 0)
        [[maybe_unused]] auto w = ::write(master, "*L00501.00#", 11);
  }
}

int RunCase(const char* which, int seconds, int argc, char* argv[]) {
  int master = -1, slave = -1;
  char name[256] = {};
  pid_t device = -1;
  if (std::strcmp(which, "connected") == 0) {
    openpty(&master, &slave, name, nullptr, nullptr);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    device = StartDevice(master);
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::unique_ptr<QWidget> window;
  std::unique_ptr<QTimer> floorTimer;
  int replies = 0;
  if (std::strcmp(which, "floor") == 0) {
    auto* label = new QLabel(QStringLiteral("Current Address : "));
    window.reset(label);
    floorTimer = std::make_unique<QTimer>();
    QObject::connect(floorTimer.get(), &QTimer::timeout, label, [label, &replies] {
      label->setText(QStringLiteral("Current Address : %1").arg(++replies % 2));
    });
    floorTimer->start(1000);
  } else {
    auto* form = new TForm1;
    window.reset(form);
    if (device > 0) {
      form->ComPort1->SetPort(name);
      form->Button2Click(form->Button2);
      auto shown = form->ComDataPacket1->OnPacket;
      form->ComDataPacket1->OnPacket = [shown, &replies](ComDataPacket* sender, const std::string& payload) {
        ++replies;
        shown(sender, payload);
      };
    }
  }
  window->show();
  // Settle first: start-up work is not idle cost.
  QTimer::singleShot(2000, &app, &QCoreApplication::quit);
  app.exec();
  const double cpuBefore = CpuSeconds();
  const WakeUps before = Count();
  const int repliesBefore = replies;
  QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
  app.exec();
  const double cpu = CpuSeconds() - cpuBefore;
  const WakeUps after = Count();
  std::printf("%s %.4f %.2f %.2f %d\n", which, cpu, double(after.main - before.main) / seconds,
              double(after.others - before.others) / seconds, replies - repliesBefore);
  window.reset();
  if (device > 0) {
    kill(device, SIGKILL);
    waitpid(device, nullptr, 0);
  }
  return 0;
}

struct Result {
  double cpu = 0, mainWakeUps = 0, otherWakeUps = 0;
  int replies = 0;
};

Result Spawn(const char* self, const char* which, int seconds) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    const std::string duration = std::to_string(seconds);
    execl(self, self, "--case", which, "--seconds", duration.c_str(), nullptr);
    _exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(n));
  ::close(out[0]);
  waitpid(pid, nullptr, 0);
  Result result;
  char name[32];
  std::sscanf(text.c_str(), "%31s %lf %lf %lf %d", name, &result.cpu, &result.mainWakeUps,
              &result.otherWakeUps, &result.replies);
  return result;
}

}  // namespace

int main(int argc, char* argv[]) {
  int seconds = 30;
  const char* which = nullptr;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--case") == 0) which = argv[i + 1];
  }
  if (which) return RunCase(which, seconds, argc, argv);

  const Result floor = Spawn(argv[0], "floor", seconds);
  const Result closed = Spawn(argv[0], "disconnected", seconds);
  const Result open = Spawn(argv[0], "connected", seconds);
  std::printf("Idle cost over %d s per case\n\n", seconds);
  std::printf("| case | CPU ms | x floor | wake-ups/s main thread | wake-ups/s other threads | replies shown |\n");
  std::printf("|---|---:|---:|---:|---:|---:|\n");
  auto row = [&](const char* name, const Result& r) {
    std::printf("| %s | %.1f | %.2f | %.2f | %.2f | %d |\n", name, r.cpu * 1000,
                floor.cpu > 0 ? r.cpu / floor.cpu : 0.0, r.mainWakeUps, r.otherWakeUps, r.replies);
  };
  row("floor: minimal Qt window, one 1 s timer", floor);
  row("vortalin, disconnected", closed);
  row("vortalin, connected, device answering", open);
  std::printf("\ngoal: CPU within 1.2 x floor; one wake-up per poll period, none from the serial layer\n");
  return 0;
}
