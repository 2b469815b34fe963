#include "spinedit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QToolButton>
#include <QValidator>

#include <algorithm>
#include <charconv>

namespace {

// Holds typing and pasting to the field's maximum length: an edit that would leave the
// text longer than the limit and no shorter than before is refused, so deleting from a
// longer text that the field set itself still works. Text set by the program is not
// checked here (SetText), which is what lets arrows write "126" into a one-character
// field.
class LengthLimit : public QValidator {
 public:
  LengthLimit(const SpinEdit* field, QObject* parent) : QValidator(parent), field_(field) {}

  State validate(QString& input, int&) const override {
    if (field_->SettingText()) return Acceptable;
    const int limit = field_->MaxLength();
    const QString& before = field_->ShownText();
    if (limit > 0 && input.size() > limit && input.size() >= before.size() && input != before)
      return Invalid;
    return Acceptable;
  }

 private:
  const SpinEdit* field_;
};

QToolButton* MakeSpinButton(QWidget* parent, Qt::ArrowType arrow) {
  auto* button = new QToolButton(parent);
  button->setArrowType(arrow);
  button->setFocusPolicy(Qt::NoFocus);
  button->setAutoRepeat(true);
  button->setAutoRepeatDelay(SpinEdit::RepeatDelayMs);
  button->setAutoRepeatInterval(SpinEdit::RepeatIntervalMs);
  return button;
}

}  // namespace

SpinEdit::SpinEdit(QWidget* parent)
    : QWidget(parent),
      editor_(new QLineEdit(this)),
      up_(MakeSpinButton(this, Qt::UpArrow)),
      down_(MakeSpinButton(this, Qt::DownArrow)) {
  editor_->setValidator(new LengthLimit(this, editor_));
  editor_->installEventFilter(this);
  editor_->setAcceptDrops(false);
  connect(editor_, &QLineEdit::textChanged, this, [this](const QString& text) { shownText_ = text; });
  setFocusProxy(editor_);
  setFocusPolicy(Qt::StrongFocus);
  connect(up_, &QToolButton::clicked, this, [this] { StepBy(1); });
  connect(down_, &QToolButton::clicked, this, [this] { StepBy(-1); });
}

// The editor outlives this object's own members (QWidget deletes its children later) and
// loses the focus while it goes, which would ask the length limit, and so this half-gone
// field, to validate: detach the limit first.
SpinEdit::~SpinEdit() { editor_->setValidator(nullptr); }

void SpinEdit::SetRange(int minValue, int maxValue) {
  minValue_ = minValue;
  maxValue_ = maxValue;
}

QString SpinEdit::Text() const { return editor_->text(); }

// QLineEdit validates text set by the program too; the field's own values may be longer
// than the typing limit, and a refusal here would also stop QLineEdit from undoing the
// next over-long keystroke.
void SpinEdit::SetText(const QString& text) {
  settingText_ = true;
  editor_->setText(text);
  settingText_ = false;
}

int SpinEdit::Value() const {
  const QByteArray text = editor_->text().toLatin1();
  const char* first = text.constData();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;  // from_chars takes '-' but not '+'
  int value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (first == last || error != std::errc() || end != last) return minValue_;
  return value;
}

int SpinEdit::Clamp(int value) const {
  if (minValue_ == maxValue_) return value;
  return std::clamp(value, minValue_, maxValue_);
}

void SpinEdit::SetValue(int value) { SetText(QString::number(Clamp(value))); }

void SpinEdit::StepBy(int steps) {
  SetValue(Value() + steps * increment_);
  editor_->selectAll();
}

bool SpinEdit::AcceptsTypedCharacter(QChar c) const {
  if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) return false;
  return c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-') ||
         c == QLocale().decimalPoint().front() || c.category() == QChar::Other_Control;
}

void SpinEdit::Refuse() {
  QApplication::beep();
  emit Refused();
}

bool SpinEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched != editor_) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
        StepBy(key->key() == Qt::Key_Up ? 1 : -1);
        return true;
      }
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        Refuse();
        return true;
      }
      const QString text = key->text();
      if (!text.isEmpty() && !key->matches(QKeySequence::Paste) &&
          !(key->modifiers() & Qt::ControlModifier) && !AcceptsTypedCharacter(text.front())) {
        Refuse();
        return true;
      }
      return false;
    }
    case QEvent::FocusIn: {
      // Entering by keyboard or by the program selects the whole text; a mouse click
      // places the cursor where it was clicked.
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::MouseFocusReason)
        QMetaObject::invokeMethod(editor_, &QLineEdit::selectAll, Qt::QueuedConnection);
      return false;
    }
    case QEvent::FocusOut: {
      const int value = Value();
      if (Clamp(value) != value) SetValue(value);
      return false;
    }
    default:
      return false;
  }
}

void SpinEdit::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int buttonWidth = 15;
  const int half = height() / 2;
  editor_->setGeometry(0, 0, width() - buttonWidth, height());
  up_->setGeometry(width() - buttonWidth, 0, buttonWidth, half);
  down_->setGeometry(width() - buttonWidth, half, buttonWidth, height() - half);
}
