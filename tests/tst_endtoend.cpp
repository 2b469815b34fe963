// The whole tool against the simulated device: the real vortalin-sim process on a real
// pseudo-terminal, and the real window, in this process under the offscreen platform or
// as the built program on a private X server.
#include "comport.h"
#include "mainwindow.h"
#include "modalwatcher.h"
#include "spinedit.h"

#include <QtTest>

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <optional>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kReplyTimeoutMs = 8000;
const QString kSimPath = QStringLiteral(VORTALIN_SIM_PATH);
const QString kToolPath = QStringLiteral(VORTALIN_PATH);

// One simulated device process. Its stdout carries the port's path once; its stderr the
// log of received commands, gathered here as it comes.
class Sim {
 public:
  ~Sim() { Stop(); }

  // Starts the device and waits until it has published its port; returns the path.
  QString Start(const QStringList& args) {
    process_.start(kSimPath, args);
    if (!process_.waitForStarted(5000)) return {};
    QDeadlineTimer deadline(5000);
    while (!process_.canReadLine() && process_.state() == QProcess::Running &&
           !deadline.hasExpired())
      process_.waitForReadyRead(50);
    return QString::fromLocal8Bit(process_.readLine()).trimmed();
  }

  QString Log() {
    log_ += QString::fromLatin1(process_.readAllStandardError());
    return log_;
  }
  int Count(const QString& text) { return Log().count(text); }

  void Kill() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  void Stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) Kill();
  }
  QProcess& Process() { return process_; }

 private:
  QProcess process_;
  QString log_;
};

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool IsLink(const QString& path) { return QFileInfo(path).isSymLink(); }

}  // namespace

class tst_EndToEnd : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void readingArrives_data();
  void readingArrives();
  void transmitSetsTheNewAddress();
  void muteLeavesLabelsBlankWithoutError();
  void killedDeviceLeavesWindowIdle();
  void badArguments_data();
  void badArguments();
  void linkRemovedOnStop_data();
  void linkRemovedOnStop();
  void existingLink_data();
  void existingLink();
  void unwritableDevFolderPointsToLinkOption();
  void builtProgramOnXServer();

 private:
  QString StartSim(const QStringList& extra = {});
  void ConnectWindow();

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<Sim> sim_;
  std::unique_ptr<TForm1> form_;
  QString link_;
};

void tst_EndToEnd::init() {
  dir_ = std::make_unique<QTemporaryDir>();
  QVERIFY(dir_->isValid());
  link_ = dir_->filePath(QStringLiteral("ttyVRT0"));
  sim_ = std::make_unique<Sim>();
}

void tst_EndToEnd::cleanup() {
  form_.reset();
  sim_.reset();
  dir_.reset();
}

QString tst_EndToEnd::StartSim(const QStringList& extra) {
  return sim_->Start(QStringList{QStringLiteral("--link"), link_} + extra);
}

// The window as an operator meets it, pointed at the simulated port, then "Connect".
void tst_EndToEnd::ConnectWindow() {
  form_ = std::make_unique<TForm1>();
  form_->show();
  QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  form_->ComPort1->SetPort(link_.toStdString());
  QTest::mouseClick(form_->Button2, Qt::LeftButton);
  QVERIFY(form_->ComPort1->Connected());
  QCOMPARE(form_->Button2->text(), QStringLiteral("Disconnect"));
}

void tst_EndToEnd::readingArrives_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QString>("address");
  QTest::addColumn<QString>("revision");

  QTest::newRow("plain replies") << QStringList() << "Current Address : 005" << "Revision : 01.00";
  QTest::newRow("replies in small pieces")
      << QStringList{"--chunks"} << "Current Address : 005" << "Revision : 01.00";
  QTest::newRow("noise between replies")
      << QStringList{"--noise"} << "Current Address : 005" << "Revision : 01.00";
  QTest::newRow("pieces and noise")
      << QStringList{"--chunks", "--noise"} << "Current Address : 005" << "Revision : 01.00";
  QTest::newRow("late replies")
      << QStringList{"--delay", "700"} << "Current Address : 005" << "Revision : 01.00";
  QTest::newRow("other address and revision")
      << QStringList{"--address", "126", "--revision", "02.13"} << "Current Address : 126"
      << "Revision : 02.13";
}

void tst_EndToEnd::readingArrives() {
  QFETCH(QStringList, args);
  QFETCH(QString, address);
  QFETCH(QString, revision);
  QCOMPARE(StartSim(args), link_);
  ModalWatcher boxes;
  ConnectWindow();

  QTRY_COMPARE_WITH_TIMEOUT(form_->Label1->text(), address, kReplyTimeoutMs);
  QTRY_COMPARE_WITH_TIMEOUT(form_->Label3->text(), revision, kReplyTimeoutMs);
  QVERIFY(sim_->Log().contains(QLatin1String("received *L?# answered")));
  QCOMPARE(boxes.seen.size(), 0);
}

void tst_EndToEnd::transmitSetsTheNewAddress() {
  QCOMPARE(StartSim(), link_);
  ModalWatcher boxes;
  ConnectWindow();
  QTRY_COMPARE_WITH_TIMEOUT(form_->Label1->text(), QStringLiteral("Current Address : 005"),
                            kReplyTimeoutMs);

  form_->SpinEdit1->SetText(QStringLiteral("7"));
  QTest::mouseClick(form_->Button1, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(
      sim_->Log().contains(QLatin1String("received *L007# answered *L00701.00#")), kReplyTimeoutMs);
  QTRY_COMPARE_WITH_TIMEOUT(form_->Label1->text(), QStringLiteral("Current Address : 007"),
                            kReplyTimeoutMs);
  QCOMPARE(form_->Label3->text(), QStringLiteral("Revision : 01.00"));

  // The device keeps the new address: the polls after it read 007 as well.
  const QString newReading = QStringLiteral("received *L?# answered *L00701.00#");
  const int polls = sim_->Count(newReading);
  QTRY_VERIFY_WITH_TIMEOUT(sim_->Count(newReading) > polls, kReplyTimeoutMs);
  QCOMPARE(form_->Label1->text(), QStringLiteral("Current Address : 007"));
  QCOMPARE(boxes.seen.size(), 0);
}

void tst_EndToEnd::muteLeavesLabelsBlankWithoutError() {
  QCOMPARE(StartSim({QStringLiteral("--mute")}), link_);
  ModalWatcher boxes;
  ConnectWindow();

  // Two polls have reached the device and gone unanswered.
  QTRY_VERIFY_WITH_TIMEOUT(sim_->Count(QStringLiteral("received *L?# not answered")) >= 2,
                           kReplyTimeoutMs);
  QCOMPARE(form_->Label1->text(), QStringLiteral("Current Address : "));
  QCOMPARE(form_->Label3->text(), QStringLiteral("Revision : "));
  QCOMPARE(form_->Button2->text(), QStringLiteral("Disconnect"));
  QCOMPARE(boxes.seen.size(), 0);
}

void tst_EndToEnd::killedDeviceLeavesWindowIdle() {
  QCOMPARE(StartSim(), link_);
  ModalWatcher boxes;
  ConnectWindow();
  QTRY_COMPARE_WITH_TIMEOUT(form_->Label1->text(), QStringLiteral("Current Address : 005"),
                            kReplyTimeoutMs);

  sim_->Kill();
  QTRY_VERIFY_WITH_TIMEOUT(!form_->ComPort1->Receiving(), kReplyTimeoutMs);

  // Nothing spins on the dead line: over two poll periods the process stays mostly idle.
  QSignalSpy ticks(form_->Timer1.get(), &QTimer::timeout);
  QElapsedTimer wall;
  wall.start();
  const double cpuBefore = ProcessCpuSeconds();
  QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 2, 5000);
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
  QVERIFY2(cpu < 0.5 * elapsed,
           qPrintable(QStringLiteral("%1 s of CPU in %2 s").arg(cpu).arg(elapsed)));

  // The poll that found the line dead may have shown an error; then Disconnect works.
  QTRY_VERIFY(!QApplication::activeModalWidget());
  QCOMPARE(form_->Button2->text(), QStringLiteral("Disconnect"));
  QTest::mouseClick(form_->Button2, Qt::LeftButton);
  QVERIFY(!form_->ComPort1->Connected());
  QCOMPARE(form_->Button2->text(), QStringLiteral("Connect"));
  QCOMPARE(form_->Label1->text(), QStringLiteral("Current Address : 005"));

  // Disconnected, the window sends nothing more, so no further error appears.
  const auto shown = boxes.seen.size();
  ticks.clear();
  QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 1, 5000);
  QCOMPARE(boxes.seen.size(), shown);
}

void tst_EndToEnd::badArguments_data() {
  QTest::addColumn<QStringList>("args");
  QTest::newRow("unknown option") << QStringList{"--speed", "9600"};
  QTest::newRow("address out of range") << QStringList{"--address", "127"};
  QTest::newRow("revision too short") << QStringList{"--revision", "1.0"};
  QTest::newRow("missing value") << QStringList{"--delay"};
}

// Bad input: one line on stderr, nothing published, exit code 2.
void tst_EndToEnd::badArguments() {
  QFETCH(QStringList, args);
  QProcess sim;
  sim.start(kSimPath, args + QStringList{QStringLiteral("--link"), link_});
  QVERIFY(sim.waitForFinished(5000));
  QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
  QCOMPARE(sim.exitCode(), 2);
  const QByteArray error = sim.readAllStandardError();
  QVERIFY2(error.startsWith("vortalin-sim: ") && error.count('\n') == 1, error.constData());
  QCOMPARE(sim.readAllStandardOutput(), QByteArray());
  QVERIFY(!IsLink(link_));
}

void tst_EndToEnd::linkRemovedOnStop_data() {
  QTest::addColumn<int>("signal");
  QTest::newRow("SIGINT") << int(SIGINT);
  QTest::newRow("SIGTERM") << int(SIGTERM);
  QTest::newRow("SIGHUP") << int(SIGHUP);
}

void tst_EndToEnd::linkRemovedOnStop() {
  QFETCH(int, signal);
  QCOMPARE(StartSim(), link_);
  QVERIFY(IsLink(link_));
  QVERIFY(QFileInfo(link_).symLinkTarget().startsWith(QLatin1String("/dev/pts/")));

  ::kill(static_cast<pid_t>(sim_->Process().processId()), signal);
  QVERIFY(sim_->Process().waitForFinished(5000));
  QCOMPARE(sim_->Process().exitStatus(), QProcess::NormalExit);
  QCOMPARE(sim_->Process().exitCode(), 0);
  QVERIFY(!IsLink(link_));
}

void tst_EndToEnd::existingLink_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<bool>("published");
  QTest::newRow("link left by a killed device is replaced") << "stale" << true;
  QTest::newRow("link to a live terminal is kept") << "live" << false;
  QTest::newRow("a file is kept") << "file" << false;
}

void tst_EndToEnd::existingLink() {
  QFETCH(QString, kind);
  QFETCH(bool, published);
  if (kind == QLatin1String("stale"))
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/999999"), link_));
  else if (kind == QLatin1String("live"))
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), link_));
  else
    QVERIFY(QFile(link_).open(QIODevice::WriteOnly));
  const QString before = QFileInfo(link_).symLinkTarget();

  const QString path = StartSim();
  if (published) {
    QCOMPARE(path, link_);
    QVERIFY(QFileInfo(link_).symLinkTarget().startsWith(QLatin1String("/dev/pts/")));
    return;
  }
  QVERIFY(sim_->Process().state() == QProcess::NotRunning || sim_->Process().waitForFinished(5000));
  QCOMPARE(sim_->Process().exitCode(), 1);
  QVERIFY2(sim_->Log().contains(QLatin1String("--link PATH")), qPrintable(sim_->Log()));
  QCOMPARE(QFileInfo(link_).symLinkTarget(), before);
}

// A user who may not write /dev is told so in one line and pointed to --link.
void tst_EndToEnd::unwritableDevFolderPointsToLinkOption() {
  QStringList command{kSimPath, QStringLiteral("--link"), QStringLiteral("/dev/ttyVRTunwritable")};
  if (geteuid() == 0) {
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) QSKIP("running as root and setpriv is missing to run as another user");
    command = QStringList{setpriv, QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                          QStringLiteral("--clear-groups")} + command;
  } else if (access("/dev", W_OK) == 0) {
    QSKIP("this user may write /dev");
  }
  QProcess sim;
  sim.start(command.takeFirst(), command);
  QVERIFY(sim.waitForFinished(5000));
  const QByteArray error = sim.readAllStandardError();
  if (error.startsWith("setpriv:"))
    QSKIP(qPrintable("cannot run the simulator as another user: " + QString::fromLocal8Bit(error)));
  QCOMPARE(sim.exitCode(), 1);
  QVERIFY2(error.contains("cannot create /dev/ttyVRTunwritable: Permission denied") &&
               error.contains("--link PATH") && error.count('\n') == 1,
           error.constData());
  QVERIFY(!IsLink(QStringLiteral("/dev/ttyVRTunwritable")));
}

// A private X server for the built program: Xvfb picks a free display and names it.
class XServer {
 public:
  ~XServer() {
    server_.terminate();
    if (!server_.waitForFinished(5000)) server_.kill();
  }
  QString Start(const QString& xvfb) {
    server_.start(xvfb, QProcess::splitCommand(
                            QStringLiteral("-displayfd 1 -screen 0 640x480x24 -nolisten tcp")));
    QDeadlineTimer deadline(10000);
    while (!server_.canReadLine() && server_.state() != QProcess::NotRunning &&
           !deadline.hasExpired())
      server_.waitForReadyRead(50);
    const QString number = QString::fromLatin1(server_.readLine()).trimmed();
    return number.isEmpty() ? QString() : QLatin1Char(':') + number;
  }

 private:
  QProcess server_;
};

// One xdotool command on the given display; its output, or nothing after a failure.
std::optional<QString> Xdotool(const QString& display, const QString& command) {
  QProcess xdotool;
  auto environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DISPLAY"), display);
  xdotool.setProcessEnvironment(environment);
  xdotool.start(QStringLiteral("xdotool"), QProcess::splitCommand(command));
  if (!xdotool.waitForFinished(5000) || xdotool.exitCode() != 0) return std::nullopt;
  return QString::fromLatin1(xdotool.readAllStandardOutput()).trimmed();
}

// The built program as an operator starts it: the port chooser lists the simulated port
// published under /dev, the operator picks it by typing its name into the opened list
// and presses "Connect", and the device sees the polls arrive.
void tst_EndToEnd::builtProgramOnXServer() {
  const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
  if (xvfb.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
    QSKIP("Xvfb and xdotool are needed to drive the built program");
  if (access("/dev", W_OK) != 0)
    QSKIP("the port chooser lists ports under /dev only, and this user may not publish one there");
  link_ = QStringLiteral("/dev/ttyVRTe%1").arg(getpid());
  QCOMPARE(StartSim(), link_);

  XServer server;
  const QString display = server.Start(xvfb);
  QVERIFY2(!display.isEmpty(), "Xvfb did not name a display");
  QProcess tool;
  auto environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DISPLAY"), display);
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  tool.setProcessEnvironment(environment);
  tool.start(kToolPath, {});
  QVERIFY(tool.waitForStarted(5000));
  const auto stopTool = qScopeGuard([&tool] {
    tool.terminate();
    if (!tool.waitForFinished(5000)) tool.kill();
  });

  QString window;
  QDeadlineTimer shown(15000);
  while (window.isEmpty() && !shown.hasExpired() && tool.state() == QProcess::Running)
    window = Xdotool(display, QStringLiteral("search --onlyvisible --name \"^VORTALIN v01.00$\""))
                 .value_or(QString())
                 .section(QLatin1Char('\n'), 0, 0);
  QVERIFY2(!window.isEmpty(), tool.readAllStandardError().constData());

  // The chooser (16,18 97x21) opens its list on a click; typing the name selects the
  // entry and Return picks it. Then "Connect" (120,16 75x25) is clicked.
  const auto click = [&](int x, int y) {
    const auto command = QStringLiteral("mousemove --sync --window %1 %2 %3 click 1");
    return Xdotool(display, command.arg(window).arg(x).arg(y)).has_value();
  };
  QVERIFY(click(64, 28));
  QVERIFY(Xdotool(display, QStringLiteral("type --delay 30 ") + link_));
  QVERIFY(Xdotool(display, QStringLiteral("key Return")));
  QVERIFY(click(157, 28));

  QTRY_VERIFY2_WITH_TIMEOUT(
      sim_->Log().contains(QLatin1String("received *L?# answered *L00501.00#")),
      qPrintable(sim_->Log()), 10000);
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
