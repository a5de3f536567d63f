#include "ui/ServiceGesture.h"

#include <QMouseEvent>
#include <QWidget>

namespace zorvid {

TServiceGesture::TServiceGesture(QWidget* panel, int separatorHeight)
    : QObject(panel), panel_(panel), separatorHeight_(separatorHeight) {
  panel->installEventFilter(this);
}

bool TServiceGesture::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panel_ && event->type() == QEvent::MouseButtonDblClick) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->modifiers().testFlag(Qt::ControlModifier) &&
        mouse->position().y() >= separatorHeight_) {
      emit triggered();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace zorvid
