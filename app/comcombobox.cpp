#include "comcombobox.h"

#include "comport.h"
#include "errordisplay.h"

// QComboBox reports the operator's picks, by mouse in the list and by every arrow step
// on the closed box, through activated; a selection set by the program sends nothing.
ComComboBox::ComComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  connect(this, &QComboBox::activated, this,
          [this](int index) { ErrorDisplay::Guard(window(), [&] { ApplyPick(index); }); });
}

void ComComboBox::SetPortNames(const std::vector<std::string>& names) {
  clear();
  for (const auto& name : names) addItem(QString::fromLocal8Bit(name));
  setCurrentIndex(names.empty() ? -1 : 0);
}

void ComComboBox::SetComPort(ComPort* port) {
  disconnect(portGone_);
  port_ = port;
  if (!port) {
    setCurrentIndex(count() > 0 ? 0 : -1);
    return;
  }
  portGone_ = connect(port, &QObject::destroyed, this, [this] { SetComPort(nullptr); });
  const int found =
      findText(QString::fromLocal8Bit(port->Port()), Qt::MatchFixedString);  // case-insensitive
  if (found >= 0) setCurrentIndex(found);
}

void ComComboBox::ApplyPick(int index) {
  if (!port_ || index < 0) return;
  port_->SetPort(itemText(index).toLocal8Bit().toStdString());
}
