// TForm1: the main window. Shows the device's current address and revision, polled once
// a second while connected, and sends a new address on "Transmit". It owns every object
// of the tool: the controls, the serial port ComPort1, the reply splitter ComDataPacket1
// fed by it, and the poll timer Timer1. Every handler runs on the UI thread inside the
// error display's guard.
#pragma once

#include <QWidget>

#include <memory>
#include <string>

class QLabel;
class QPushButton;
class QTimer;
class ComComboBox;
class ComDataPacket;
class ComPort;
class SpinEdit;

// Raised when the window cannot be built (the port list cannot be read): start-up ends.
class EReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The components, in the design's declaration order. The controls are owned as Qt
  // children and destroyed first; the non-visual components after them, in reverse.
  QLabel* Label1 = nullptr;
  SpinEdit* SpinEdit1 = nullptr;
  QLabel* Label2 = nullptr;
  QPushButton* Button1 = nullptr;
  std::unique_ptr<ComPort> ComPort1;
  std::unique_ptr<ComDataPacket> ComDataPacket1;
  ComComboBox* ComComboBox1 = nullptr;
  QPushButton* Button2 = nullptr;
  std::unique_ptr<QTimer> Timer1;
  QLabel* Label3 = nullptr;

  void Button2Click(QObject* Sender);
  void ComPort1AfterClose(QObject* Sender);
  void ComPort1AfterOpen(QObject* Sender);
  void ComDataPacket1Packet(ComDataPacket* Sender, const std::string& Str);
  void Button1Click(QObject* Sender);
  void Timer1Timer(QObject* Sender);

  static constexpr int DesignWidth = 250;
  static constexpr int DesignHeight = 203;

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void CreateControls();
  void CreateComponents();
  void WireHandlers();
  void FitOuterSize();
  void Centre();
  void Guarded(void (TForm1::*handler)(QObject*), QObject* sender);

  bool placed_ = false;
  bool framed_ = false;
};
