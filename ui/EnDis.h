#pragma once

#include <QList>
#include <QWidget>

namespace zorvid {

// Sets the enabled state of each control, in list order. With `recursive` each control's child
// widgets are set first, depth first, so children are always set before their parent. An item
// that is missing (null) or whose change raises is skipped and the rest are still set.
void EnableControls(const QList<QWidget*>& controls, bool state, bool recursive);

}  // namespace zorvid
