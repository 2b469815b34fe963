// What a bench throws at the serial line and the window: a device end that vanishes at
// the worst moments, a flood of noise, many open/close cycles with traffic, and port
// names that are no serial port at all. The master side of a real pseudo-terminal plays
// the device; the window runs for real under the offscreen platform.
#include "comdatapacket.h"
#include "comerror.h"
#include "comport.h"
#include "errordisplay.h"
#include "mainwindow.h"
#include "modalwatcher.h"
#include "ptypair.h"

#include <QtTest>

#include <QAbstractEventDispatcher>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

int CountEntries(const char* dir) {
  int count = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* entry = readdir(d))
      if (entry->d_name[0] != '.') ++count;
    closedir(d);
  }
  return count;
}

// Less the descriptor that reads the directory.
int OpenDescriptors() { return CountEntries("/proc/self/fd") - 1; }
int Threads() { return CountEntries("/proc/self/task"); }

// A field of /proc/self/status in kB, such as "VmRSS".
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  return -1;
}

// Runs the event loop until the condition holds, waking at once for a hand-over rather
// than at a fixed step, so a thousand cycles take milliseconds each, not tens of them.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs = 5000) {
  QDeadlineTimer deadline(timeoutMs);
  QTimer tick;
  tick.start(20);
  auto* dispatcher = QAbstractEventDispatcher::instance();
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Waits, without running the event loop, until the thread tid sits in the system call nr.
bool WaitUntilInSyscall(pid_t tid, long nr, int timeoutMs = 5000) {
  const std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
  QDeadlineTimer deadline(timeoutMs);
  while (!deadline.hasExpired()) {
    std::ifstream file(path);
    long current = -1;
    if (file >> current && current == nr) return true;
    std::this_thread::yield();
  }
  return false;
}

// Every notification and delivery, and whether anything came after the after-close.
struct Recorder {
  QStringList log;
  QByteArray received;
  bool afterClose = false;
  bool deliveredAfterClose = false;

  void Attach(ComPort& port) {
    port.OnBeforeOpen = [this](QObject*) { log << "before-open"; afterClose = false; };
    port.OnAfterOpen = [this](QObject*) { log << "after-open"; };
    port.OnBeforeClose = [this](QObject*) { log << "before-close"; };
    port.OnAfterClose = [this](QObject*) { log << "after-close"; afterClose = true; };
    port.SetReceiver([this](std::string_view data) {
      deliveredAfterClose = deliveredAfterClose || afterClose;
      received.append(data.data(), qsizetype(data.size()));
    });
  }
};

// What the process holds, to show that nothing is left behind.
struct Holdings {
  int fds = OpenDescriptors();
  int threads = Threads();
};

constexpr auto kBlankAddress = "Current Address : ";

// The system call that poll() blocks in: architectures without poll(2) use ppoll(2).
#ifdef SYS_poll
constexpr long kPollSyscall = SYS_poll;
#else
constexpr long kPollSyscall = SYS_ppoll;
#endif

}  // namespace

class tst_Faults : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void deviceVanishes_data();
  void deviceVanishes();
  void floodIntoTheWindow();
  void thousandOpenCloseCycles();
  void badPortNames_data();
  void badPortNames();

 private:
  std::unique_ptr<PtyPair> pty_;
};

void tst_Faults::init() {
  ErrorDisplay::SetApplicationTitle(QStringLiteral("Vortalin"));
  pty_ = std::make_unique<PtyPair>();
  if (!pty_->Ok()) QSKIP("no pseudo-terminal available");
}

void tst_Faults::deviceVanishes_data() {
  QTest::addColumn<QString>("moment");
  QTest::newRow("while open, with a hand-over queued") << "handover";
  QTest::newRow("while a write waits for a full queue") << "write";
  QTest::newRow("while a close is under way") << "close";
  QTest::newRow("while a close carries out a queued hand-over") << "close-handover";
}

// Whenever the device end goes, nothing hangs or spins, no error is made up, the port
// can be closed, and it gives back its descriptor and its thread; a new device works.
void tst_Faults::deviceVanishes() {
  QFETCH(QString, moment);
  pty_.reset();
  const Holdings before;
  Recorder recorder;
  {
    pty_ = std::make_unique<PtyPair>();
    class Port : public ComPort {
     public:
      using ComPort::HandOverQueued;
    } port;
    recorder.Attach(port);
    port.SetPort(pty_->SlavePath());
    port.SetConnected(true);

    if (moment == "handover") {
      pty_->Write("*L005");
      QDeadlineTimer deadline(5000);
      while (!port.HandOverQueued() && !deadline.hasExpired()) std::this_thread::yield();
      QVERIFY(port.HandOverQueued());
      pty_->Vanish();
      QVERIFY(WaitFor([&] { return !port.Receiving(); }));
      QVERIFY(port.Connected());
    } else if (moment == "write") {
      pty_->FillTowardDevice();
      const pid_t self = pid_t(syscall(SYS_gettid));
      std::thread vanisher([&] {
        if (WaitUntilInSyscall(self, kPollSyscall)) pty_->Vanish();
      });
      try {
        port.WriteStr("*L?#");
        vanisher.join();
        QFAIL("a write into a full queue of a vanished device succeeded");
      } catch (const EComPort& e) {
        vanisher.join();
        QCOMPARE(e.Code(), int(CE_WriteFailed));
        // The write ends because the device went, not by running out of time.
        QVERIFY2(e.WinCode() != ETIMEDOUT, e.what());
      }
      QVERIFY(port.Connected());
      QVERIFY(WaitFor([&] { return !port.Receiving(); }));
    } else {
      if (moment == "close-handover") {
        pty_->Write("*L00501.00#");
        QDeadlineTimer deadline(5000);
        while (!port.HandOverQueued() && !deadline.hasExpired()) std::this_thread::yield();
        QVERIFY(port.HandOverQueued());
      }
      port.OnBeforeClose = [&](QObject*) { recorder.log << "before-close"; pty_->Vanish(); };
      port.SetConnected(false);
      port.OnBeforeClose = nullptr;
      QCOMPARE(recorder.log.mid(recorder.log.indexOf("before-close")),
               QStringList({"before-close", "after-close"}));
      QVERIFY(!recorder.deliveredAfterClose);
    }
    port.SetConnected(false);
    QVERIFY(!port.Connected());
    QVERIFY(!recorder.deliveredAfterClose);

    PtyPair fresh;
    port.SetPort(fresh.SlavePath());
    port.SetConnected(true);
    recorder.received.clear();
    fresh.Write("*L00601.00#");
    QVERIFY(WaitFor([&] { return recorder.received == "*L00601.00#"; }));
    QCOMPARE(port.WriteStr("*L?#"), 4);
    QCOMPARE(fresh.ReadFor(4), std::string("*L?#"));
    pty_.reset();
  }
  QCOMPARE(OpenDescriptors(), before.fds);
  QVERIFY2(WaitFor([&] { return Threads() == before.threads; }),
           qPrintable(QStringLiteral("%1 threads, %2 before").arg(Threads()).arg(before.threads)));
}

// 1 MiB of random bytes into the real window: memory stays put, the window goes on
// polling and answering clicks, and a valid reply after the flood is shown.
void tst_Faults::floodIntoTheWindow() {
  constexpr std::size_t kFlood = 1 << 20;
  TForm1 form;
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  form.ComPort1->SetPort(pty_->SlavePath());
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  QCOMPARE(form.Button2->text(), QStringLiteral("Disconnect"));
  // A first reply warms every path up, so what grows later is the flood's doing.
  pty_->Write("*L00101.00#");
  QVERIFY(WaitFor([&] { return form.Label1->text() == QLatin1String("Current Address : 001"); }));
  std::string noise(kFlood, '\0');
  std::mt19937 random(20240611);
  for (auto& byte : noise) byte = char(random() & 0xff);
  const long rssBefore = StatusKb("VmRSS");
  QElapsedTimer clock;
  clock.start();
  std::atomic<bool> written{false};
  std::thread device([&] {
    pty_->Write(noise);
    written = true;
  });
  long rssPeak = rssBefore;
  int queriesDuringFlood = 0;
  std::string fromTool;
  const bool flooded = WaitFor(
      [&] {
        rssPeak = std::max(rssPeak, StatusKb("VmRSS"));
        if (!written) {
          fromTool += pty_->ReadAvailable();
          queriesDuringFlood = int(fromTool.size() / 4);
        }
        return written.load();
      },
      60000);
  device.join();
  QVERIFY(flooded);
  // The device goes on answering polls; one of its replies may be swallowed by a reply
  // the noise had begun, the next one is read as sent.
  pty_->Write("*L09901.23#*L09901.23#");
  QVERIFY(WaitFor([&] { return form.Label1->text() == QLatin1String("Current Address : 099"); }));
  QCOMPARE(form.Label3->text(), QStringLiteral("Revision : 01.23"));
  QVERIFY(form.ComDataPacket1->Pending().size() < ComDataPacket::MaxBufferSize);
  QVERIFY(form.ComPort1->Receiving());
  qInfo("flood: %lld ms; RSS %ld kB before, %ld kB at most; %d queries sent meanwhile",
        clock.elapsed(), rssBefore, rssPeak, queriesDuringFlood);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Sanitizers hold freed memory back on purpose, so only a plain build can say this.
  QVERIFY2(rssPeak - rssBefore < 512,
           qPrintable(QStringLiteral("RSS grew by %1 kB").arg(rssPeak - rssBefore)));
#endif
  pty_->ReadAvailable();
  QVERIFY(WaitFor([&] { return pty_->ReadAvailable() == "*L?#"; }, 3000));
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  QCOMPARE(form.Button2->text(), QStringLiteral("Connect"));
}

// Each cycle opens, receives a tagged block that must arrive whole, answers with a
// query, gets a second tagged block just before closing (of which only a leading part
// may arrive: the rest is discarded with the receive queue), and closes. Every byte
// delivered belongs to its own cycle, in order, once; nothing is left behind.
void tst_Faults::thousandOpenCloseCycles() {
  constexpr int kCycles = 1000;
  Recorder recorder;
  ComPort port;
  recorder.Attach(port);
  port.SetPort(pty_->SlavePath());
  port.SetConnected(true);  // a first cycle brings every lazy resource into being
  port.SetConnected(false);
  const Holdings before;

  for (int cycle = 0; cycle < kCycles; ++cycle) {
    const QByteArray tag = QByteArray::number(cycle).rightJustified(4, '0');
    const QByteArray whole = "*L" + tag + "A.00#";
    const QByteArray maybe = "*L" + tag + "B.00#";
    recorder.received.clear();
    port.SetConnected(true);
    pty_->Write({whole.constData(), size_t(whole.size())});
    if (!WaitFor([&] { return recorder.received.size() >= whole.size(); }))
      QFAIL(qPrintable("cycle " + tag + ": the block did not arrive"));
    QCOMPARE(port.WriteStr("*L?#"), 4);
    QCOMPARE(pty_->ReadFor(4), std::string("*L?#"));
    pty_->Write({maybe.constData(), size_t(maybe.size())});
    port.SetConnected(false);
    QVERIFY(!recorder.deliveredAfterClose);
    const QByteArray tail = recorder.received.mid(whole.size());
    if (!recorder.received.startsWith(whole) || !maybe.startsWith(tail))
      QFAIL(qPrintable("cycle " + tag + " received " + recorder.received));
  }
  QCOMPARE(OpenDescriptors(), before.fds);
  QVERIFY2(WaitFor([&] { return Threads() == before.threads; }),
           qPrintable(QStringLiteral("%1 threads, %2 before").arg(Threads()).arg(before.threads)));
}

void tst_Faults::badPortNames_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<int>("error");
  QTest::newRow("regular file") << "@dir/plain" << ENOTTY;
  QTest::newRow("directory") << "@dir" << EISDIR;
  QTest::newRow("/dev/null") << "/dev/null" << ENOTTY;
  QTest::newRow("named pipe") << "@dir/fifo" << ENOTTY;
  QTest::newRow("socket") << "@dir/socket" << ENXIO;
  QTest::newRow("symlink loop") << "@dir/loop" << ELOOP;
  QTest::newRow("missing") << "/dev/ttyVORTALIN9" << ENOENT;
  QTest::newRow("a pty path used as a folder") << "@pty/0" << ENOTDIR;
  QTest::newRow("too long") << "/dev/" + QString(PATH_MAX, QLatin1Char('t')) << ENAMETOOLONG;
  QTest::newRow("newline in the name") << "/dev/ttyS0\n" << ENOENT;
  QTest::newRow("UTF-8 name") << QStringLiteral("/dev/tty\u00fc\u20ac") << ENOENT;
  QTest::newRow("spaces") << " /dev/ttyS0 " << ENOENT;
  QTest::newRow("control and high bytes") << QStringLiteral("@dir/\u0001\u007f\u00ff") << ENOENT;
}

// Through the real window: the one open error with its number, and nothing else: no
// second box, no write into what was named, no descriptor or thread kept.
void tst_Faults::badPortNames() {
  QFETCH(QString, name);
  QFETCH(int, error);
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QByteArray folder = QFile::encodeName(dir.path());
  QVERIFY(QFile(dir.filePath("plain")).open(QIODevice::WriteOnly));
  QCOMPARE(mkfifo(folder + "/fifo", 0600), 0);
  QCOMPARE(symlink(folder + "/loop", folder + "/loop"), 0);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  qstrncpy(address.sun_path, folder + "/socket", sizeof address.sun_path);
  QCOMPARE(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  name.replace(QLatin1String("@dir"), dir.path());
  name.replace(QLatin1String("@pty"), QString::fromStdString(pty_->SlavePath()));

  TForm1 form;
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  const Holdings before;
  ModalWatcher watcher;
  form.ComPort1->SetPort(QFile::encodeName(name).toStdString());
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  QCOMPARE(watcher.seen.size(), 1);
  QCOMPARE(watcher.seen[0].text, QStringLiteral("Unable to open com port (win error code: %1)").arg(error));
  QVERIFY(!form.ComPort1->Connected());
  QCOMPARE(form.Button2->text(), QStringLiteral("Connect"));
  QCOMPARE(form.Label1->text(), QLatin1String(kBlankAddress));
  // A poll tick while closed sends nothing and raises nothing.
  form.Timer1Timer(form.Timer1.get());
  QCoreApplication::processEvents();
  QCOMPARE(watcher.seen.size(), 1);
  QCOMPARE(QFileInfo(dir.filePath("plain")).size(), 0);
  QCOMPARE(pty_->ReadAvailable(), std::string());
  QCOMPARE(OpenDescriptors(), before.fds);
  QCOMPARE(Threads(), before.threads);
  ::close(listener);
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
