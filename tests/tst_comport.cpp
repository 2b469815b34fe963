// The serial line over real pseudo-terminals: the master side plays the device.
#include "comerror.h"
#include "comport.h"
#include "ptypair.h"

#include <QtTest>

#include <QTemporaryDir>

#include <chrono>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

// Exposes the hand-over state, so a test can close while a hand-over is queued.
class TestPort : public ComPort {
 public:
  using ComPort::HandOverQueued;
};

// Waits for a condition without running the event loop (which would carry out the
// hand-over the test wants to keep queued).
template <typename Condition>
bool WaitWithoutEvents(Condition condition, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Records every notification and delivery with the state of Connected at that moment.
struct Recorder {
  QStringList log;
  QByteArray received;

  void Attach(ComPort& port) {
    port.OnBeforeOpen = [&](QObject*) { log << QStringLiteral("before-open %1").arg(port.Connected()); };
    port.OnAfterOpen = [&](QObject*) { log << QStringLiteral("after-open %1").arg(port.Connected()); };
    port.OnBeforeClose = [&](QObject*) { log << QStringLiteral("before-close %1").arg(port.Connected()); };
    port.OnAfterClose = [&](QObject*) { log << QStringLiteral("after-close %1").arg(port.Connected()); };
    port.SetReceiver([&](std::string_view data) {
      log << QStringLiteral("data");
      received.append(data.data(), static_cast<qsizetype>(data.size()));
    });
  }
};

void OpenOn(ComPort& port, const PtyPair& pty) {
  port.SetPort(pty.SlavePath());
  port.SetConnected(true);
}

std::chrono::microseconds ProcessCpuTime() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

}  // namespace

class tst_ComPort : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void lineSettings();
  void writesExactBytes();
  void controlBytesPassBothWays();
  void notificationOrder();
  void openErrors_data();
  void openErrors();
  void portHeldByAnother();
  void changingPort();
  void changingPortToMissingName();
  void closeCarriesOutQueuedHandOver();
  void vanishedDevice();
  void writeBoundedWhenDeviceNeverReads();
  void destroyingOpenPortCloses();

 private:
  std::unique_ptr<PtyPair> pty_;
};

void tst_ComPort::init() {
  pty_ = std::make_unique<PtyPair>();
  if (!pty_->Ok()) QSKIP("no pseudo-terminal available");
}

void tst_ComPort::lineSettings() {
  ComPort port;
  OpenOn(port, *pty_);
  const termios tio = pty_->SlaveSettings();
  QCOMPARE(cfgetispeed(&tio), speed_t(B19200));
  QCOMPARE(cfgetospeed(&tio), speed_t(B19200));
  QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
  QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
  QCOMPARE(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
  QCOMPARE(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP), tcflag_t(0));
  QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
  QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
  QCOMPARE(int(tio.c_cc[VMIN]), 0);
  QCOMPARE(int(tio.c_cc[VTIME]), 0);
}

void tst_ComPort::writesExactBytes() {
  ComPort port;
  OpenOn(port, *pty_);
  QCOMPARE(port.WriteStr("*L?#"), 4);
  QCOMPARE(QByteArray::fromStdString(pty_->ReadFor(4)), QByteArray::fromHex("2a4c3f23"));
  QCOMPARE(QByteArray::fromStdString(pty_->ReadAvailable()), QByteArray());
}

// No byte has a meaning to the line: a received XOFF (DC3) does not hold sending back, and
// NUL, DC1 and DC3 arrive as data in both directions.
void tst_ComPort::controlBytesPassBothWays() {
  Recorder recorder;
  ComPort port;
  recorder.Attach(port);
  OpenOn(port, *pty_);
  const QByteArray control("\x00\x11\x13\r\n\x7f\xff", 7);
  pty_->Write({control.constData(), size_t(control.size())});
  QTRY_COMPARE(recorder.received, control);
  QCOMPARE(port.WriteStr({control.constData(), size_t(control.size())}), int(control.size()));
  QCOMPARE(QByteArray::fromStdString(pty_->ReadFor(control.size())), control);
}

void tst_ComPort::notificationOrder() {
  Recorder recorder;
  ComPort port;
  recorder.Attach(port);
  OpenOn(port, *pty_);
  port.SetConnected(true);
  QVERIFY(port.Connected());
  port.SetConnected(false);
  port.SetConnected(false);
  QVERIFY(!port.Connected());
  QCOMPARE(recorder.log, QStringList({"before-open 0", "after-open 1", "before-close 1", "after-close 0"}));
}

void tst_ComPort::openErrors_data() {
  QTest::addColumn<QString>("path");
  QTest::addColumn<int>("error");
  QTest::newRow("missing path") << "/dev/vortalin-no-such-port" << ENOENT;
  QTest::newRow("regular file") << "FILE" << ENOTTY;
  QTest::newRow("directory") << "/tmp" << EISDIR;
  QTest::newRow("not a tty device") << "/dev/null" << ENOTTY;
  QTest::newRow("empty name") << "" << ENOENT;
  QTest::newRow("name too long") << QString(5000, QLatin1Char('x')) << ENAMETOOLONG;
}

void tst_ComPort::openErrors() {
  QFETCH(QString, path);
  QFETCH(int, error);
  QTemporaryDir dir;
  if (path == QLatin1String("FILE")) {
    path = dir.filePath(QStringLiteral("plain"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
  }
  Recorder recorder;
  ComPort port;
  recorder.Attach(port);
  port.SetPort(path.toStdString());
  try {
    port.SetConnected(true);
    QFAIL("opening succeeded");
  } catch (const EComPort& e) {
    QCOMPARE(e.Code(), int(CE_OpenFailed));
    QCOMPARE(e.WinCode(), error);
    QCOMPARE(QString::fromLocal8Bit(e.what()),
             QStringLiteral("Unable to open com port (win error code: %1)").arg(error));
  }
  QVERIFY(!port.Connected());
  QCOMPARE(recorder.log, QStringList({"before-open 0"}));
}

// The first holder keeps its port and its traffic; the second open fails with the open
// error (EBUSY from TIOCEXCL for a normal user, EWOULDBLOCK from the lock for root).
void tst_ComPort::portHeldByAnother() {
  ComPort first;
  OpenOn(first, *pty_);
  ComPort second;
  second.SetPort(pty_->SlavePath());
  try {
    second.SetConnected(true);
    QFAIL("a held port was opened a second time");
  } catch (const EComPort& e) {
    QCOMPARE(e.Code(), int(CE_OpenFailed));
    QVERIFY2(e.WinCode() == EBUSY || e.WinCode() == EWOULDBLOCK, e.what());
  }
  QVERIFY(!second.Connected());
  QVERIFY(first.Connected());
  QCOMPARE(first.WriteStr("*L?#"), 4);
  QCOMPARE(pty_->ReadFor(4), std::string("*L?#"));
  first.SetConnected(false);
  second.SetConnected(true);
  QVERIFY(second.Connected());
}

void tst_ComPort::changingPort() {
  PtyPair other;
  Recorder recorder;
  ComPort port;
  recorder.Attach(port);
  OpenOn(port, *pty_);
  recorder.log.clear();
  port.SetPort(pty_->SlavePath());
  QCOMPARE(recorder.log, QStringList());
  port.SetPort(other.SlavePath());
  QCOMPARE(recorder.log, QStringList({"before-close 1", "after-close 0", "before-open 0", "after-open 1"}));
  QCOMPARE(port.WriteStr("*L?#"), 4);
  QCOMPARE(other.ReadFor(4), std::string("*L?#"));
  QCOMPARE(pty_->ReadAvailable(), std::string());
  other.Write("*L00501.00#");
  QTRY_COMPARE(recorder.received, QByteArray("*L00501.00#"));
}

void tst_ComPort::changingPortToMissingName() {
  Recorder recorder;
  ComPort port;
  recorder.Attach(port);
  OpenOn(port, *pty_);
  recorder.log.clear();
  QVERIFY_THROWS_EXCEPTION(EComPort, port.SetPort("/dev/vortalin-gone"));
  QCOMPARE(recorder.log, QStringList({"before-close 1", "after-close 0", "before-open 0"}));
  QVERIFY(!port.Connected());
  QCOMPARE(port.Port(), std::string("/dev/vortalin-gone"));
}

// Data handed over before the stop reaches the receiver between the before-close and the
// after-close notification; nothing arrives after it.
void tst_ComPort::closeCarriesOutQueuedHandOver() {
  Recorder recorder;
  TestPort port;
  recorder.Attach(port);
  OpenOn(port, *pty_);
  pty_->Write("*L00501.00#");
  QVERIFY(WaitWithoutEvents([&] { return port.HandOverQueued(); }));
  recorder.log.clear();
  port.SetConnected(false);
  QCOMPARE(recorder.log, QStringList({"before-close 1", "data", "after-close 0"}));
  QCOMPARE(recorder.received, QByteArray("*L00501.00#"));
  QCoreApplication::processEvents();
  QCOMPARE(recorder.log.size(), 3);
}

// A device end that vanishes ends reception without a message; the port stays open
// (Connected true), nothing spins, writes fail plainly, and a close and a new open work.
void tst_ComPort::vanishedDevice() {
  Recorder recorder;
  ComPort port;
  recorder.Attach(port);
  OpenOn(port, *pty_);
  QVERIFY(port.Receiving());
  pty_->Vanish();
  QTRY_VERIFY(!port.Receiving());
  QVERIFY(port.Connected());

  const auto cpuBefore = ProcessCpuTime();
  QTest::qWait(500);
  const auto cpuUsed = ProcessCpuTime() - cpuBefore;
  QVERIFY2(cpuUsed < std::chrono::milliseconds(200),
           qPrintable(QStringLiteral("%1 us of CPU in 500 ms idle").arg(cpuUsed.count())));

  try {
    port.WriteStr("*L?#");
    QFAIL("a write to a vanished device succeeded");
  } catch (const EComPort& e) {
    QCOMPARE(e.Code(), int(CE_WriteFailed));
  }
  port.SetConnected(false);
  QVERIFY(!port.Connected());

  PtyPair fresh;
  OpenOn(port, fresh);
  QVERIFY(port.Receiving());
  fresh.Write("*L");
  QTRY_COMPARE(recorder.received, QByteArray("*L"));
}

// With the device never reading, the kernel's output queue fills up; the next write then
// ends at its limit (1000 ms + 100 ms per byte) with an error instead of a short count.
void tst_ComPort::writeBoundedWhenDeviceNeverReads() {
  ComPort port;
  OpenOn(port, *pty_);
  pty_->FillTowardDevice();
  QElapsedTimer clock;
  clock.start();
  try {
    port.WriteStr("*L?#");
    QFAIL("a write into a full queue reported success");
  } catch (const EComPort& e) {
    QCOMPARE(e.Code(), int(CE_WriteFailed));
    QCOMPARE(e.WinCode(), ETIMEDOUT);
  }
  QVERIFY2(clock.elapsed() >= 1300, qPrintable(QString::number(clock.elapsed())));
  QVERIFY(port.Connected());
}

void tst_ComPort::destroyingOpenPortCloses() {
  Recorder recorder;
  {
    ComPort port;
    recorder.Attach(port);
    OpenOn(port, *pty_);
    recorder.log.clear();
  }
  QCOMPARE(recorder.log, QStringList({"before-close 1", "after-close 0"}));
  ComPort again;
  OpenOn(again, *pty_);
  QVERIFY(again.Connected());
}

QTEST_GUILESS_MAIN(tst_ComPort)
#include "tst_comport.moc"
