#pragma once

// The pieces the main window's pages are made of: numeric fields with the pages' settings,
// choices, groups and rows, and the marks of a value a rule refuses.

#include <QColor>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QList>
#include <QRadioButton>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>

#include "device/ZorvidRules.h"
#include "link/Outcome.h"
#include "ui/controls/IntEdit.h"

namespace zorvid {

// A numeric edit of the pages: corrected on entry, stepped by one, ten a page.
TIntEdit* NewIntEdit(const char* name, qint32 minValue, qint32 maxValue, qint32 value);
// The two radio buttons of one choice, the first checked.
std::pair<QRadioButton*, QRadioButton*> NewChoice(const char* firstName,
                                                  const QString& firstCaption,
                                                  const char* secondName,
                                                  const QString& secondCaption);
QGroupBox* NewGroup(const char* name, const QString& caption);
QHBoxLayout* Row(std::initializer_list<QWidget*> controls);
// A group's buttons, at its right edge.
QHBoxLayout* RightAlignedRow(std::initializer_list<QWidget*> controls);
void SetBold(QWidget* control);
void SetTextColour(QWidget* control, const QColor& colour);

// The background of a field whose value a rule refuses, as the display text's when invalid.
inline const QColor kInvalidTextBackground(255, 160, 160);
// Marks or unmarks a field; a marked field has the property "marked".
void SetMarked(QWidget* field, bool marked);
// A value as it came, even one outside the field's range: the rule names it, the user mends it.
void ShowNumber(TIntEdit* field, std::int32_t value);

// The numeric fields of a page, each with the value a rule may name in it.
struct TMarkableField {
  TSettingField field;
  TIntEdit* edit;
};
// Clears the marks of `fields`, then marks the one `invalid` names, its tooltip saying why.
void MarkInvalidField(const QList<TMarkableField>& fields,
                      const std::optional<TInvalidValue>& invalid);
// What a rule says of the value a save's request would carry.
struct TFieldCheck {
  TStep step;
  std::optional<TInvalidValue> invalid;
};
// The first of `checks` a rule refuses, its field marked: nothing is sent to `address`. Nothing
// when every value may be sent.
std::optional<TOutcome> RefusedSave(const QList<TMarkableField>& fields, TByte address,
                                    std::initializer_list<TFieldCheck> checks);

// Unmarks a field as soon as its text changes.
void UnmarkOnEdit(const QList<TMarkableField>& fields);

}  // namespace zorvid
