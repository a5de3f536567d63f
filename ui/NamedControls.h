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

// A control of class TControl with a caption; the captions the user reads come translated
// (tr), the few that stay as written come as UTF-8.
template <class TControl>
TControl* NewCaptioned(const char* name, const QString& caption) {
  return Named(new TControl(caption), name);
}
template <class TControl>
TControl* NewCaptioned(const char* name, const char* caption) {
  return NewCaptioned<TControl>(name, QString::fromUtf8(caption));
}

inline QLabel* NewLabel(const char* name, const QString& caption) {
  return NewCaptioned<QLabel>(name, caption);
}
inline QLabel* NewLabel(const char* name, const char* caption) {
  return NewCaptioned<QLabel>(name, caption);
}

inline QPushButton* NewButton(const char* name, const QString& caption) {
  return NewCaptioned<QPushButton>(name, caption);
}
inline QPushButton* NewButton(const char* name, const char* caption) {
  return NewCaptioned<QPushButton>(name, caption);
}

inline QCheckBox* NewCheck(const char* name, const QString& caption) {
  return NewCaptioned<QCheckBox>(name, caption);
}
inline QCheckBox* NewCheck(const char* name, const char* caption) {
  return NewCaptioned<QCheckBox>(name, caption);
}

}  // namespace zorvid
