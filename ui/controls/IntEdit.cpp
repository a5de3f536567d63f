#include "ui/controls/IntEdit.h"

#include <algorithm>
#include <limits>

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>

namespace zorvid {

namespace {

constexpr qint64 kMaxMagnitude = std::numeric_limits<qint32>::max();
// The magnitude of the lowest 32-bit integer, one more than the highest.
constexpr qint64 kMaxNegativeMagnitude = kMaxMagnitude + 1;

int DigitValue(QChar character, int base) {
  const char16_t c = character.unicode();
  int digit = -1;
  if (c >= u'0' && c <= u'9') digit = c - u'0';
  if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
  if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
  return digit < base ? digit : -1;
}

// The digits read so far, without the sign. Only a negative entry reaches 2147483648, beyond
// the positive range; its last digit then counts as the one that would overflow.
TIntText Failure(qint64 magnitude, int base) {
  return {static_cast<qint32>(magnitude <= kMaxMagnitude ? magnitude : magnitude / base), false};
}

QColor SignColor(qint32 value) {
  if (value < 0) return QColor(128, 0, 0);
  if (value > 0) return QColor(0, 0, 128);
  return QColor(Qt::black);
}

}  // namespace

TIntText ParseIntText(const QString& text) {
  const qsizetype length = text.size();
  auto at = [&](qsizetype i) { return i < length ? text[i] : QChar(); };
  qsizetype i = 0;
  while (at(i) == u' ')
    ++i;
  const bool negative = at(i) == u'-';
  if (negative || at(i) == u'+') ++i;
  int base = 10;
  if (at(i) == u'$' || at(i) == u'x' || at(i) == u'X') {
    base = 16;
    i += 1;
  } else if (at(i) == u'0' && (at(i + 1) == u'x' || at(i + 1) == u'X')) {
    base = 16;
    i += 2;
  }
  const qint64 limit = negative ? kMaxNegativeMagnitude : kMaxMagnitude;
  qint64 magnitude = 0;
  const qsizetype firstDigit = i;
  for (; i < length; ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0 || magnitude * base + digit > limit) return Failure(magnitude, base);
    magnitude = magnitude * base + digit;
  }
  if (i == firstDigit) return {0, false};
  return {static_cast<qint32>(negative ? -magnitude : magnitude), true};
}

qint32 ClampToRange(qint64 value, qint32 minValue, qint32 maxValue) {
  if (value < minValue) value = minValue;
  if (value > maxValue) value = maxValue;
  return static_cast<qint32>(value);
}

QString RangeMessage(const QString& showName, qint32 minValue, qint32 maxValue) {
  return QCoreApplication::translate("zorvid::TIntEdit", "%1 musí být v rozmezí od %2 do %3!")
      .arg(showName, QString::number(minValue), QString::number(maxValue));
}

TIntEdit::TIntEdit(QWidget* parent) : TMyCustomNumEdit(parent) {
  UpdateText();
}

void TIntEdit::SetMinValue(qint32 minValue) {
  minValue_ = std::min(minValue, maxValue_);
  Store(value_);
}

void TIntEdit::SetMaxValue(qint32 maxValue) {
  maxValue_ = std::max(maxValue, minValue_);
  Store(value_);
}

qint32 TIntEdit::Value() const {
  const TIntText parsed = ParseIntText(text());
  return parsed.ok ? parsed.value : 0;
}

void TIntEdit::SetValue(qint32 value) {
  Store(value);
}

void TIntEdit::SetIncrement(qint32 increment) {
  if (increment > 0) increment_ = increment;
}

void TIntEdit::Step(TStepDirection direction, bool page) {
  const TIntText typed = ParseIntText(text());
  Store(typed.ok ? typed.value : value_);
  qint64 steps = ControlHeld() ? 10 : 1;
  if (page) steps *= pageMult_;
  const qint64 change = steps * increment_;
  Store(direction == sdUp ? qint64{value_} + change : qint64{value_} - change);
}

void TIntEdit::UpdateText() {
  if (Colored()) SetTextColor(SignColor(value_));
  setText(QString::number(value_));
}

bool TIntEdit::Validate() {
  const TIntText entered = ParseIntText(text());
  if (entered.ok &&
      (minValue_ == maxValue_ || (minValue_ <= entered.value && entered.value <= maxValue_))) {
    Store(entered.value);
    return true;
  }
  if (FailureBeep()) QApplication::beep();
  if (AutoCorrect()) {
    Store(entered.value);
    return true;
  }
  ShowRangeMessage();
  TakeBackFocus();
  return false;
}

void TIntEdit::Store(qint64 value) {
  value_ = ClampToRange(value, minValue_, maxValue_);
  UpdateText();
}

void TIntEdit::ShowRangeMessage() {
  QMessageBox box(QMessageBox::Question, QGuiApplication::applicationDisplayName(),
                  RangeMessage(ShowName(), minValue_, maxValue_), QMessageBox::Ok, this);
  box.exec();
}

}  // namespace zorvid
