// The real main window under the offscreen platform, talking to a pseudo-terminal whose
// master side plays the device.
#include "comcombobox.h"
#include "comdatapacket.h"
#include "comport.h"
#include "errordisplay.h"
#include "mainwindow.h"
#include "modalwatcher.h"
#include "ptypair.h"
#include "spinedit.h"

#include <QtTest>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr auto kQuery = "*L?#";

// Collects what the window sends, so a test can wait for a command to arrive.
struct Device {
  PtyPair pty;
  QByteArray received;

  bool Got(const QByteArray& bytes) {
    received += QByteArray::fromStdString(pty.ReadAvailable());
    return received.contains(bytes);
  }
};

}  // namespace

class tst_MainWindow : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void initialState();
  void designGeometry();
  void labelsFitInFrontOfTheirControls();
  void connectBlanksLabelsAndPollsAtNextTick();
  void replies_data();
  void replies();
  void transmit_data();
  void transmit();
  void transmitWhileDisconnected();
  void failedTransmitKeepsPolling();
  void addressField_data();
  void addressField();
  void connectFailureShowsOneError();
  void unplugWhileConnected();
  void closingWhileConnectedReleasesThePort();

 private:
  void Connect();

  std::unique_ptr<Device> device_;
  std::unique_ptr<TForm1> form_;
};

void tst_MainWindow::init() {
  ErrorDisplay::SetApplicationTitle(QStringLiteral("Vortalin"));
  device_ = std::make_unique<Device>();
  if (!device_->pty.Ok()) QSKIP("no pseudo-terminal available");
  form_ = std::make_unique<TForm1>();
  form_->show();
  QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  form_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(form_.get()));
}

void tst_MainWindow::cleanup() {
  form_.reset();
  device_.reset();
}

void tst_MainWindow::Connect() {
  form_->ComPort1->SetPort(device_->pty.SlavePath());
  QTest::mouseClick(form_->Button2, Qt::LeftButton);
  QCOMPARE(form_->Button2->text(), QStringLiteral("Disconnect"));
}

void tst_MainWindow::initialState() {
  QCOMPARE(form_->windowTitle(), QStringLiteral("VORTALIN v01.00"));
  QCOMPARE(form_->Label1->text(), QStringLiteral("Current Address : "));
  QCOMPARE(form_->Label2->text(), QStringLiteral("Set Address To : "));
  QCOMPARE(form_->Label3->text(), QStringLiteral("Revision : "));
  QCOMPARE(form_->Button1->text(), QStringLiteral("Transmit"));
  QCOMPARE(form_->Button2->text(), QStringLiteral("Connect"));
  QCOMPARE(form_->SpinEdit1->Text(), QStringLiteral("1"));
  QCOMPARE(form_->ComPort1->Port(), std::string(ComPort::DefaultPort));
  QVERIFY(!form_->ComPort1->Connected());
  QVERIFY(form_->Timer1->isActive());
  QCOMPARE(form_->Timer1->interval(), 1000);
  QTRY_VERIFY(form_->SpinEdit1->Editor()->hasFocus());
  QTRY_COMPARE(form_->SpinEdit1->Editor()->selectedText(), QStringLiteral("1"));

  // Tab goes round the address field, Transmit, the chooser and Connect.
  QList<QWidget*> order;
  for (int i = 0; i < 4; ++i) {
    order << QApplication::focusWidget();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  QCOMPARE(order, (QList<QWidget*>{form_->SpinEdit1->Editor(), form_->Button1,
                                   form_->ComComboBox1, form_->Button2}));
  QCOMPARE(QApplication::focusWidget(), form_->SpinEdit1->Editor());
  QCOMPARE(form_->SpinEdit1->Editor()->selectedText(), QStringLiteral("1"));
}

void tst_MainWindow::designGeometry() {
  QCOMPARE(form_->SpinEdit1->geometry(), QRect(104, 64, 49, 22));
  QCOMPARE(form_->Button1->geometry(), QRect(16, 120, 137, 25));
  QCOMPARE(form_->ComComboBox1->geometry(), QRect(16, 18, 97, 21));
  QCOMPARE(form_->Button2->geometry(), QRect(120, 16, 75, 25));
  QCOMPARE(form_->Label1->pos(), QPoint(16, 48));
  QCOMPARE(form_->Label2->pos(), QPoint(16, 72));
  QCOMPARE(form_->Label3->pos(), QPoint(16, 96));
  // Without a window manager the client area is what a frame would leave of 250 x 203.
  QVERIFY(form_->width() < TForm1::DesignWidth && form_->width() > TForm1::DesignWidth - 20);
  QVERIFY(form_->height() < TForm1::DesignHeight && form_->height() > TForm1::DesignHeight - 40);
  const QRect desktop = form_->screen()->virtualGeometry();
  QCOMPARE(form_->frameGeometry().left(), (desktop.width() - TForm1::DesignWidth) / 2);
  QCOMPARE(form_->frameGeometry().top(), (desktop.height() - TForm1::DesignHeight) / 2);
}

// No label runs under the control to its right and none is cut off, in the font the
// window really got on this machine.
void tst_MainWindow::labelsFitInFrontOfTheirControls() {
  for (QLabel* label : {form_->Label1, form_->Label2, form_->Label3}) {
    QCOMPARE(label->width(), label->sizeHint().width());
    QVERIFY2(!label->geometry().intersects(form_->SpinEdit1->geometry()), qPrintable(label->text()));
  }
  QVERIFY(form_->Label2->geometry().right() < form_->SpinEdit1->x());
  QFontMetrics metrics(form_->Button2->font());
  QVERIFY(metrics.horizontalAdvance(QStringLiteral("Disconnect")) < form_->Button2->width() - 8);
  QVERIFY(metrics.height() <= 14);
}

void tst_MainWindow::connectBlanksLabelsAndPollsAtNextTick() {
  form_->Label1->setText(QStringLiteral("Current Address : 099"));
  form_->Label3->setText(QStringLiteral("Revision : 09.99"));
  QElapsedTimer clock;
  const int untilTick = form_->Timer1->remainingTime();
  clock.start();
  Connect();
  QCOMPARE(form_->Label1->text(), QStringLiteral("Current Address : "));
  QCOMPARE(form_->Label3->text(), QStringLiteral("Revision : "));
  QCOMPARE(device_->pty.ReadAvailable(), std::string());
  QTRY_VERIFY_WITH_TIMEOUT(device_->Got(kQuery), 3000);
  // The query came with the timer's tick, not with the click.
  QVERIFY2(clock.elapsed() >= untilTick - 60, qPrintable(QString::number(clock.elapsed())));
  QCOMPARE(device_->received, QByteArray(kQuery));
}

void tst_MainWindow::replies_data() {
  QTest::addColumn<QByteArray>("reply");
  QTest::addColumn<QString>("address");
  QTest::addColumn<QString>("revision");
  const QString blankAddress = QStringLiteral("Current Address : ");
  const QString blankRevision = QStringLiteral("Revision : ");
  QTest::newRow("normal reply") << QByteArray("*L00501.00#") << "Current Address : 005" << "Revision : 01.00";
  QTest::newRow("short reply with dot") << QByteArray("*L12345.#") << "Current Address : 123" << "Revision : 45.";
  QTest::newRow("two replies: the second stays")
      << QByteArray("*L00501.00#*L00601.00#") << "Current Address : 006" << "Revision : 01.00";
  QTest::newRow("too short: nothing") << QByteArray("*L12#") << blankAddress << blankRevision;
  QTest::newRow("no dot: nothing") << QByteArray("*L0050101.00#") << blankAddress << blankRevision;
  QTest::newRow("markup is shown as text")
      << QByteArray("*L<b>ab.cd#") << "Current Address : <b>" << "Revision : ab.cd";
  QTest::newRow("NUL is one character")
      << QByteArray("*L0\x00" "501.00#", 11) << QStringLiteral("Current Address : 0") + QChar(0) + "5"
      << "Revision : 01.00";
}

void tst_MainWindow::replies() {
  QFETCH(QByteArray, reply);
  QFETCH(QString, address);
  QFETCH(QString, revision);
  Connect();
  const bool shown = address != QStringLiteral("Current Address : ");
  // Behind a reply that shows nothing, a marker: once it is pending, everything before it
  // was read, however the bytes were split into chunks.
  if (!shown) reply += '~';
  device_->pty.Write({reply.constData(), size_t(reply.size())});
  if (!shown)
    QTRY_VERIFY(QByteArray::fromStdString(form_->ComDataPacket1->Pending()).endsWith('~'));
  QTRY_COMPARE(form_->Label1->text(), address);
  QTRY_COMPARE(form_->Label3->text(), revision);
  QCOMPARE(form_->Label1->textFormat(), Qt::PlainText);
  QCOMPARE(form_->Label3->textFormat(), Qt::PlainText);
}

void tst_MainWindow::transmit_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QByteArray>("command");
  QTest::newRow("lowest address") << "1" << QByteArray("*L001#");
  QTest::newRow("highest address") << "126" << QByteArray("*L126#");
}

// Transmit sends the command and restarts the poll period: the next query follows it
// by a full second.
void tst_MainWindow::transmit() {
  QFETCH(QString, text);
  QFETCH(QByteArray, command);
  Connect();
  QTRY_VERIFY_WITH_TIMEOUT(device_->Got(kQuery), 3000);
  device_->received.clear();
  form_->SpinEdit1->SetText(text);
  // Click inside a poll period, well away from the tick, so the restart shows.
  QTRY_VERIFY(form_->Timer1->remainingTime() > 200 && form_->Timer1->remainingTime() < 700);
  QTest::mouseClick(form_->Button1, Qt::LeftButton);
  QElapsedTimer clock;
  clock.start();
  QCOMPARE(QByteArray::fromStdString(device_->pty.ReadFor(command.size())), command);
  QTRY_VERIFY_WITH_TIMEOUT(device_->Got(kQuery), 3000);
  QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
  QCOMPARE(device_->received, QByteArray(kQuery));
}

void tst_MainWindow::transmitWhileDisconnected() {
  ModalWatcher watcher;
  QTest::mouseClick(form_->Button1, Qt::LeftButton);
  QCOMPARE(watcher.seen.size(), 1);
  QCOMPARE(watcher.seen[0].title, QStringLiteral("Error"));
  QCOMPARE(watcher.seen[0].text, QStringLiteral("Please Connect first."));
  QCOMPARE(watcher.seen[0].icon, QMessageBox::NoIcon);
  QVERIFY(form_->Timer1->isActive());
  QCOMPARE(device_->pty.ReadAvailable(), std::string());
}

// A set-address command that could not be written is reported, and polling goes on: the
// window must not keep reading "Disconnect" while silently asking nothing any more.
void tst_MainWindow::failedTransmitKeepsPolling() {
  Connect();
  device_->pty.Vanish();
  QTRY_VERIFY(!form_->ComPort1->Receiving());
  ModalWatcher watcher;
  form_->Timer1->stop();  // keep the poll tick from reporting first
  QTest::mouseClick(form_->Button1, Qt::LeftButton);
  QCOMPARE(watcher.seen.size(), 1);
  QVERIFY(watcher.seen[0].text.startsWith(QStringLiteral("WriteFile function failed (win error code: ")));
  QVERIFY(form_->Timer1->isActive());
  QCOMPARE(form_->Button2->text(), QStringLiteral("Disconnect"));
}

// Key sequences typed into the address field (after selecting its text), and what the
// field reads afterwards, after leaving it for Transmit, and what Transmit sends.
void tst_MainWindow::addressField_data() {
  QTest::addColumn<QString>("start");
  QTest::addColumn<QList<int>>("keys");  // Qt::Key values; printable keys as their character
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("afterLeaving");
  QTest::addColumn<QByteArray>("command");
  using K = QList<int>;
  QTest::newRow("digit replaces the selection") << "1" << K{'7'} << "7" << "7" << QByteArray("*L007#");
  QTest::newRow("second digit refused") << "1" << K{'5', '6'} << "5" << "5" << QByteArray("*L005#");
  QTest::newRow("0 is clamped on leaving") << "1" << K{'0'} << "0" << "1" << QByteArray("*L001#");
  QTest::newRow("empty stays empty, sends 1") << "1" << K{Qt::Key_Backspace} << "" << "" << QByteArray("*L001#");
  QTest::newRow("minus stays, counts as 1") << "1" << K{'-'} << "-" << "-" << QByteArray("*L001#");
  QTest::newRow("letter refused") << "1" << K{'a'} << "1" << "1" << QByteArray("*L001#");
  QTest::newRow("Enter refused") << "3" << K{Qt::Key_Return} << "3" << "3" << QByteArray("*L003#");
  QTest::newRow("Up steps") << "9" << K{Qt::Key_Up} << "10" << "10" << QByteArray("*L010#");
  QTest::newRow("Up stops at 126") << "126" << K{Qt::Key_Up} << "126" << "126" << QByteArray("*L126#");
  QTest::newRow("Down stops at 1") << "1" << K{Qt::Key_Down} << "1" << "1" << QByteArray("*L001#");
  QTest::newRow("Up from no integer gives 2") << "-" << K{Qt::Key_Up} << "2" << "2" << QByteArray("*L002#");
  QTest::newRow("Down from no integer gives 1") << "+" << K{Qt::Key_Down} << "1" << "1" << QByteArray("*L001#");
  QTest::newRow("backspace shortens a long value") << "126" << K{Qt::Key_End, Qt::Key_Backspace}
                                                   << "12" << "12" << QByteArray("*L012#");
  QTest::newRow("no digit added to a long value") << "12" << K{Qt::Key_End, '5'} << "12" << "12" << QByteArray("*L012#");
}

void tst_MainWindow::addressField() {
  QFETCH(QString, start);
  QFETCH(QList<int>, keys);
  QFETCH(QString, typed);
  QFETCH(QString, afterLeaving);
  QFETCH(QByteArray, command);
  Connect();
  QLineEdit* editor = form_->SpinEdit1->Editor();
  form_->SpinEdit1->SetText(start);
  editor->setFocus(Qt::TabFocusReason);
  QTRY_COMPARE(editor->selectedText(), start);
  QSignalSpy refused(form_->SpinEdit1, &SpinEdit::Refused);
  for (int key : keys) {
    if (key < 0x100 && QChar(key).isPrint())
      QTest::keyClick(editor, char(key));
    else
      QTest::keyClick(editor, Qt::Key(key));
  }
  QCOMPARE(form_->SpinEdit1->Text(), typed);
  const bool expectRefusal = QTest::currentDataTag() == QByteArray("letter refused") ||
                             QTest::currentDataTag() == QByteArray("Enter refused");
  QCOMPARE(refused.count() > 0, expectRefusal);
  device_->received.clear();
  QTest::mouseClick(form_->Button1, Qt::LeftButton);
  QCOMPARE(form_->SpinEdit1->Text(), afterLeaving);
  QCOMPARE(QByteArray::fromStdString(device_->pty.ReadFor(command.size())), command);
}

void tst_MainWindow::connectFailureShowsOneError() {
  ModalWatcher watcher;
  form_->ComPort1->SetPort("/dev/vortalin-no-such-port");
  form_->Label1->setText(QStringLiteral("Current Address : 005"));
  QTest::mouseClick(form_->Button2, Qt::LeftButton);
  QCOMPARE(watcher.seen.size(), 1);
  QCOMPARE(watcher.seen[0].title, QStringLiteral("Vortalin"));
  QCOMPARE(watcher.seen[0].text, QStringLiteral("Unable to open com port (win error code: 2)"));
  QCOMPARE(watcher.seen[0].icon, QMessageBox::Critical);
  QCOMPARE(form_->Label1->text(), QStringLiteral("Current Address : "));
  QCOMPARE(form_->Button2->text(), QStringLiteral("Connect"));
  QVERIFY(!form_->ComPort1->Connected());
}

// The unplug path as a technician meets it: one error box at the next tick, none stacked
// on it while it is up, Disconnect works, and a new Connect on a live port polls again.
void tst_MainWindow::unplugWhileConnected() {
  Connect();
  device_->pty.Write("*L00501.00#");
  QTRY_COMPARE(form_->Label1->text(), QStringLiteral("Current Address : 005"));
  ModalWatcher watcher(2500);
  device_->pty.Vanish();
  QTRY_COMPARE_WITH_TIMEOUT(watcher.seen.size(), 1, 3000);
  QTRY_VERIFY_WITH_TIMEOUT(!ErrorDisplay::Showing(), 5000);
  QCOMPARE(watcher.mostAtOnce, 1);
  QVERIFY2(watcher.seen.size() <= 2, qPrintable(QString::number(watcher.seen.size())));
  QVERIFY(watcher.seen[0].text.startsWith(QStringLiteral("WriteFile function failed (win error code: ")));
  QCOMPARE(form_->Label1->text(), QStringLiteral("Current Address : 005"));

  ModalWatcher quiet;
  QTest::mouseClick(form_->Button2, Qt::LeftButton);
  QCOMPARE(form_->Button2->text(), QStringLiteral("Connect"));
  QVERIFY(!form_->ComPort1->Connected());

  auto fresh = std::make_unique<Device>();
  form_->ComPort1->SetPort(fresh->pty.SlavePath());
  QTest::mouseClick(form_->Button2, Qt::LeftButton);
  QCOMPARE(form_->Button2->text(), QStringLiteral("Disconnect"));
  QTRY_VERIFY_WITH_TIMEOUT(fresh->Got(kQuery), 3000);
  fresh->pty.Write("*L00701.00#");
  QTRY_COMPARE(form_->Label1->text(), QStringLiteral("Current Address : 007"));
  form_.reset();
  QCOMPARE(quiet.seen.size(), 0);
}

void tst_MainWindow::closingWhileConnectedReleasesThePort() {
  Connect();
  ModalWatcher watcher;
  form_->close();
  form_.reset();
  QCoreApplication::processEvents();
  QCOMPARE(watcher.seen.size(), 0);
  ComPort next;
  next.SetPort(device_->pty.SlavePath());
  next.SetConnected(true);
  QVERIFY(next.Connected());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
