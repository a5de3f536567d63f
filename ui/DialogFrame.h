#pragma once

#include <QSize>

class QWidget;

namespace zorvid {

// Gives a window a title bar with a close button only (no minimise, maximise or help button).
void ShowCloseButtonOnly(QWidget& window);

// Fixes a window's client area at `clientSize` (logical pixels), or at what its layout needs
// when the desktop's font needs more room, so that no caption is ever clipped.
void FixClientSize(QWidget& window, QSize clientSize);

}  // namespace zorvid
