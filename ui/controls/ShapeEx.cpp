#include "ui/controls/ShapeEx.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>

namespace zorvid {

// ---- TShapeExColorSchema ----

TShapeExColorSchema::TShapeExColorSchema(QObject* parent) : QObject(parent) {}

void TShapeExColorSchema::SetStyle(TSlot slot, const TShapeExColorStyle& style) {
  if (styles_[slot] == style) return;
  styles_[slot] = style;
  emit changed();
}

void TShapeExColorSchema::SetSwitch(bool& field, bool value) {
  if (field == value) return;
  field = value;
  emit changed();
}

void TShapeExColorSchema::SetMouseOverEnabled(bool enabled) {
  SetSwitch(mouseOverEnabled_, enabled);
}

void TShapeExColorSchema::SetPressedEnabled(bool enabled) {
  SetSwitch(pressedEnabled_, enabled);
}

const TShapeExColorStyle& TShapeExColorSchema::GetStyle(bool enabled, bool down, bool mouseOver,
                                                        bool pressed) const {
  if (!enabled) return Style(kDisabled);
  if (pressed && pressedEnabled_) return Style(down ? kPressedDown : kPressedUp);
  if (mouseOver && mouseOverEnabled_) return Style(down ? kMouseOverDown : kMouseOverUp);
  return Style(down ? kDown : kDefault);
}

// ---- geometry ----

namespace {

bool IsSquareKind(TShapeExShape shape) {
  return shape == stSquare || shape == stRoundSquare || shape == stCircle;
}

bool IsStraightKind(TShapeExShape shape) {
  return shape == stRectangle || shape == stSquare;
}

}  // namespace

QRect ShapeExBox(TShapeExShape shape, QSize controlSize, int penWidth) {
  int x = penWidth / 2;
  int y = x;
  int w = controlSize.width();
  int h = controlSize.height();
  if (penWidth != 0) {
    w += 1 - penWidth;
    h += 1 - penWidth;
  }
  if (IsSquareKind(shape)) {
    const int side = std::min(w, h);
    x += (w - side) / 2;
    y += (h - side) / 2;
    w = h = side;
  }
  return QRect(x, y, w, h);
}

QPoint ShapeExCaptionTopLeft(const QRect& box, QSize textSize) {
  const double left = box.x() + box.width() / 2.0 - textSize.width() / 2.0;
  const double top = box.y() + box.height() / 2.0 - textSize.height() / 2.0;
  return QPoint(static_cast<int>(std::lround(left)), static_cast<int>(std::lround(top)) - 1);
}

// ---- TShapeEx ----

TShapeEx::TShapeEx(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
}

template <class T>
void TShapeEx::Change(T& field, const T& value) {
  if (field == value) return;
  field = value;
  update();
}

void TShapeEx::SetShape(TShapeExShape shape) {
  Change(shape_, shape);
}

void TShapeEx::SetRoundCorner(int roundCorner) {
  Change(roundCorner_, roundCorner);
}

void TShapeEx::SetColorSchema(TShapeExColorSchema* schema) {
  if (colorSchema_ == schema) return;
  if (colorSchema_) disconnect(colorSchema_, nullptr, this, nullptr);
  colorSchema_ = schema;
  if (schema) connect(schema, &TShapeExColorSchema::changed, this, qOverload<>(&QWidget::update));
  update();
}

void TShapeEx::SetCaption(const QString& caption) {
  setAccessibleName(caption);
  Change(caption_, caption);
}

void TShapeEx::SetDown(bool down) {
  if (down == down_) return;
  if (down && group_ != 0) ReleaseGroup();
  down_ = down;
  update();
}

void TShapeEx::ReleaseGroup() {
  QWidget* parent = parentWidget();
  if (!parent) return;
  for (TShapeEx* sibling : parent->findChildren<TShapeEx*>(Qt::FindDirectChildrenOnly)) {
    if (sibling->Group() == group_) sibling->SetDown(false);
  }
}

void TShapeEx::SetBrushColor(const QColor& color) {
  Change(brushColor_, color);
}

void TShapeEx::SetPenColor(const QColor& color) {
  Change(penColor_, color);
}

void TShapeEx::SetPenWidth(int width) {
  Change(penWidth_, std::max(width, 0));
}

void TShapeEx::SetFontColor(const QColor& color) {
  Change(fontColor_, color);
}

QSize TShapeEx::sizeHint() const {
  return QSize(65, 65);
}

// The schema's colours become the shape's own, so that the getters tell what is shown. Plain
// assignments: this runs inside a paint and must not ask for another.
void TShapeEx::AdoptSchemaColors() {
  if (!colorSchema_) return;
  const TShapeExColorStyle& style =
      colorSchema_->GetStyle(isEnabled(), down_, mouseOver_, pressed_);
  brushColor_ = style.BrushColor;
  fontColor_ = style.FontColor;
  penColor_ = style.BorderColor;
}

void TShapeEx::paintEvent(QPaintEvent* /*event*/) {
  AdoptSchemaColors();
  const QRect box = ShapeExBox(shape_, size(), penWidth_);
  QPainter painter(this);
  PaintShape(painter, box);
  if (!caption_.isEmpty()) PaintCaption(painter, box);
}

void TShapeEx::PaintShape(QPainter& painter, const QRect& box) const {
  // Straight edges lie on whole pixels and stay sharp without smoothing; curves need it.
  // Either way the outer edge of the outline is the box's edge, so nothing leaks past it.
  painter.setRenderHint(QPainter::Antialiasing, !IsStraightKind(shape_));
  painter.setBrush(brushColor_);
  QRectF outline(box);
  if (penWidth_ > 0) {
    QPen pen(penColor_, penWidth_);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    // The pen is centred on its path: through the middle of the box's outermost pixels.
    outline.adjust(0.5, 0.5, -0.5, -0.5);
  } else {
    painter.setPen(Qt::NoPen);
  }
  switch (shape_) {
    case stRectangle:
    case stSquare:
      painter.drawRect(outline);
      break;
    case stRoundRect:
    case stRoundSquare: {
      const qreal radius = roundCorner_ / 2.0;
      painter.drawRoundedRect(outline, radius, radius, Qt::AbsoluteSize);
      break;
    }
    case stEllipse:
    case stCircle:
      painter.drawEllipse(outline);
      break;
  }
}

void TShapeEx::PaintCaption(QPainter& painter, const QRect& box) const {
  const QFontMetrics metrics(font());
  const QSize textSize(metrics.horizontalAdvance(caption_), metrics.height());
  const QPoint topLeft = ShapeExCaptionTopLeft(box, textSize);
  painter.setFont(font());
  painter.setPen(fontColor_);
  painter.setBackgroundMode(Qt::OpaqueMode);
  painter.setBackground(brushColor_);
  painter.drawText(topLeft + QPoint(0, metrics.ascent()), caption_);
}

void TShapeEx::enterEvent(QEnterEvent* event) {
  mouseOver_ = true;
  update();
  QWidget::enterEvent(event);
}

void TShapeEx::leaveEvent(QEvent* event) {
  mouseOver_ = false;
  update();
  QWidget::leaveEvent(event);
}

void TShapeEx::mousePressEvent(QMouseEvent* event) {
  event->accept();
  const QPointer<TShapeEx> alive(this);
  emit mouseDown(event->button());
  if (!alive) return;
  pressed_ = true;
  update();
}

void TShapeEx::ToggleByClick() {
  if (down_ && allowUp_) {
    SetDown(false);
  } else if (!down_ && allowDown_) {
    SetDown(true);
  }
}

void TShapeEx::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  const bool click =
      event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  // The toggle comes first: whoever handles mouseUp reads the new state.
  if (click) ToggleByClick();
  // A handler may delete the shape.
  const QPointer<TShapeEx> alive(this);
  emit mouseUp(event->button());
  if (!alive) return;
  pressed_ = false;
  update();
  if (click) emit clicked();
}

}  // namespace zorvid
