#pragma once

#include <optional>

#include <QColor>
#include <QLineEdit>
#include <QString>

namespace zorvid {

enum TStepDirection { sdUp, sdDown };

// A single-line edit for a number, with up/down arrows inside its right edge. It lets the user
// type digits and "-" freely and checks the entry only when the user leaves the edit or presses
// Enter, so a half-typed number is never refused on the way. Entering it by keyboard selects
// its whole text (QLineEdit's own behaviour). The mouse wheel steps it like a spin box.
// Descendants supply the number handling through Step, UpdateText and Validate.
class TMyCustomNumEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TMyCustomNumEdit(QWidget* parent = nullptr);

  // The value's name in the range message.
  QString ShowName() const { return showName_; }
  void SetShowName(const QString& showName) { showName_ = showName; }
  // Whether an out-of-range or malformed entry is corrected instead of refused.
  bool AutoCorrect() const { return autoCorrect_; }
  void SetAutoCorrect(bool autoCorrect) { autoCorrect_ = autoCorrect; }
  // Whether an invalid entry sounds the system beep.
  bool FailureBeep() const { return failureBeep_; }
  void SetFailureBeep(bool failureBeep) { failureBeep_ = failureBeep; }
  // When false, pasting and cutting are refused.
  bool EditorEnabled() const { return editorEnabled_; }
  void SetEditorEnabled(bool editorEnabled) { editorEnabled_ = editorEnabled; }
  // Whether the text is coloured by the sign of the value.
  bool Colored() const { return colored_; }
  void SetColored(bool colored);

  // Changes the value by one step (by a page when `page`).
  virtual void Step(TStepDirection direction, bool page);
  // Shows the stored value.
  virtual void UpdateText();
  // Checks and takes over the entered text; false when the entry is refused.
  virtual bool Validate();

 protected:
  // Whether Ctrl is held now; while a key or the wheel is handled, as that event says.
  bool ControlHeld() const;
  // After a refused entry: the focus back into the edit, its whole text selected.
  void TakeBackFocus();
  // The text colour of the active and inactive edit; a disabled edit stays greyed.
  void SetTextColor(const QColor& color);

  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  bool EditingAllowed() const { return editorEnabled_ && !isReadOnly(); }
  bool RefusesPaste(const QEvent& event) const;
  void StepByUser(TStepDirection direction, bool page);
  void ArrowClicked(TStepDirection direction);
  bool ValidateOnce();
  void PlaceArrows();

  QWidget* arrows_ = nullptr;
  QString showName_ = QStringLiteral("Hodnota");
  bool autoCorrect_ = true;
  bool failureBeep_ = false;
  bool editorEnabled_ = true;
  bool colored_ = false;
  bool validating_ = false;
  // The part of a wheel notch turned so far, in eighths of a degree; negative when down.
  int wheelRemainder_ = 0;
  std::optional<Qt::KeyboardModifiers> keyModifiers_;
};

}  // namespace zorvid
