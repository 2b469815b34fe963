// The error display: every error that leaves the reaction to a click, a pick or a timer
// tick is caught here and shown in one modal box captioned with the application title,
// after which the program carries on. Qt does not let exceptions cross its event loop,
// so every handler of the window runs inside ErrorDisplay::Guard.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace ErrorDisplay {

// The title that captions the error boxes: the program file's name without its folder,
// cut before its first ".", every character after the first in lower case.
QString ApplicationTitleFromPath(const QString& programPath);
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// The box's text: the message, with "." appended when it is not empty and its last
// character's code is above that of "." (a letter or digit, not ')' or '.').
QString BoxText(const QString& message);

// Runs the handler and shows any error it raises. At most one box is up at a time: an
// error raised while one is shown (a poll tick failing again behind the modal box) is
// not stacked on it; a failure that persists shows again at a later tick.
void Guard(QWidget* parent, const std::function<void()>& handler);

// The box itself: stop icon, single OK, modal to the application.
void Show(QWidget* parent, const QString& message);

// True while a box is shown, for the window's tests.
bool Showing();

}  // namespace ErrorDisplay
