// The start-up floor: a plain Qt Widgets window with the same controls as the tool's
// (three labels, a spin box, two buttons, a drop-down list), built and shown the plain way.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("floor"));
  window.resize(242, 176);
  (new QLabel(QStringLiteral("Current Address : "), &window))->move(16, 48);
  (new QLabel(QStringLiteral("Set Address To : "), &window))->move(16, 72);
  (new QLabel(QStringLiteral("Revision : "), &window))->move(16, 96);
  auto* spin = new QSpinBox(&window);
  spin->setRange(1, 126);
  spin->setGeometry(104, 64, 49, 22);
  (new QPushButton(QStringLiteral("Transmit"), &window))->setGeometry(16, 120, 137, 25);
  auto* ports = new QComboBox(&window);
  ports->addItem(QStringLiteral("/dev/ttyS0"));
  ports->setGeometry(16, 18, 97, 21);
  (new QPushButton(QStringLiteral("Connect"), &window))->setGeometry(120, 16, 75, 25);
  window.show();
  return app.exec();
}
