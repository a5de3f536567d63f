#pragma once

// Controls made with their object name and caption in one step: every control of a window is
// found by its given name (tests, accessibility, style sheets).
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace zorvid {

template <class TControl>
TControl* Named(TControl* control, const char* name) {
  control->setObjectName(name);
  return control;
}

// A control of class TControl with a UTF-8 caption.
template <class TControl>
TControl* NewCaptioned(const char* name, const char* caption) {
  return Named(new TControl(QString::fromUtf8(caption)), name);
}

inline QLabel* NewLabel(const char* name, const char* caption) {
  return NewCaptioned<QLabel>(name, caption);
}

inline QPushButton* NewButton(const char* name, const char* caption) {
  return NewCaptioned<QPushButton>(name, caption);
}

inline QCheckBox* NewCheck(const char* name, const char* caption) {
  return NewCaptioned<QCheckBox>(name, caption);
}

}  // namespace zorvid
