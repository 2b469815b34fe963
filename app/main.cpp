// vortalin: sets and reads the station address of a field device over a serial line.
#include "catalogtranslator.h"
#include "errordisplay.h"
#include "mainwindow.h"
#include "translation.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>

namespace {

// What start-up shows when the window cannot be built, in the wording that support
// scripts and technicians already know, before the program exits with code 1.
void ShowApplicationError(const char* kind, const QString& message) {
  QString text = QStringLiteral("Exception %1 in module %2 at %3.\r\n")
                     .arg(QLatin1String(kind), QFileInfo(QCoreApplication::applicationFilePath()).fileName(),
                          QStringLiteral("%1").arg(reinterpret_cast<quintptr>(&ShowApplicationError),
                                                   16, 16, QLatin1Char('0')).toUpper());
  text += message;
  if (!message.endsWith(QLatin1Char('.'))) text += QLatin1Char('.');
  text += QStringLiteral("\r\n");
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), text, QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  app.setWindowIcon(QIcon(QStringLiteral(":/icons/vortalin-32.png")));
  // Lets the desktop match the running window to its menu entry and icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("vortalin"));
  // The language and its catalogues are chosen once, before anything can raise a serial
  // error or show a toolkit text.
  const Translations translations(
      Translator::ForStartUp(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString()));
  ErrorDisplay::SetApplicationTitle(
      ErrorDisplay::ApplicationTitleFromPath(QCoreApplication::applicationFilePath()));
  std::unique_ptr<TForm1> Form1;
  try {
    Form1 = std::make_unique<TForm1>();
  } catch (const EReadError& error) {
    ShowApplicationError("EReadError", QString::fromLocal8Bit(error.what()));
    return 1;
  }
  Form1->show();
  return app.exec();
}
