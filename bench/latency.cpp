// Reply latency: from the write of a reply on the pseudo-terminal's master side to the
// real window (offscreen) showing it: its label's text set, and the label painted. The
// floor is the kernel's share: the same write woken up in a plain thread's poll().
#include "comdatapacket.h"
#include "comport.h"
#include "mainwindow.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReplies = 1000;

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

struct Pty {
  int master = -1, slave = -1;
  char name[256] = {};
  Pty() {
    openpty(&master, &slave, name, nullptr, nullptr);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
  }
  ~Pty() {
    ::close(master);
    ::close(slave);
  }
};

// Notes when the label has been painted after its text changed.
class PaintWatcher : public QObject {
 public:
  Clock::time_point painted;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = Clock::now();
    return false;
  }
};

// One reader thread stays blocked in poll() on the slave; each sample is a write on the
// master and the moment that thread wakes.
std::vector<double> KernelFloor() {
  Pty pty;
  std::atomic<long long> wokeNs{0};
  std::atomic<int> woken{0};
  std::thread reader([&] {
    char buffer[64];
    for (int i = 0; i < kReplies; ++i) {
      pollfd in{pty.slave, POLLIN, 0};
      ::poll(&in, 1, -1);
      wokeNs = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
      [[maybe_unused]] auto n = ::read(pty.slave, buffer, sizeof buffer);
      ++woken;
    }
  });
  std::vector<double> took;
  for (int i = 0; i < kReplies; ++i) {
    const auto start = Clock::now();
    [[maybe_unused]] auto n = ::write(pty.master, "*L00501.00#", 11);
    while (woken.load() == i) std::this_thread::yield();
    const auto startNs = std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    took.push_back(double(wokeNs.load() - startNs) / 1000.0);
  }
  reader.join();
  return took;
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Pty device;
  TForm1 form;
  form.show();
  form.ComPort1->SetPort(device.name);
  form.Button2Click(form.Button2);
  // Poll ticks would only add their own writes to the measured path.
  form.Timer1->stop();
  PaintWatcher watcher;
  form.Label1->installEventFilter(&watcher);
  auto* dispatcher = QAbstractEventDispatcher::instance();

  std::vector<double> toText, toPaint;
  for (int i = 0; i < kReplies + 50; ++i) {
    const char* reply = i % 2 ? "*L00601.00#" : "*L00501.00#";
    const QString expected = QStringLiteral("Current Address : 00%1").arg(i % 2 ? 6 : 5);
    const auto start = Clock::now();
    [[maybe_unused]] auto n = ::write(device.master, reply, 11);
    while (form.Label1->text() != expected) dispatcher->processEvents(QEventLoop::WaitForMoreEvents);
    const auto textSet = Clock::now();
    watcher.painted = {};
    while (watcher.painted < textSet) dispatcher->processEvents(QEventLoop::AllEvents);
    if (i < 50) continue;  // warm-up: first paints, first allocations
    toText.push_back(std::chrono::duration<double, std::micro>(textSet - start).count());
    toPaint.push_back(std::chrono::duration<double, std::micro>(watcher.painted - start).count());
  }
  form.Button2Click(form.Button2);
  const auto floor = KernelFloor();

  std::printf("Reply latency over %d replies of 11 bytes (microseconds)\n\n", kReplies);
  std::printf("| path | p50 | p99 | max |\n|---|---:|---:|---:|\n");
  auto row = [](const char* name, const std::vector<double>& v) {
    std::printf("| %s | %.0f | %.0f | %.0f |\n", name, Percentile(v, 0.5), Percentile(v, 0.99),
                *std::max_element(v.begin(), v.end()));
  };
  row("floor: pty write to poll() wake-up in a thread", floor);
  row("pty write to label text set", toText);
  row("pty write to label painted", toPaint);
  std::printf("\np99 to painted / floor p99: %.1f x; goal p99 < 1000 us\n",
              Percentile(toPaint, 0.99) / Percentile(floor, 0.99));
  return 0;
}
