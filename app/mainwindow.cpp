#include "mainwindow.h"

#include "comcombobox.h"
#include "comdatapacket.h"
#include "comport.h"
#include "comerror.h"
#include "errordisplay.h"
#include "portlist.h"
#include "protocol.h"
#include "spinedit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <array>

namespace {

constexpr auto kCaption = "VORTALIN v01.00";
constexpr auto kCurrentAddress = "Current Address : ";
constexpr auto kRevision = "Revision : ";
constexpr auto kConnect = "Connect";
constexpr auto kDisconnect = "Disconnect";
constexpr int kPollIntervalMs = 1000;
constexpr int kAddressMin = 1;
constexpr int kAddressMax = 126;

// The controls as the window's design places them, in the order they are created.
// Positions are pixels in the client area; labels size themselves to their text.
struct ControlDesign {
  const char* name;
  int left, top, width, height;
  const char* text;
};

constexpr std::array<ControlDesign, 7> kControls{{
    {"Label1", 16, 48, 84, 13, kCurrentAddress},
    {"Label2", 16, 72, 82, 13, "Set Address To : "},
    {"Label3", 16, 96, 50, 13, kRevision},
    {"SpinEdit1", 104, 64, 49, 22, "1"},
    {"Button1", 16, 120, 137, 25, "Transmit"},
    {"ComComboBox1", 16, 18, 97, 21, ""},
    {"Button2", 120, 16, 75, 25, kConnect},
}};

// The frame a sizeable window would have around its client area, used until (or
// unless) a window manager reports the real one.
constexpr QMargins kAssumedFrame{4, 23, 4, 4};

// A sans-serif face with the metrics of a classic small dialog font: at 11 pixels every
// label fits in front of the control to its right.
QFont DesignFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(11);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

// Device text is shown as it arrived: one byte, one character, never read as markup.
QString FromDevice(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

const ControlDesign& Design(const char* name) {
  for (const auto& control : kControls)
    if (qstrcmp(control.name, name) == 0) return control;
  Q_UNREACHABLE();
}

template <typename Widget>
Widget* Place(Widget* widget, const char* name) {
  const auto& design = Design(name);
  widget->setObjectName(QLatin1String(name));
  widget->setGeometry(design.left, design.top, design.width, design.height);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name) {
  auto* label = Place(new QLabel(QLatin1String(Design(name).text), parent), name);
  label->setTextFormat(Qt::PlainText);
  label->adjustSize();
  return label;
}

void SetLabel(QLabel* label, const QString& text) {
  label->setText(text);
  label->adjustSize();
}

// The chooser's list is read once, while the window is built. A list that cannot be read
// ends start-up, reported as the failure to load the chooser's setting that asked for it.
std::vector<std::string> ReadPortNames() {
  try {
    return ComPortNames();
  } catch (const EComPort& error) {
    throw EReadError(std::string("Error reading ComComboBox1.ComProperty: ") + error.what());
  }
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QLatin1String(kCaption));
  setFont(DesignFont());
  CreateControls();
  CreateComponents();
  WireHandlers();
  ComComboBox1->SetComPort(ComPort1.get());
  resize(DesignWidth - kAssumedFrame.left() - kAssumedFrame.right(),
         DesignHeight - kAssumedFrame.top() - kAssumedFrame.bottom());
}

void TForm1::CreateControls() {
  Label1 = MakeLabel(this, "Label1");
  Label2 = MakeLabel(this, "Label2");
  Label3 = MakeLabel(this, "Label3");

  SpinEdit1 = Place(new SpinEdit(this), "SpinEdit1");
  SpinEdit1->SetRange(kAddressMin, kAddressMax);
  SpinEdit1->SetMaxLength(1);
  SpinEdit1->SetText(QLatin1String(Design("SpinEdit1").text));

  Button1 = Place(new QPushButton(QLatin1String(Design("Button1").text), this), "Button1");
  ComComboBox1 = Place(new ComComboBox(this), "ComComboBox1");
  ComComboBox1->SetPortNames(ReadPortNames());
  Button2 = Place(new QPushButton(QLatin1String(Design("Button2").text), this), "Button2");

  for (auto* button : {Button1, Button2}) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  setTabOrder(SpinEdit1, Button1);
  setTabOrder(Button1, ComComboBox1);
  setTabOrder(ComComboBox1, Button2);
  SpinEdit1->setFocus(Qt::OtherFocusReason);
}

// The port starts closed under its configured name; the splitter is attached to it; the
// poll timer ticks from now on, connected or not.
void TForm1::CreateComponents() {
  ComPort1 = std::make_unique<ComPort>();
  ComDataPacket1 = std::make_unique<ComDataPacket>();
  ComPort1->SetReceiver([this](std::string_view data) { ComDataPacket1->HandleData(data); });
  Timer1 = std::make_unique<QTimer>();
  Timer1->setInterval(kPollIntervalMs);
  Timer1->start();
}

void TForm1::WireHandlers() {
  connect(Button1, &QPushButton::clicked, this, [this] { Guarded(&TForm1::Button1Click, Button1); });
  connect(Button2, &QPushButton::clicked, this, [this] { Guarded(&TForm1::Button2Click, Button2); });
  connect(Timer1.get(), &QTimer::timeout, this,
          [this] { Guarded(&TForm1::Timer1Timer, Timer1.get()); });
  ComPort1->OnAfterOpen = [this](QObject* sender) { ComPort1AfterOpen(sender); };
  ComPort1->OnAfterClose = [this](QObject* sender) { ComPort1AfterClose(sender); };
  ComDataPacket1->OnPacket = [this](ComDataPacket* sender, const std::string& str) {
    ComDataPacket1Packet(sender, str);
  };
}

void TForm1::Guarded(void (TForm1::*handler)(QObject*), QObject* sender) {
  ErrorDisplay::Guard(this, [&] { (this->*handler)(sender); });
}

// The controls go first, then the timer, the splitter (detached from the port) and the
// port, which closes an open line; its after-close notification then finds no button.
TForm1::~TForm1() {
  const auto destroy = [](auto*& control) {
    delete control;
    control = nullptr;
  };
  destroy(Label1);
  destroy(Label2);
  destroy(Label3);
  destroy(SpinEdit1);
  destroy(Button1);
  destroy(ComComboBox1);
  destroy(Button2);
  Timer1.reset();
  ComPort1->SetReceiver({});
  ComDataPacket1.reset();
  ComPort1.reset();
}

void TForm1::Button2Click(QObject*) {
  if (ComPort1->Connected()) {
    ComPort1->SetConnected(false);
    return;
  }
  SetLabel(Label1, QLatin1String(kCurrentAddress));
  SetLabel(Label3, QLatin1String(kRevision));
  ComPort1->SetConnected(true);
}

void TForm1::ComPort1AfterClose(QObject*) {
  if (Button2) Button2->setText(QLatin1String(kConnect));
}

void TForm1::ComPort1AfterOpen(QObject*) {
  if (Button2) Button2->setText(QLatin1String(kDisconnect));
}

void TForm1::ComDataPacket1Packet(ComDataPacket*, const std::string& Str) {
  const auto reading = ReadPayload(Str);
  if (!reading || !Label1) return;
  SetLabel(Label1, QLatin1String(kCurrentAddress) + FromDevice(reading->Address));
  SetLabel(Label3, QLatin1String(kRevision) + FromDevice(reading->Revision));
}

// The poll timer is started again even when the write fails: a set-address command that
// did not go out must not silently end polling while the window still reads
// "Disconnect". The period begins anew, so the next query follows one full second later.
void TForm1::Button1Click(QObject*) {
  if (!ComPort1->Connected()) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"),
                    QStringLiteral("Please Connect first."), QMessageBox::Ok, this);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    return;
  }
  Timer1->stop();
  struct RestartTimer {
    QTimer* timer;
    ~RestartTimer() { timer->start(); }
  } restart{Timer1.get()};
  ComPort1->WriteStr(SetAddressCommand(SpinEdit1->Value()));
}

void TForm1::Timer1Timer(QObject*) {
  if (ComPort1->Connected()) ComPort1->WriteStr(QueryCommand);
}

// At its first showing the window is centred on the desktop spanning all monitors.
void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (placed_) return;
  placed_ = true;
  Centre();
  FitOuterSize();
}

void TForm1::Centre() {
  const QRect desktop = screen() ? screen()->virtualGeometry() : QRect();
  move(desktop.left() + std::max(0, (desktop.width() - DesignWidth) / 2),
       desktop.top() + std::max(0, (desktop.height() - DesignHeight) / 2));
}

bool TForm1::event(QEvent* event) {
  // A window manager reports its frame some events after the window is mapped, with no
  // event of its own: until then every event checks for it (a size comparison).
  const bool handled = QWidget::event(event);
  if (placed_ && !framed_) FitOuterSize();
  return handled;
}

// The design's 250 x 203 is the outer size, frame and title bar included. Once the real
// frame is known the client area is fitted to it and the framed window centred again.
void TForm1::FitOuterSize() {
  const QSize frame = frameGeometry().size() - geometry().size();
  if (frame.width() <= 0 && frame.height() <= 0) return;
  framed_ = true;
  resize(DesignWidth - frame.width(), DesignHeight - frame.height());
  Centre();
}
