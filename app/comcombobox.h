// ComComboBox: the port chooser. A drop-down list of the machine's serial port names,
// bound to one ComPort. Binding selects the entry matching the port's name (found
// without regard to case) and writes nothing; every pick the operator makes, by mouse
// or keyboard, writes the entry's text to the port's name at once, which closes and
// reopens an open port. Setting the selection from the program writes nothing.
#pragma once

#include <QComboBox>
#include <QPointer>

#include <string>
#include <vector>

#include "comport.h"

class ComComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit ComComboBox(QWidget* parent = nullptr);

  // Replaces the entries; the first one is selected when there is any.
  void SetPortNames(const std::vector<std::string>& names);

  // Binds the chooser to the port and shows the entry that matches the port's name.
  // Binding to nullptr, or the port's destruction, drops the binding and selects the
  // first entry again.
  void SetComPort(ComPort* port);
  ComPort* BoundPort() const { return port_; }

  // A pick the operator made: raises what the port's change of name raises. The
  // chooser calls it for every pick, with its errors going to the error display.
  void ApplyPick(int index);

 private:
  QPointer<ComPort> port_;
  QMetaObject::Connection portGone_;
};
