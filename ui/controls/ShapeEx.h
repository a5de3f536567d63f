#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <array>
#include <cstddef>

class QEnterEvent;
class QEvent;
class QMouseEvent;
class QPainter;
class QPaintEvent;

namespace zorvid {

enum TShapeExShape { stRectangle, stSquare, stRoundRect, stRoundSquare, stEllipse, stCircle };

// The three colours of one visual state.
struct TShapeExColorStyle {
  QColor BrushColor = Qt::white;
  QColor BorderColor = Qt::black;
  QColor FontColor = Qt::black;

  friend bool operator==(const TShapeExColorStyle&, const TShapeExColorStyle&) = default;
};

// One colour style per visual state, shared by any number of shapes. Shapes read it when they
// paint; changed() lets them repaint when it is edited while they are shown.
class TShapeExColorSchema : public QObject {
  Q_OBJECT

 public:
  explicit TShapeExColorSchema(QObject* parent = nullptr);

  const TShapeExColorStyle& DefaultColorStyle() const { return Style(kDefault); }
  const TShapeExColorStyle& MouseOverDownColorStyle() const { return Style(kMouseOverDown); }
  const TShapeExColorStyle& MouseOverUpColorStyle() const { return Style(kMouseOverUp); }
  const TShapeExColorStyle& DownColorStyle() const { return Style(kDown); }
  const TShapeExColorStyle& PressedDownColorStyle() const { return Style(kPressedDown); }
  const TShapeExColorStyle& PressedUpColorStyle() const { return Style(kPressedUp); }
  const TShapeExColorStyle& DisabledColorStyle() const { return Style(kDisabled); }

  void SetDefaultColorStyle(const TShapeExColorStyle& style) { SetStyle(kDefault, style); }
  void SetMouseOverDownColorStyle(const TShapeExColorStyle& style) {
    SetStyle(kMouseOverDown, style);
  }
  void SetMouseOverUpColorStyle(const TShapeExColorStyle& style) { SetStyle(kMouseOverUp, style); }
  void SetDownColorStyle(const TShapeExColorStyle& style) { SetStyle(kDown, style); }
  void SetPressedDownColorStyle(const TShapeExColorStyle& style) { SetStyle(kPressedDown, style); }
  void SetPressedUpColorStyle(const TShapeExColorStyle& style) { SetStyle(kPressedUp, style); }
  void SetDisabledColorStyle(const TShapeExColorStyle& style) { SetStyle(kDisabled, style); }

  bool MouseOverEnabled() const { return mouseOverEnabled_; }
  void SetMouseOverEnabled(bool enabled);
  bool PressedEnabled() const { return pressedEnabled_; }
  void SetPressedEnabled(bool enabled);

  // Disabled wins over everything; then pressed (if switched on), then mouse over (if
  // switched on), each in its down or up variant.
  const TShapeExColorStyle& GetStyle(bool enabled, bool down, bool mouseOver, bool pressed) const;

 signals:
  void changed();

 private:
  enum TSlot : std::size_t {
    kDefault,
    kMouseOverDown,
    kMouseOverUp,
    kDown,
    kPressedDown,
    kPressedUp,
    kDisabled,
    kSlotCount
  };

  const TShapeExColorStyle& Style(TSlot slot) const { return styles_[slot]; }
  void SetStyle(TSlot slot, const TShapeExColorStyle& style);
  void SetSwitch(bool& field, bool value);

  std::array<TShapeExColorStyle, kSlotCount> styles_{};
  bool mouseOverEnabled_ = false;
  bool pressedEnabled_ = false;
};

// The box a shape is drawn in within a control of the given size, with GDI-style edges: an
// outline of pen 1 lies on its first and last columns and rows, right and bottom exclusive.
QRect ShapeExBox(TShapeExShape shape, QSize controlSize, int penWidth);

// Where a caption of the given size starts so that it sits centred in the box.
QPoint ShapeExCaptionTopLeft(const QRect& box, QSize textSize);

// A rectangle, square, rounded rectangle or square, ellipse or circle with an optional
// centred caption that can act as a toggle, alone or in a radio group with the shapes beside
// it in the same parent. Without a background of its own: the parent shows where it does not
// paint. Takes no keyboard focus.
class TShapeEx : public QWidget {
  Q_OBJECT

 public:
  explicit TShapeEx(QWidget* parent = nullptr);

  TShapeExShape Shape() const { return shape_; }
  void SetShape(TShapeExShape shape);
  // Width and height of the corner ellipse of the rounded kinds.
  int RoundCorner() const { return roundCorner_; }
  void SetRoundCorner(int roundCorner);
  // Not owned; forgotten when it is destroyed.
  TShapeExColorSchema* ColorSchema() const { return colorSchema_; }
  void SetColorSchema(TShapeExColorSchema* schema);
  const QString& Caption() const { return caption_; }
  void SetCaption(const QString& caption);

  bool Down() const { return down_; }
  // Going down releases every shape of the same non-zero group directly in the same parent.
  void SetDown(bool down);
  int Group() const { return group_; }
  void SetGroup(int group) { group_ = group; }
  bool AllowDown() const { return allowDown_; }
  void SetAllowDown(bool allow) { allowDown_ = allow; }
  bool AllowUp() const { return allowUp_; }
  void SetAllowUp(bool allow) { allowUp_ = allow; }
  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }

  // The shape's own colours; a schema overwrites them with its style's whenever it paints.
  QColor BrushColor() const { return brushColor_; }
  void SetBrushColor(const QColor& color);
  QColor PenColor() const { return penColor_; }
  void SetPenColor(const QColor& color);
  int PenWidth() const { return penWidth_; }
  // Negative widths count as 0: no outline.
  void SetPenWidth(int width);
  QColor FontColor() const { return fontColor_; }
  void SetFontColor(const QColor& color);

  bool IsMouseOver() const { return mouseOver_; }
  bool IsPressed() const { return pressed_; }

  QSize sizeHint() const override;

 signals:
  void mouseDown(Qt::MouseButton button);
  void mouseUp(Qt::MouseButton button);
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // Assigns and repaints when the value changes.
  template <class T>
  void Change(T& field, const T& value);
  void AdoptSchemaColors();
  void ReleaseGroup();
  void ToggleByClick();
  void PaintShape(QPainter& painter, const QRect& box) const;
  void PaintCaption(QPainter& painter, const QRect& box) const;

  TShapeExShape shape_ = stRectangle;
  int roundCorner_ = 0;
  QPointer<TShapeExColorSchema> colorSchema_;
  QString caption_;
  bool down_ = false;
  int group_ = 0;
  bool allowDown_ = false;
  bool allowUp_ = false;
  int tag_ = 0;
  QColor brushColor_ = Qt::white;
  QColor penColor_ = Qt::black;
  int penWidth_ = 1;
  QColor fontColor_ = Qt::black;
  bool mouseOver_ = false;
  bool pressed_ = false;
};

}  // namespace zorvid
