// Preloaded into a program under measurement: at the first expose of a top-level window
// it writes the monotonic clock and the peak RSS (VmHWM) to the descriptor named by
// BENCH_PROBE_FD, then ends the process at once.
#include <QCoreApplication>
#include <QEvent>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

long PeakRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

class ExposeProbe : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = qobject_cast<QWindow*>(watched);
    if (event->type() != QEvent::Expose || !window || !window->isTopLevel()) return false;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[128];
    const int n = std::snprintf(line, sizeof line, "%lld %ld\n",
                                (long long)now.tv_sec * 1000000000LL + now.tv_nsec, PeakRssKb());
    if (const char* fd = std::getenv("BENCH_PROBE_FD")) {
      [[maybe_unused]] auto w = ::write(std::atoi(fd), line, std::size_t(n));
    }
    _exit(0);
  }
};

void InstallProbe() { QCoreApplication::instance()->installEventFilter(new ExposeProbe); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallProbe)
