#include "comcombobox.h"

#include "comport.h"

ComComboBox::ComComboBox(QWidget* parent) : QComboBox(parent) { setEditable(false); }

void ComComboBox::SetPortNames(const std::vector<std::string>& names) {
  clear();
  for (const auto& name : names) addItem(QString::fromLocal8Bit(name));
  setCurrentIndex(names.empty() ? -1 : 0);
}

void ComComboBox::SetComPort(ComPort* port) {
  port_ = port;
  if (!port) {
    setCurrentIndex(count() > 0 ? 0 : -1);
    return;
  }
  const int found =
      findText(QString::fromLocal8Bit(port->Port()), Qt::MatchFixedString);  // case-insensitive
  if (found >= 0) setCurrentIndex(found);
}

void ComComboBox::ApplyPick(int index) {
  if (!port_ || index < 0) return;
  port_->SetPort(itemText(index).toLocal8Bit().toStdString());
}
