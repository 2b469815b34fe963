// vortalin-cli as a script meets it: the built program in a QProcess, talking to the real
// simulated device on a real pseudo-terminal published under a temporary folder.
#include "comport.h"
#include "portlist.h"

#include <QtTest>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

namespace {

const QString kCliPath = QStringLiteral(VORTALIN_CLI_PATH);
const QString kSimPath = QStringLiteral(VORTALIN_SIM_PATH);
// Stands for the simulated device's port in the rows' arguments and expected texts.
const QString kPort = QStringLiteral("PORT");
const QString kUsage = QStringLiteral("usage: vortalin-cli ");

// Where the program is pointed in a row. Missing and NotATerminal never start a device.
enum class Port { Sim, MuteSim, Missing, NotATerminal, HeldByAnother };

// One simulated device process: its stdout carries the port's path once it is ready, its
// stderr the log of every command it received.
class Sim {
 public:
  ~Sim() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (process_.waitForFinished(5000)) return;
    process_.kill();
    process_.waitForFinished(5000);
  }

  bool Start(const QStringList& args) {
    process_.start(kSimPath, args);
    if (!process_.waitForStarted(5000)) return false;
    QDeadlineTimer deadline(5000);
    while (!process_.canReadLine() && process_.state() == QProcess::Running && !deadline.hasExpired())
      process_.waitForReadyRead(50);
    return process_.canReadLine();
  }

  int Count(const QString& text) {
    process_.waitForReadyRead(20);
    log_ += QString::fromLatin1(process_.readAllStandardError());
    return log_.count(text);
  }

 private:
  QProcess process_;
  QString log_;
};

struct CliRun {
  int exitCode = -1;
  QString out;
  QString err;
  qint64 elapsedMs = 0;
};

CliRun RunCli(const QStringList& args) {
  QProcess cli;
  QElapsedTimer clock;
  clock.start();
  cli.start(kCliPath, args);
  CliRun run;
  if (!cli.waitForFinished(15000) || cli.exitStatus() != QProcess::NormalExit) {
    cli.kill();
    cli.waitForFinished(5000);
    return run;
  }
  run.elapsedMs = clock.elapsed();
  run.exitCode = cli.exitCode();
  run.out = QString::fromLocal8Bit(cli.readAllStandardOutput());
  run.err = QString::fromLocal8Bit(cli.readAllStandardError());
  return run;
}

QStringList WithPort(QStringList args, const QString& port) {
  for (QString& arg : args) arg.replace(kPort, port);
  return args;
}

QString ExpectedList() {
  QString lines;
  for (const auto& name : ComPortNames()) lines += QString::fromStdString(name) + QLatin1Char('\n');
  return lines;
}

}  // namespace

class tst_Cli : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void commands_data();
  void commands();
  void setReachesTheDevice_data();
  void setReachesTheDevice();
  void setKeepsQueryingASilentDevice();
  void badArguments_data();
  void badArguments();
  void help();
  void jsonOutput_data();
  void jsonOutput();

 private:
  QString Prepare(Port port);

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<Sim> sim_;
  std::unique_ptr<ComPort> holder_;
};

void tst_Cli::init() {
  dir_ = std::make_unique<QTemporaryDir>();
  QVERIFY(dir_->isValid());
  sim_ = std::make_unique<Sim>();
}

void tst_Cli::cleanup() {
  holder_.reset();
  sim_.reset();
  dir_.reset();
}

// The path a row's PORT stands for, with whatever is behind it set up.
QString tst_Cli::Prepare(Port port) {
  const QString link = dir_->filePath(QStringLiteral("ttyVRT0"));
  switch (port) {
    case Port::Missing:
      return link;
    case Port::NotATerminal: {
      QFile file(link);
      if (!file.open(QIODevice::WriteOnly)) return {};
      return link;
    }
    case Port::Sim:
    case Port::MuteSim:
    case Port::HeldByAnother:
      break;
  }
  QStringList args{QStringLiteral("--link"), link};
  if (port == Port::MuteSim) args << QStringLiteral("--mute");
  if (!sim_->Start(args)) return {};
  if (port == Port::HeldByAnother) {
    holder_ = std::make_unique<ComPort>();
    holder_->SetPort(link.toStdString());
    holder_->Open();
  }
  return link;
}

void tst_Cli::commands_data() {
  QTest::addColumn<Port>("port");
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("exitCode");
  QTest::addColumn<QString>("out");
  QTest::addColumn<QString>("err");  // a pattern
  QTest::addColumn<int>("minElapsedMs");

  const QStringList read{QStringLiteral("read"), kPort};
  QTest::newRow("read") << Port::Sim << read << 0 << "address 005 revision 01.00\n" << "^$" << 0;
  QTest::newRow("read, options after the command")
      << Port::Sim << QStringList{QStringLiteral("read"), QStringLiteral("--"), kPort} << 0
      << "address 005 revision 01.00\n" << "^$" << 0;
  QTest::newRow("read a mute device waits 2 s, then no reply")
      << Port::MuteSim << read << 1 << "" << "^vortalin-cli: no reply from PORT\n$" << 2000;
  QTest::newRow("read a port that does not exist")
      << Port::Missing << read << 1 << ""
      << R"(^vortalin-cli: PORT: Unable to open com port \(win error code: 2\)\n$)" << 0;
  QTest::newRow("read a file that is no terminal")
      << Port::NotATerminal << read << 1 << ""
      << R"(^vortalin-cli: PORT: Unable to open com port \(win error code: 25\)\n$)" << 0;
  QTest::newRow("read a port another program holds")
      << Port::HeldByAnother << read << 1 << ""
      << R"(^vortalin-cli: PORT: Unable to open com port \(win error code: \d+\)\n$)" << 0;
  QTest::newRow("set a port that does not exist")
      << Port::Missing << QStringList{QStringLiteral("set"), kPort, QStringLiteral("7")} << 1 << ""
      << R"(^vortalin-cli: PORT: Unable to open com port \(win error code: 2\)\n$)" << 0;
  QTest::newRow("set a mute device waits 5 s, then no reply")
      << Port::MuteSim << QStringList{QStringLiteral("set"), kPort, QStringLiteral("7")} << 1 << ""
      << "^vortalin-cli: no reply from PORT\n$" << 5000;
  QTest::newRow("list") << Port::Missing << QStringList{QStringLiteral("list")} << 0 << ExpectedList()
                        << "^$" << 0;
}

void tst_Cli::commands() {
  QFETCH(Port, port);
  QFETCH(QStringList, args);
  QFETCH(int, exitCode);
  QFETCH(QString, out);
  QFETCH(QString, err);
  QFETCH(int, minElapsedMs);

  const QString path = Prepare(port);
  QVERIFY2(!path.isEmpty(), "the port could not be set up");
  const CliRun run = RunCli(WithPort(args, path));
  QCOMPARE(run.exitCode, exitCode);
  QCOMPARE(run.out, out);
  const QRegularExpression errPattern(err.replace(kPort, QRegularExpression::escape(path)));
  QVERIFY2(errPattern.match(run.err).hasMatch(), qPrintable(run.err));
  QVERIFY2(run.elapsedMs >= minElapsedMs, qPrintable(QString::number(run.elapsedMs)));
}

void tst_Cli::setReachesTheDevice_data() {
  QTest::addColumn<QString>("address");
  QTest::addColumn<QString>("reads");

  QTest::newRow("lowest address") << "1" << "001";
  QTest::newRow("two digits") << "42" << "042";
  QTest::newRow("highest address") << "126" << "126";
  QTest::newRow("leading zeros") << "007" << "007";
  QTest::newRow("the address it already has") << "5" << "005";
}

// Success is the device's own word: a later, separate read sees the new address.
void tst_Cli::setReachesTheDevice() {
  QFETCH(QString, address);
  QFETCH(QString, reads);

  const QString path = Prepare(Port::Sim);
  QVERIFY(!path.isEmpty());
  const CliRun set = RunCli({QStringLiteral("set"), path, address});
  QCOMPARE(set.exitCode, 0);
  QCOMPARE(set.out, QStringLiteral("address %1 revision 01.00\n").arg(reads));
  QCOMPARE(set.err, QString());
  QCOMPARE(sim_->Count(QStringLiteral("received *L%1#").arg(reads)), 1);

  const CliRun read = RunCli({QStringLiteral("read"), path});
  QCOMPARE(read.exitCode, 0);
  QCOMPARE(read.out, QStringLiteral("address %1 revision 01.00\n").arg(reads));
}

// A device that does not answer is asked again once a second for the whole 5 s.
void tst_Cli::setKeepsQueryingASilentDevice() {
  const QString path = Prepare(Port::MuteSim);
  QVERIFY(!path.isEmpty());
  const CliRun set = RunCli({QStringLiteral("set"), path, QStringLiteral("9")});
  QCOMPARE(set.exitCode, 1);
  QTRY_COMPARE(sim_->Count(QStringLiteral("received *L009#")), 1);
  QTRY_VERIFY(sim_->Count(QStringLiteral("received *L?#")) >= 4);
  QVERIFY(sim_->Count(QStringLiteral("received *L?#")) <= 5);
}

void tst_Cli::badArguments_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QString>("complaint");

  QTest::newRow("nothing") << QStringList() << "no command given";
  QTest::newRow("unknown command") << QStringList{"write", "/dev/ttyS0"} << "unknown command 'write'";
  QTest::newRow("unknown option") << QStringList{"--verbose", "list"} << "unknown option '--verbose'";
  QTest::newRow("read without a port") << QStringList{"read"} << "read takes PORT";
  QTest::newRow("read with two ports") << QStringList{"read", "/dev/a", "/dev/b"} << "read takes only PORT";
  QTest::newRow("read an empty port") << QStringList{"read", ""} << "PORT must not be empty";
  QTest::newRow("list with a port") << QStringList{"list", "/dev/a"} << "list takes no arguments";
  QTest::newRow("set without an address") << QStringList{"set", "/dev/a"} << "set takes PORT N";
  QTest::newRow("set address 0") << QStringList{"set", "/dev/a", "0"}
                                 << "N is a whole number from 1 to 126, not '0'";
  QTest::newRow("set address 127") << QStringList{"set", "/dev/a", "127"}
                                   << "N is a whole number from 1 to 126, not '127'";
  QTest::newRow("set a negative address") << QStringList{"set", "/dev/a", "--", "-5"}
                                          << "N is a whole number from 1 to 126, not '-5'";
  QTest::newRow("set a signed address") << QStringList{"set", "/dev/a", "+5"}
                                        << "N is a whole number from 1 to 126, not '+5'";
  QTest::newRow("set a word") << QStringList{"set", "/dev/a", "five"}
                              << "N is a whole number from 1 to 126, not 'five'";
  QTest::newRow("set with --json") << QStringList{"--json", "set", "/dev/a", "5"}
                                   << "--json does not go with set";
}

// Nothing is opened for bad arguments: the ports named here need not exist.
void tst_Cli::badArguments() {
  QFETCH(QStringList, args);
  QFETCH(QString, complaint);

  const CliRun run = RunCli(args);
  QCOMPARE(run.exitCode, 2);
  QCOMPARE(run.out, QString());
  const QStringList lines = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  QCOMPARE(lines.size(), 2);
  QCOMPARE(lines[0], QStringLiteral("vortalin-cli: ") + complaint);
  QVERIFY2(lines[1].startsWith(kUsage), qPrintable(lines[1]));
}

void tst_Cli::help() {
  const QList<QStringList> asks{{"--help"}, {"read", "-h"}, {"--bad", "--help"}};
  for (const QStringList& args : asks) {
    const CliRun run = RunCli(args);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    QVERIFY2(run.out.startsWith(kUsage), qPrintable(run.out));
    for (const char* word : {"list", "read PORT", "set PORT N", "--json", "Exit codes"})
      QVERIFY2(run.out.contains(QLatin1String(word)), word);
  }
}

void tst_Cli::jsonOutput_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<bool>("needsDevice");

  QTest::newRow("read") << QStringList{"--json", "read", kPort} << true;
  QTest::newRow("read, --json last") << QStringList{"read", kPort, "--json"} << true;
  QTest::newRow("list") << QStringList{"list", "--json"} << false;
}

void tst_Cli::jsonOutput() {
  QFETCH(QStringList, args);
  QFETCH(bool, needsDevice);

  const QString path = needsDevice ? Prepare(Port::Sim) : QString();
  QVERIFY(!needsDevice || !path.isEmpty());
  const CliRun run = RunCli(WithPort(args, path));
  QCOMPARE(run.exitCode, 0);
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8(), &error);
  QCOMPARE(error.error, QJsonParseError::NoError);
  if (needsDevice) {
    QVERIFY(document.isObject());
    const QJsonObject expected{{"port", path}, {"address", "005"}, {"revision", "01.00"}};
    QCOMPARE(document.object(), expected);
  } else {
    QVERIFY(document.isArray());
    QJsonArray expected;
    for (const auto& name : ComPortNames()) expected.append(QString::fromStdString(name));
    QCOMPARE(document.array(), expected);
  }
}

QTEST_GUILESS_MAIN(tst_Cli)
#include "tst_cli.moc"
