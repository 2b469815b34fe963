#include "errordisplay.h"

#include <QFileInfo>
#include <QMessageBox>

#include <exception>

namespace {

QString& Title() {
  static QString title;
  return title;
}

bool& BoxShown() {
  static bool shown = false;
  return shown;
}

}  // namespace

namespace ErrorDisplay {

QString ApplicationTitleFromPath(const QString& programPath) {
  QString name = QFileInfo(programPath).fileName();
  const auto dot = name.indexOf(QLatin1Char('.'));
  if (dot >= 0) name.truncate(dot);
  if (name.isEmpty()) return name;
  return name.front() + name.mid(1).toLower();
}

void SetApplicationTitle(const QString& title) { Title() = title; }

QString ApplicationTitle() { return Title(); }

QString BoxText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > '.') return message + QLatin1Char('.');
  return message;
}

void Show(QWidget* parent, const QString& message) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), BoxText(message), QMessageBox::Ok,
                  parent);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  BoxShown() = true;
  box.exec();
  BoxShown() = false;
}

bool Showing() { return BoxShown(); }

void Guard(QWidget* parent, const std::function<void()>& handler) {
  QString message;
  try {
    handler();
    return;
  } catch (const std::exception& error) {
    message = QString::fromLocal8Bit(error.what());
  }
  if (!BoxShown()) Show(parent, message);
}

}  // namespace ErrorDisplay
