// ModalWatcher: answers the application-modal message boxes that a handler opens while a
// test clicks, recording each box's caption, text and icon. A box is closed once it has
// been up for holdMs, so a test can see whether more boxes stack on it meanwhile.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon;
};

class ModalWatcher : public QObject {
 public:
  explicit ModalWatcher(int holdMs = 0) : holdMs_(holdMs) {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &ModalWatcher::Check);
    timer_.start();
  }

  QList<SeenBox> seen;
  int mostAtOnce = 0;

 private:
  void Check() {
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (!box || !box->isVisible()) continue;
      ++open;
      if (!known_.contains(box)) {
        known_ << box;
        seen << SeenBox{box->windowTitle(), box->text(), box->icon()};
        QTimer::singleShot(holdMs_, box, [box] { box->done(QMessageBox::Ok); });
      }
    }
    mostAtOnce = std::max(mostAtOnce, open);
  }

  int holdMs_;
  QTimer timer_;
  QList<QPointer<QMessageBox>> known_;
};
