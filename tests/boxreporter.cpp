// Loaded with LD_PRELOAD into the real program by the start-up test. For every window
// the program shows it writes one line to the file named by BOX_REPORT: class, title,
// icon and the percent-encoded text; it answers each message box with OK, as an operator
// would, so the program runs on to its end. The program itself is not changed.
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace {

QByteArray IconName(QMessageBox::Icon icon) {
  switch (icon) {
    case QMessageBox::Critical: return "critical";
    case QMessageBox::Warning: return "warning";
    case QMessageBox::Information: return "information";
    case QMessageBox::Question: return "question";
    default: return "none";
  }
}

void Report(QWidget* window) {
  QFile file(QString::fromLocal8Bit(qgetenv("BOX_REPORT")));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
  auto* box = qobject_cast<QMessageBox*>(window);
  file.write(QByteArray(window->metaObject()->className()) + '\t' +
             window->windowTitle().toUtf8() + '\t' + (box ? IconName(box->icon()) : "-") + '\t' +
             (box ? box->text().toUtf8().toPercentEncoding() : "-") + '\n');
}

class Reporter : public QObject {
 public:
  using QObject::QObject;

  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::Show || !object->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(object);
    if (!widget->isWindow()) return false;
    Report(widget);
    if (auto* box = qobject_cast<QMessageBox*>(widget)) {
      QTimer::singleShot(0, box, [box] {
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
      });
    }
    return false;
  }
};

void Install() { QCoreApplication::instance()->installEventFilter(new Reporter(QCoreApplication::instance())); }

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Install)
