// The port list read from built trees: a tty class folder and a device folder in a
// temporary directory, with real pseudo-terminals behind the virtual ports.
#include "comerror.h"
#include "portlist.h"
#include "ptypair.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

class tst_PortList : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void listsTheSerialPorts_data();
  void listsTheSerialPorts();
  void unreadableFolderIsRegistryError_data();
  void unreadableFolderIsRegistryError();

 private:
  QString ClassDir() const { return tree_->filePath("class"); }
  QString DevDir() const { return tree_->filePath("dev"); }
  void AddTty(const QString& entry);
  void AddDevEntry(const QString& entry);
  QString LinkTarget(const QString& target) const;

  std::unique_ptr<QTemporaryDir> tree_;
  std::array<PtyPair, 2> ptys_;
  int ptySlaveFd_ = -1;
};

void tst_PortList::init() {
  for (const auto& pty : ptys_)
    if (!pty.Ok()) QSKIP("no pseudo-terminal available");
  tree_ = std::make_unique<QTemporaryDir>();
  QVERIFY(tree_->isValid());
  QVERIFY(QDir(tree_->path()).mkpath("class"));
  QVERIFY(QDir(tree_->path()).mkpath("dev"));
  QVERIFY(QDir(tree_->path()).mkpath("devices/platform/serial8250"));
  // A descriptor of this process on a pty slave, reached through /proc/self/fd the way
  // /dev/stdin reaches the terminal the tool was started from.
  ptySlaveFd_ = ::open(ptys_[0].SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  QVERIFY(ptySlaveFd_ >= 0);
}

void tst_PortList::cleanup() {
  if (tree_) ::chmod(ClassDir().toLocal8Bit().constData(), 0755);
  if (ptySlaveFd_ >= 0) ::close(ptySlaveFd_);
  ptySlaveFd_ = -1;
  tree_.reset();
}

// "name" is a tty with a device link; "name:nodevice" has none; "name:type=N" also has
// a "type" attribute reading N.
void tst_PortList::AddTty(const QString& entry) {
  const QStringList parts = entry.split(':');
  const QString folder = ClassDir() + '/' + parts[0];
  QVERIFY(QDir().mkpath(folder));
  if (!parts.contains("nodevice"))
    QVERIFY(QFile::link(tree_->filePath("devices/platform/serial8250"), folder + "/device"));
  for (const QString& part : parts) {
    if (!part.startsWith("type=")) continue;
    QFile type(folder + "/type");
    QVERIFY(type.open(QIODevice::WriteOnly));
    type.write(part.mid(5).toLatin1() + '\n');
  }
}

// The link's target in a row: "pty0" and "pty1" are the slaves of the two pairs,
// "ptyfd" this process's descriptor on pty0's slave, "file" a plain file.
QString tst_PortList::LinkTarget(const QString& target) const {
  if (target == "pty0") return QString::fromStdString(ptys_[0].SlavePath());
  if (target == "pty1") return QString::fromStdString(ptys_[1].SlavePath());
  if (target == "ptyfd") return QStringLiteral("/proc/self/fd/%1").arg(ptySlaveFd_);
  if (target == "file") return tree_->filePath("devices/plain-file");
  return target;
}

// "name->target" is a symbolic link (name may hold a subfolder); "name" a plain file.
void tst_PortList::AddDevEntry(const QString& entry) {
  const auto arrow = entry.indexOf("->");
  const QString name = arrow < 0 ? entry : entry.left(arrow);
  const QString path = DevDir() + '/' + name;
  QVERIFY(QDir().mkpath(QFileInfo(path).path()));
  if (arrow < 0) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    return;
  }
  const QString target = LinkTarget(entry.mid(arrow + 2));
  if (target == tree_->filePath("devices/plain-file")) {
    QFile file(target);
    QVERIFY(file.open(QIODevice::WriteOnly));
  }
  QVERIFY(::symlink(target.toLocal8Bit().constData(), path.toLocal8Bit().constData()) == 0);
}

void tst_PortList::listsTheSerialPorts_data() {
  QTest::addColumn<QStringList>("ttys");
  QTest::addColumn<QStringList>("devEntries");
  QTest::addColumn<QStringList>("expected");

  QTest::newRow("usb and acm adapters, consoles left out")
      << QStringList{"ttyUSB0", "ttyACM0", "tty1:nodevice", "console:nodevice", "ptmx:nodevice"}
      << QStringList{"ttyUSB0", "ttyACM0", "tty1", "console"}
      << QStringList{"ttyACM0", "ttyUSB0"};
  QTest::newRow("legacy ports only where a uart answers")
      << QStringList{"ttyS0:type=4", "ttyS1:type=0", "ttyS2:type=0", "ttyS3:type=0", "ttyS4"}
      << QStringList{} << QStringList{"ttyS0", "ttyS4"};
  QTest::newRow("virtual ports linked to pty slaves")
      << QStringList{} << QStringList{"ttyV0->pty0", "ttyV1->pty1"}
      << QStringList{"ttyV0", "ttyV1"};
  QTest::newRow("links to anything else left out")
      << QStringList{}
      << QStringList{"null->/dev/null", "notes->file", "gone->/dev/pts/999999",
                     "ptmx->/dev/pts/ptmx", "stdin->ptyfd", "pts->/dev/pts",
                     "serial/by-id/usb-sim->pty0", "ttyV9"}
      << QStringList{};
  QTest::newRow("case-insensitive, character by character")
      << QStringList{"ttyUSB2", "ttyUSB10", "ttyS10:type=4", "ttyS2:type=4", "ttyACM0"}
      << QStringList{"TTYV0->pty0", "ttyusb1->pty1"}
      << QStringList{"ttyACM0", "ttyS10", "ttyS2", "ttyusb1", "ttyUSB10", "ttyUSB2", "TTYV0"};
  QTest::newRow("a port reported twice is listed twice")
      << QStringList{"ttyV0"} << QStringList{"ttyV0->pty0"} << QStringList{"ttyV0", "ttyV0"};
  QTest::newRow("empty tty class") << QStringList{} << QStringList{} << QStringList{};
}

void tst_PortList::listsTheSerialPorts() {
  QFETCH(QStringList, ttys);
  QFETCH(QStringList, devEntries);
  QFETCH(QStringList, expected);
  for (const QString& tty : ttys) AddTty(tty);
  for (const QString& entry : devEntries) AddDevEntry(entry);
  if (QTest::currentTestFailed()) return;

  QStringList listed;
  for (const auto& name : ComPortNames(ClassDir().toStdString(), DevDir().toStdString()))
    listed << QString::fromStdString(name);
  QStringList expectedPaths;
  for (const QString& name : expected) expectedPaths << DevDir() + '/' + name;
  QCOMPARE(listed, expectedPaths);
}

void tst_PortList::unreadableFolderIsRegistryError_data() {
  QTest::addColumn<QString>("classDir");
  QTest::addColumn<QString>("devDir");
  QTest::addColumn<int>("errorNumber");
  QTest::addColumn<bool>("closedToUser");

  QTest::newRow("tty class missing") << "missing" << "dev" << ENOENT << false;
  QTest::newRow("tty class is a file") << "devices/plain-file" << "dev" << ENOTDIR << false;
  QTest::newRow("tty class closed to the user") << "class" << "dev" << EACCES << true;
  QTest::newRow("device folder missing") << "class" << "missing" << ENOENT << false;
}

void tst_PortList::unreadableFolderIsRegistryError() {
  QFETCH(QString, classDir);
  QFETCH(QString, devDir);
  QFETCH(int, errorNumber);
  QFETCH(bool, closedToUser);
  QFile plain(tree_->filePath("devices/plain-file"));
  QVERIFY(plain.open(QIODevice::WriteOnly));
  AddTty("ttyUSB0");
  if (closedToUser) {
    if (geteuid() == 0) QSKIP("root reads every folder whatever its mode");
    QVERIFY(::chmod(ClassDir().toLocal8Bit().constData(), 0) == 0);
  }

  const std::string expected =
      "Registry error (win error code: " + std::to_string(errorNumber) + ")";
  try {
    ComPortNames(tree_->filePath(classDir).toStdString(), tree_->filePath(devDir).toStdString());
    QFAIL("the list was read from an unreadable folder");
  } catch (const EComPort& error) {
    QCOMPARE(QString::fromLocal8Bit(error.what()), QString::fromStdString(expected));
    QCOMPARE(error.Code(), int(CE_RegError));
    QCOMPARE(error.WinCode(), errorNumber);
  }
}

QTEST_APPLESS_MAIN(tst_PortList)
#include "tst_portlist.moc"
