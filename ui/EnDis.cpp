#include "ui/EnDis.h"

#include <exception>

namespace zorvid {
namespace {

void EnableControl(QWidget* control, bool state, bool recursive) {
  if (!control) return;
  try {
    if (recursive)
      EnableControls(control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly), state, true);
    control->setEnabled(state);
  } catch (const std::exception&) {
    // One control that cannot change must not keep the others in their old state.
  }
}

}  // namespace

void EnableControls(const QList<QWidget*>& controls, bool state, bool recursive) {
  for (QWidget* control : controls)
    EnableControl(control, state, recursive);
}

}  // namespace zorvid
