#include "ui/PageControls.h"

#include <QCoreApplication>
#include <QPalette>

#include "ui/NamedControls.h"
#include "ui/OutcomeTexts.h"

namespace zorvid {

TIntEdit* NewIntEdit(const char* name, qint32 minValue, qint32 maxValue, qint32 value) {
  auto* edit = Named(new TIntEdit, name);
  edit->SetMinValue(minValue);
  edit->SetMaxValue(maxValue);
  edit->SetValue(value);
  edit->SetShowName(QCoreApplication::translate("zorvid::TfMain", "Hodnota"));
  edit->SetColored(false);
  edit->SetIncrement(1);
  edit->SetPageMult(10);
  edit->SetAutoCorrect(true);
  return edit;
}

std::pair<QRadioButton*, QRadioButton*> NewChoice(const char* firstName,
                                                  const QString& firstCaption,
                                                  const char* secondName,
                                                  const QString& secondCaption) {
  auto* first = NewCaptioned<QRadioButton>(firstName, firstCaption);
  first->setChecked(true);
  return {first, NewCaptioned<QRadioButton>(secondName, secondCaption)};
}

QGroupBox* NewGroup(const char* name, const QString& caption) {
  return NewCaptioned<QGroupBox>(name, caption);
}

QHBoxLayout* Row(std::initializer_list<QWidget*> controls) {
  auto* row = new QHBoxLayout;
  for (QWidget* control : controls)
    row->addWidget(control);
  row->addStretch(1);
  return row;
}

QHBoxLayout* RightAlignedRow(std::initializer_list<QWidget*> controls) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (QWidget* control : controls)
    row->addWidget(control);
  return row;
}

void SetBold(QWidget* control) {
  QFont font = control->font();
  font.setBold(true);
  control->setFont(font);
}

void SetTextColour(QWidget* control, const QColor& colour) {
  QPalette palette = control->palette();
  palette.setColor(QPalette::WindowText, colour);
  control->setPalette(palette);
}

void SetMarked(QWidget* field, bool marked) {
  if (!marked) {
    if (field->property("marked").toBool()) field->setPalette(QPalette());
    field->setProperty("marked", false);
    field->setToolTip(QString());
    return;
  }
  QPalette palette = field->palette();
  palette.setColor(QPalette::Base, kInvalidTextBackground);
  field->setPalette(palette);
  field->setProperty("marked", true);
}

void ShowNumber(TIntEdit* field, std::int32_t value) {
  if (value >= field->MinValue() && value <= field->MaxValue())
    field->SetValue(value);
  else
    field->setText(QString::number(value));
}

void MarkInvalidField(const QList<TMarkableField>& fields,
                      const std::optional<TInvalidValue>& invalid) {
  for (const TMarkableField& field : fields) {
    const bool named = invalid && invalid->field == field.field;
    SetMarked(field.edit, named);
    if (named) field.edit->setToolTip(ShownInvalidValue(*invalid));
  }
}

std::optional<TOutcome> RefusedSave(const QList<TMarkableField>& fields, TByte address,
                                    std::initializer_list<TFieldCheck> checks) {
  for (const TFieldCheck& check : checks) {
    if (!check.invalid) continue;
    MarkInvalidField(fields, check.invalid);
    return NothingSent(check.step, address, *check.invalid);
  }
  return std::nullopt;
}

void UnmarkOnEdit(const QList<TMarkableField>& fields) {
  for (const TMarkableField& field : fields)
    QObject::connect(field.edit, &QLineEdit::textChanged, field.edit,
                     [edit = field.edit] { SetMarked(edit, false); });
}

}  // namespace zorvid
