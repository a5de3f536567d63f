#pragma once

#include <QString>
#include <QtGlobal>

#include "ui/controls/CustomNumEdit.h"

namespace zorvid {

// A text read as a 32-bit integer. When `ok` is false, `value` is the number formed by the
// digits read before the first invalid character (or before the digit that would overflow),
// without the sign; 0 when there were none.
struct TIntText {
  qint32 value;
  bool ok;
};

// Leading spaces, then an optional "-" or "+", then "$", "x", "X", "0x" or "0X" for
// hexadecimal, then at least one digit and nothing else.
TIntText ParseIntText(const QString& text);

// `value` moved into [minValue, maxValue]. It takes 64 bits so that a step beyond the 32-bit
// limits is clamped instead of wrapping.
qint32 ClampToRange(qint64 value, qint32 minValue, qint32 maxValue);

// The refusal of an entry outside [minValue, maxValue], naming the value `showName`.
QString RangeMessage(const QString& showName, qint32 minValue, qint32 maxValue);

// A numeric edit for an integer within [MinValue, MaxValue].
class TIntEdit : public TMyCustomNumEdit {
  Q_OBJECT

 public:
  explicit TIntEdit(QWidget* parent = nullptr);

  qint32 MinValue() const { return minValue_; }
  // Not above MaxValue; the stored value is clamped again.
  void SetMinValue(qint32 minValue);
  qint32 MaxValue() const { return maxValue_; }
  // Not below MinValue; the stored value is clamped again.
  void SetMaxValue(qint32 maxValue);
  // The text as it stands read as an integer, 0 when it is none; it may lie outside the range
  // until the entry is validated.
  qint32 Value() const;
  // Stores the value clamped into the range and shows it.
  void SetValue(qint32 value);
  qint32 Increment() const { return increment_; }
  // Only a positive increment is taken.
  void SetIncrement(qint32 increment);
  quint16 PageMult() const { return pageMult_; }
  void SetPageMult(quint16 pageMult) { pageMult_ = pageMult; }

  void Step(TStepDirection direction, bool page) override;
  void UpdateText() override;
  bool Validate() override;

 private:
  void Store(qint64 value);
  void ShowRangeMessage();

  qint32 minValue_ = 0;
  qint32 maxValue_ = 100;
  qint32 value_ = 0;
  qint32 increment_ = 1;
  quint16 pageMult_ = 10;
};

}  // namespace zorvid
