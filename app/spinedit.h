// SpinEdit: the address field. A one-line text with two spin buttons whose value is
// derived from the text each time it is read: the text as a whole decimal integer, or
// MinValue for any text that is none. Typing and pasting can never make the text longer
// than MaxLength, while values the field sets itself (arrows, spin buttons, leaving the
// field) may be longer. Up and Down step by Increment and clamp, without wrapping; a
// text outside the range is clamped when the focus leaves; a text that is no integer is
// left as it is.
#pragma once

#include <QLineEdit>
#include <QWidget>

class QToolButton;

class SpinEdit : public QWidget {
  Q_OBJECT

 public:
  explicit SpinEdit(QWidget* parent = nullptr);
  ~SpinEdit() override;

  int MinValue() const { return minValue_; }
  int MaxValue() const { return maxValue_; }
  void SetRange(int minValue, int maxValue);
  int Increment() const { return increment_; }
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int length) { maxLength_ = length; }

  // The text read as an integer; never changes the text and does not clamp it.
  int Value() const;
  // Writes the clamped value back into the text as a plain decimal number.
  void SetValue(int value);
  int Clamp(int value) const;

  QString Text() const;
  // The text as it stood before the edit now being validated.
  const QString& ShownText() const { return shownText_; }
  bool SettingText() const { return settingText_; }
  void SetText(const QString& text);

  QLineEdit* Editor() const { return editor_; }
  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }

  // Spin buttons repeat first after this delay, then at this interval, while held.
  static constexpr int RepeatDelayMs = 400;
  static constexpr int RepeatIntervalMs = 100;

 signals:
  // A typed character or keystroke was refused (the field has beeped).
  void Refused();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void StepBy(int steps);
  bool AcceptsTypedCharacter(QChar c) const;
  void Refuse();

  QLineEdit* editor_;
  QToolButton* up_;
  QToolButton* down_;
  int minValue_ = 0;
  int maxValue_ = 100;
  int increment_ = 1;
  int maxLength_ = 0;
  QString shownText_;
  bool settingText_ = false;
};
