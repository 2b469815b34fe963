// The port chooser in the real window: picks made the way Qt delivers them (arrow keys
// on the closed box, a click in the open list) over virtual ports, links in a temporary
// device folder to two real pseudo-terminals whose masters play the devices. And the
// start-up failure when the port list cannot be read, on the real executable.
#include "comcombobox.h"
#include "comport.h"
#include "mainwindow.h"
#include "modalwatcher.h"
#include "portlist.h"
#include "ptypair.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <array>

#include <unistd.h>

class tst_PortChooser : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void pickWhileDisconnectedOnlyChangesTheName();
  void pickWhileConnectedMovesTheConnection();
  void pickingTheCurrentEntryDoesNothing();
  void everyArrowStepReopens();
  void pickOfARemovedPortShowsTheError();
  void bindingIsDroppedWithThePort();
  void startupEndsWhenThePortListCannotBeRead();

 private:
  ComComboBox* Chooser() const { return form_->ComComboBox1; }
  void ConnectOn(int entry);

  std::array<PtyPair, 2> ptys_;
  std::unique_ptr<QTemporaryDir> tree_;
  std::vector<std::string> names_;
  std::unique_ptr<TForm1> form_;
  // What the port's notifications left on the Connect button, in order.
  QStringList notified_;
};

// Four virtual ports, alternating between the two devices, so that every step through
// the list closes one device and opens the other.
void tst_PortChooser::init() {
  for (const auto& pty : ptys_)
    if (!pty.Ok()) QSKIP("no pseudo-terminal available");
  tree_ = std::make_unique<QTemporaryDir>();
  QVERIFY(tree_->isValid());
  QVERIFY(QDir(tree_->path()).mkpath("class"));
  QVERIFY(QDir(tree_->path()).mkpath("dev"));
  for (int i = 0; i < 4; ++i) {
    const QString link = tree_->filePath(QStringLiteral("dev/ttyV%1").arg(i));
    QVERIFY(QFile::link(QString::fromStdString(ptys_[i % 2].SlavePath()), link));
  }
  names_ = ComPortNames(tree_->filePath("class").toStdString(), tree_->filePath("dev").toStdString());
  QCOMPARE(names_.size(), std::size_t(4));

  form_ = std::make_unique<TForm1>();
  form_->show();
  QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  Chooser()->SetPortNames(names_);
  Chooser()->setFocus();
  // The window clears Button2 as it destroys it; the close at its destruction finds none.
  TForm1* form = form_.get();
  for (auto* event : {&form->ComPort1->OnAfterClose, &form->ComPort1->OnAfterOpen}) {
    *event = [this, form, handler = *event](QObject* sender) {
      handler(sender);
      if (form->Button2) notified_ << form->Button2->text();
    };
  }
  notified_.clear();
}

void tst_PortChooser::cleanup() {
  form_.reset();
  tree_.reset();
}

// Connects through the window on one entry, the chooser showing it.
void tst_PortChooser::ConnectOn(int entry) {
  form_->ComPort1->SetPort(names_[entry]);
  Chooser()->setCurrentIndex(entry);
  QTest::mouseClick(form_->Button2, Qt::LeftButton);
  QVERIFY(form_->ComPort1->Connected());
  QCOMPARE(form_->Button2->text(), QStringLiteral("Disconnect"));
  notified_.clear();
}

void tst_PortChooser::pickWhileDisconnectedOnlyChangesTheName() {
  QCOMPARE(Chooser()->currentIndex(), 0);
  QTest::keyClick(Chooser(), Qt::Key_Down);
  QCOMPARE(form_->ComPort1->Port(), names_[1]);
  QVERIFY(!form_->ComPort1->Connected());
  QVERIFY(notified_.isEmpty());
  QCOMPARE(form_->Button2->text(), QStringLiteral("Connect"));

  // A tick goes by with nothing sent; the next Connect opens the picked port.
  QSignalSpy tick(form_->Timer1.get(), &QTimer::timeout);
  QVERIFY(tick.wait(3000));
  QCOMPARE(ptys_[1].ReadAvailable(), std::string());
  QTest::mouseClick(form_->Button2, Qt::LeftButton);
  QVERIFY(form_->ComPort1->Connected());
  std::string received;
  QTRY_VERIFY_WITH_TIMEOUT((received += ptys_[1].ReadAvailable()).find("*L?#") != std::string::npos,
                           3000);
}

void tst_PortChooser::pickWhileConnectedMovesTheConnection() {
  ConnectOn(0);
  QTest::keyClick(Chooser(), Qt::Key_Down);
  QCOMPARE(notified_, QStringList({"Connect", "Disconnect"}));
  QVERIFY(form_->ComPort1->Connected());
  QCOMPARE(form_->ComPort1->Port(), names_[1]);

  ptys_[0].ReadAvailable();
  std::string received;
  QTRY_VERIFY_WITH_TIMEOUT((received += ptys_[1].ReadAvailable()).find("*L?#") != std::string::npos,
                           3000);
  QCOMPARE(ptys_[0].ReadAvailable(), std::string());
}

// Clicking the entry already shown in the open list is a pick with the current name.
void tst_PortChooser::pickingTheCurrentEntryDoesNothing() {
  ConnectOn(2);
  QSignalSpy picks(Chooser(), &QComboBox::activated);
  Chooser()->showPopup();
  QAbstractItemView* list = Chooser()->view();
  QTRY_VERIFY(list->isVisible());
  const QRect entry = list->visualRect(list->model()->index(2, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entry.center());
  QTRY_COMPARE(picks.count(), 1);
  QCOMPARE(picks.at(0).at(0).toInt(), 2);
  QVERIFY(notified_.isEmpty());
  QVERIFY(form_->ComPort1->Connected());
  QCOMPARE(form_->ComPort1->Port(), names_[2]);
}

void tst_PortChooser::everyArrowStepReopens() {
  ConnectOn(0);
  for (int step = 0; step < 3; ++step) QTest::keyClick(Chooser(), Qt::Key_Down);
  QCOMPARE(notified_, QStringList({"Connect", "Disconnect", "Connect", "Disconnect", "Connect",
                                   "Disconnect"}));
  QCOMPARE(Chooser()->currentIndex(), 3);
  QCOMPARE(form_->ComPort1->Port(), names_[3]);
  QVERIFY(form_->ComPort1->Connected());
}

void tst_PortChooser::pickOfARemovedPortShowsTheError() {
  ConnectOn(0);
  QVERIFY(QFile::remove(QString::fromStdString(names_[1])));
  ModalWatcher boxes;
  QTest::keyClick(Chooser(), Qt::Key_Down);
  QCOMPARE(boxes.seen.size(), 1);
  QCOMPARE(boxes.seen[0].text, QStringLiteral("Unable to open com port (win error code: %1)").arg(ENOENT));
  QCOMPARE(boxes.seen[0].icon, QMessageBox::Critical);
  QCOMPARE(notified_, QStringList({"Connect"}));
  QVERIFY(!form_->ComPort1->Connected());
  QCOMPARE(form_->ComPort1->Port(), names_[1]);
  QCOMPARE(Chooser()->currentText(), QString::fromStdString(names_[1]));
}

// The window destroys its controls before the port; a chooser outliving its port must
// neither keep writing to it nor crash on the next pick.
void tst_PortChooser::bindingIsDroppedWithThePort() {
  ComComboBox chooser;
  chooser.SetPortNames(names_);
  auto port = std::make_unique<ComPort>();
  port->SetPort(names_[2]);
  chooser.SetComPort(port.get());
  QCOMPARE(chooser.currentIndex(), 2);
  port.reset();
  QCOMPARE(chooser.BoundPort(), nullptr);
  QCOMPARE(chooser.currentIndex(), 0);
  QTest::keyClick(&chooser, Qt::Key_Down);
  QCOMPARE(chooser.currentIndex(), 1);
}

// The program runs in a private mount namespace in which the tty class is a plain file;
// a reporter loaded into it records every window it shows and presses OK on the box.
void tst_PortChooser::startupEndsWhenThePortListCannotBeRead() {
  QProcess probe;
  probe.start("unshare", {"-m", "true"});
  if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit ||
      probe.exitCode() != 0)
    QSKIP("no private mount namespace here (unshare -m refused)");

  const QString report = tree_->filePath("report");
  constexpr int kCannotHide = 97;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("BOX_REPORT", report);
  // A sanitizer build's program must otherwise find the sanitizer first among its libraries.
  if (env.contains("ASAN_OPTIONS"))
    env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
  QProcess program;
  program.setProcessEnvironment(env);
  program.start("unshare",
                {"-m", "sh", "-c",
                 QStringLiteral("mount -t tmpfs none /sys/class && : > /sys/class/tty || exit %1\n"
                                "exec env LD_PRELOAD=\"$1\" \"$0\"")
                     .arg(kCannotHide),
                 VORTALIN_PATH, BOX_REPORTER_PATH});
  if (!program.waitForFinished(30000)) {
    program.kill();
    program.waitForFinished();
    QFAIL("the program did not end");
  }
  if (program.exitCode() == kCannotHide) QSKIP("cannot mount over /sys/class here");
  QCOMPARE(program.exitStatus(), QProcess::NormalExit);
  QCOMPARE(program.exitCode(), 1);

  QFile file(report);
  QVERIFY2(file.open(QIODevice::ReadOnly), "the program showed no window");
  const QStringList shown = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  QCOMPARE(shown.size(), 1);  // the box, and no main window
  const QStringList box = shown[0].split('\t');
  QCOMPARE(box.size(), 4);
  QCOMPARE(box[0], QStringLiteral("QMessageBox"));
  QCOMPARE(box[1], QStringLiteral("Application Error"));
  QCOMPARE(box[2], QStringLiteral("critical"));
  const QString text = QByteArray::fromPercentEncoding(box[3].toLatin1());
  const QRegularExpression expected(QRegularExpression::anchoredPattern(
      QStringLiteral("Exception EReadError in module vortalin at [0-9A-F]+\\.\r\n"
                     "Error reading ComComboBox1\\.ComProperty: "
                     "Registry error \\(win error code: %1\\)\\.\r\n")
          .arg(ENOTDIR)));
  QVERIFY2(expected.match(text).hasMatch(), qPrintable(text));
}

QTEST_MAIN(tst_PortChooser)
#include "tst_portchooser.moc"
