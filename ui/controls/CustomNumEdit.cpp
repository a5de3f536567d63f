#include "ui/controls/CustomNumEdit.h"

#include <algorithm>
#include <cstdlib>

#include <QAction>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace zorvid {

namespace {

// The gap between the end of the text area and the arrows.
constexpr int kTextGap = 2;
constexpr int kMinArrowWidth = 8;
// The angle one notch of a mouse wheel turns, in eighths of a degree.
constexpr int kWheelNotch = 120;

struct TKeyStep {
  TStepDirection direction;
  bool page;
};

std::optional<TKeyStep> StepOfKey(int key) {
  switch (key) {
    case Qt::Key_Up:
      return TKeyStep{sdUp, false};
    case Qt::Key_Down:
      return TKeyStep{sdDown, false};
    case Qt::Key_PageUp:
      return TKeyStep{sdUp, true};
    case Qt::Key_PageDown:
      return TKeyStep{sdDown, true};
    default:
      return std::nullopt;
  }
}

bool IsEnterKey(int key) {
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

bool IsAcceptedCharacter(QChar character) {
  return (character >= u'0' && character <= u'9') || character == u'-';
}

bool IsAcceptedText(const QString& text) {
  return std::all_of(text.begin(), text.end(), IsAcceptedCharacter);
}

// The editing commands a line edit carries out itself that the edit keeps: the context menu
// offers them, so their keys must do the same. Redo follows the platform's keys (Ctrl+Shift+Z;
// Ctrl+Y only where that is the platform's redo), as in every other line edit.
bool IsKeptEditingCommand(const QKeyEvent& event) {
  return event.key() == Qt::Key_C || event.key() == Qt::Key_V ||
         event.matches(QKeySequence::SelectAll) || event.matches(QKeySequence::Undo) ||
         event.matches(QKeySequence::Redo);
}

// Whether the key types a character the edit does not take. Ctrl with a letter stands for a
// control character, of which only copy, paste, select all, undo and redo pass; keys whose
// text is not printable (Backspace, Delete, Tab, Escape) or that have no text type nothing and
// pass.
bool TypesRefusedCharacter(const QKeyEvent& event) {
  const Qt::KeyboardModifiers chord =
      event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (chord == Qt::ControlModifier) {
    const int key = event.key();
    return key >= Qt::Key_A && key <= Qt::Key_Z && !IsKeptEditingCommand(event);
  }
  const QString text = event.text();
  if (text.isEmpty() || !text.front().isPrint()) return false;
  return !IsAcceptedText(text);
}

bool IsPasteOrCut(const QKeyEvent& event) {
  return event.matches(QKeySequence::Paste) || event.matches(QKeySequence::Cut);
}

// Newer Qt versions name the standard actions; older ones are known by their caption.
bool IsStandardAction(const QAction& action, const char* name, const char* caption) {
  return action.objectName() == QLatin1String(name) ||
         action.text().section(u'\t', 0, 0) == QLineEdit::tr(caption);
}

bool ChangesText(const QAction& action) {
  return IsStandardAction(action, "edit-cut", "Cu&t") ||
         IsStandardAction(action, "edit-paste", "&Paste") ||
         IsStandardAction(action, "edit-delete", "Delete");
}

QToolButton* MakeArrow(QWidget* parent, const char* name, Qt::ArrowType arrowType) {
  auto* arrow = new QToolButton(parent);
  arrow->setObjectName(QLatin1String(name));
  arrow->setArrowType(arrowType);
  arrow->setAutoRepeat(true);
  arrow->setFocusPolicy(Qt::NoFocus);
  // The edit's height decides the arrows' size, not their own size hint.
  arrow->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  return arrow;
}

}  // namespace

// The arrows are made in the body: adding a child already sends this edit events, which read
// the members.
TMyCustomNumEdit::TMyCustomNumEdit(QWidget* parent) : QLineEdit(parent) {
  arrows_ = new QWidget(this);
  arrows_->setObjectName(QStringLiteral("arrows"));
  arrows_->setCursor(Qt::ArrowCursor);
  QToolButton* up = MakeArrow(arrows_, "up", Qt::UpArrow);
  QToolButton* down = MakeArrow(arrows_, "down", Qt::DownArrow);
  auto* layout = new QVBoxLayout(arrows_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(up);
  layout->addWidget(down);
  connect(up, &QToolButton::clicked, this, [this] { ArrowClicked(sdUp); });
  connect(down, &QToolButton::clicked, this, [this] { ArrowClicked(sdDown); });
  PlaceArrows();
  // As the spin boxes' (the date and time fields beside it): turning the wheel over the edit
  // gives it the focus.
  setFocusPolicy(Qt::WheelFocus);
}

void TMyCustomNumEdit::SetColored(bool colored) {
  if (colored_ == colored) return;
  colored_ = colored;
  if (!colored_) SetTextColor(Qt::black);
  UpdateText();
}

void TMyCustomNumEdit::Step(TStepDirection /*direction*/, bool /*page*/) {}

void TMyCustomNumEdit::UpdateText() {
  clear();
}

bool TMyCustomNumEdit::Validate() {
  return true;
}

bool TMyCustomNumEdit::ControlHeld() const {
  const Qt::KeyboardModifiers modifiers =
      keyModifiers_.value_or(QGuiApplication::queryKeyboardModifiers());
  return modifiers.testFlag(Qt::ControlModifier);
}

void TMyCustomNumEdit::TakeBackFocus() {
  setFocus(Qt::OtherFocusReason);
  selectAll();
}

void TMyCustomNumEdit::SetTextColor(const QColor& color) {
  QPalette colours = palette();
  colours.setColor(QPalette::Active, QPalette::Text, color);
  colours.setColor(QPalette::Inactive, QPalette::Text, color);
  setPalette(colours);
}

bool TMyCustomNumEdit::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // Stepping and Enter belong to the edit, not to a window's shortcut.
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (StepOfKey(key) || IsEnterKey(key)) {
      event->accept();
      return true;
    }
  }
  if (RefusesPaste(*event)) {
    // A refused drop is one the edit does not take; a refused click is used up.
    event->setAccepted(event->type() == QEvent::MouseButtonRelease);
    return true;
  }
  return QLineEdit::event(event);
}

// Text dropped on the edit and the middle button's selection paste are pastes too.
bool TMyCustomNumEdit::RefusesPaste(const QEvent& event) const {
  if (EditingAllowed()) return false;
  switch (event.type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    case QEvent::MouseButtonRelease:
      return static_cast<const QMouseEvent&>(event).button() == Qt::MiddleButton;
    default:
      return false;
  }
}

void TMyCustomNumEdit::keyPressEvent(QKeyEvent* event) {
  if (const std::optional<TKeyStep> step = StepOfKey(event->key())) {
    const QScopedValueRollback<decltype(keyModifiers_)> during(keyModifiers_, event->modifiers());
    StepByUser(step->direction, step->page);
    event->accept();
    return;
  }
  if (IsEnterKey(event->key())) {
    // Taken here so that it never reaches a dialog's default button.
    event->accept();
    ValidateOnce();
    return;
  }
  if ((IsPasteOrCut(*event) && !EditingAllowed()) || TypesRefusedCharacter(*event)) {
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

// Characters composed by an input method are typed characters as well.
void TMyCustomNumEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (IsAcceptedText(event->commitString())) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  QInputMethodEvent withoutCommit(event->preeditString(), event->attributes());
  QLineEdit::inputMethodEvent(&withoutCommit);
  event->accept();
}

// Steps as a spin box does, with or without the focus: a notch up is one step up, Ctrl makes
// it ten as with the arrow keys. High-resolution wheels and touchpads send parts of a notch,
// which add up; turning back drops the part turned the other way.
void TMyCustomNumEdit::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (isReadOnly() || delta == 0) {
    // Left to what lies beneath, a scrolling view for one.
    event->ignore();
    return;
  }
  if ((delta > 0) != (wheelRemainder_ > 0)) wheelRemainder_ = 0;
  wheelRemainder_ += delta;
  const int notches = wheelRemainder_ / kWheelNotch;
  wheelRemainder_ -= notches * kWheelNotch;
  const QScopedValueRollback<decltype(keyModifiers_)> during(keyModifiers_, event->modifiers());
  for (int i = 0; i < std::abs(notches); ++i)
    Step(notches > 0 ? sdUp : sdDown, false);
  event->accept();
}

void TMyCustomNumEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  // The user has not left the edit when its window loses activation or a popup opens.
  const Qt::FocusReason reason = event->reason();
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return;
  if (!ValidateOnce()) TakeBackFocus();
}

// The message box that Validate may open takes the focus itself; that must not validate again.
bool TMyCustomNumEdit::ValidateOnce() {
  if (validating_) return true;
  const QScopedValueRollback guard(validating_, true);
  return Validate();
}

void TMyCustomNumEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  PlaceArrows();
}

void TMyCustomNumEdit::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  // Enabled reaches the arrows by itself, being their parent's; read-only does not.
  if (event->type() == QEvent::ReadOnlyChange) arrows_->setEnabled(!isReadOnly());
}

void TMyCustomNumEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  if (!EditingAllowed()) {
    for (QAction* action : menu->actions()) {
      if (ChangesText(*action)) action->setEnabled(false);
    }
  }
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

// A read-only edit is not changed by the user, stepping included.
void TMyCustomNumEdit::StepByUser(TStepDirection direction, bool page) {
  if (!isReadOnly()) Step(direction, page);
}

void TMyCustomNumEdit::ArrowClicked(TStepDirection direction) {
  StepByUser(direction, false);
  if ((focusPolicy() & Qt::TabFocus) && isEnabled()) setFocus(Qt::MouseFocusReason);
}

// The arrows fill the edit's height but for a pixel above and below and take three quarters
// of that as their width, so they grow with the edit; the text stops short of them.
void TMyCustomNumEdit::PlaceArrows() {
  // Before its first placement a widget has a default size that no row would give it (a
  // parentless one is 640 x 480): the arrows take the height the edit will ask for.
  const int editHeight = testAttribute(Qt::WA_Resized) ? height() : QLineEdit::sizeHint().height();
  const int arrowsHeight = std::max(0, editHeight - 2);
  const int arrowsWidth = std::max(kMinArrowWidth, arrowsHeight * 3 / 4);
  const int rightInset = 1;
  arrows_->setGeometry(width() - rightInset - arrowsWidth, 1, arrowsWidth, arrowsHeight);
  setTextMargins(0, 0, arrowsWidth + rightInset + kTextGap, 0);
}

}  // namespace zorvid
