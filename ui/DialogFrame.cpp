#include "ui/DialogFrame.h"

#include <QLayout>
#include <QWidget>

namespace zorvid {

void ShowCloseButtonOnly(QWidget& window) {
  window.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowCloseButtonHint);
}

void FixClientSize(QWidget& window, QSize clientSize) {
  if (QLayout* layout = window.layout()) {
    layout->activate();
    clientSize = clientSize.expandedTo(layout->minimumSize());
  }
  window.setFixedSize(clientSize);
}

}  // namespace zorvid
