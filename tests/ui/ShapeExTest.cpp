#include "ui/controls/ShapeEx.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <utility>
#include <vector>

namespace zorvid {
namespace {

const QColor kBackground(10, 200, 30);
const TShapeExColorStyle kDefaultStyle{QColor(192, 192, 192), Qt::black, Qt::black};
const TShapeExColorStyle kDownStyle{QColor(255, 73, 53), Qt::black, Qt::black};
const TShapeExColorStyle kDisabledStyle{QColor(224, 224, 224), QColor(128, 128, 128), Qt::black};
const TShapeExColorStyle kMouseOverStyle{Qt::yellow, Qt::blue, Qt::black};

class PaintCounter : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

// Shapes in a parent of a colour of its own, so that every pixel a shape leaves alone is known.
class ShapeExTest : public ::testing::Test {
 protected:
  ShapeExTest() {
    parent_.setAutoFillBackground(true);
    QPalette palette = parent_.palette();
    palette.setColor(QPalette::Window, kBackground);
    parent_.setPalette(palette);
    parent_.resize(120, 80);
    schema_.SetDefaultColorStyle(kDefaultStyle);
    schema_.SetDownColorStyle(kDownStyle);
    schema_.SetDisabledColorStyle(kDisabledStyle);
    schema_.SetMouseOverUpColorStyle(kMouseOverStyle);
  }

  TShapeEx* AddShape(const QRect& geometry, QWidget* parent = nullptr) {
    auto* shape = new TShapeEx(parent ? parent : &parent_);
    shape->setGeometry(geometry);
    return shape;
  }

  QImage Picture() { return parent_.grab().toImage().convertToFormat(QImage::Format_RGB32); }

  // The bounding box of the pixels of the parent's picture that satisfy isWanted.
  template <class Predicate>
  QRect BoundsOf(Predicate isWanted) {
    const QImage image = Picture();
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        if (isWanted(image.pixelColor(x, y), x)) bounds |= QRect(x, y, 1, 1);
      }
    }
    return bounds;
  }

  QRect PaintedBounds() {
    return BoundsOf([](const QColor& pixel, int) { return pixel != kBackground; });
  }

  QColor PixelAt(const TShapeEx& shape, QPoint inShape) {
    return Picture().pixelColor(shape.geometry().topLeft() + inShape);
  }

  QWidget parent_;
  TShapeExColorSchema schema_;
};

TEST(ShapeExGeometry, BoxAllowsForThePenAndCentresSquareKinds) {
  EXPECT_EQ(ShapeExBox(stRectangle, QSize(10, 10), 3), QRect(1, 1, 8, 8));
  EXPECT_EQ(ShapeExBox(stEllipse, QSize(10, 12), 0), QRect(0, 0, 10, 12));
  EXPECT_EQ(ShapeExBox(stRoundSquare, QSize(30, 11), 2), QRect(10, 1, 10, 10));
  EXPECT_EQ(ShapeExCaptionTopLeft(QRect(0, 0, 10, 10), QSize(5, 4)), QPoint(3, 2));
}

TEST(ShapeExColorSchema, PressedOutranksMouseOverOnlyWhereSwitchedOn) {
  TShapeExColorSchema schema;
  const TShapeExColorStyle pressedDown{Qt::red, Qt::red, Qt::red};
  const TShapeExColorStyle mouseOverDown{Qt::blue, Qt::blue, Qt::blue};
  schema.SetPressedDownColorStyle(pressedDown);
  schema.SetMouseOverDownColorStyle(mouseOverDown);
  schema.SetDownColorStyle(kDownStyle);
  EXPECT_EQ(schema.GetStyle(true, true, true, true), kDownStyle);
  schema.SetMouseOverEnabled(true);
  EXPECT_EQ(schema.GetStyle(true, true, true, true), mouseOverDown);
  schema.SetPressedEnabled(true);
  EXPECT_EQ(schema.GetStyle(true, true, true, true), pressedDown);
  EXPECT_EQ(schema.GetStyle(true, false, false, false), TShapeExColorStyle{});
}

TEST_F(ShapeExTest, PaintedPixelsFillTheBoxAndNothingOutsideIt) {
  TShapeEx* bar = AddShape(QRect(5, 5, 13, 49));
  bar->SetShape(stRoundRect);
  bar->SetRoundCorner(16);
  EXPECT_EQ(PaintedBounds(), QRect(5, 5, 13, 49));
  EXPECT_EQ(PixelAt(*bar, QPoint(0, 0)), kBackground) << "corners are rounded";
  EXPECT_EQ(PixelAt(*bar, QPoint(0, 24)), QColor(Qt::black));
  EXPECT_EQ(PixelAt(*bar, QPoint(6, 24)), QColor(Qt::white));
  delete bar;

  TShapeEx* circle = AddShape(QRect(30, 5, 40, 20));
  circle->SetShape(stCircle);
  EXPECT_EQ(PaintedBounds(), QRect(40, 5, 20, 20));
}

TEST_F(ShapeExTest, CaptionIsCentredInTheFontColourOverTheBrushColour) {
  // A wide caption on a small square: the text runs past the box, and so does its background.
  TShapeEx* shape = AddShape(QRect(0, 0, 120, 20));
  shape->SetShape(stSquare);
  shape->SetPenWidth(0);
  shape->SetFontColor(Qt::red);
  shape->SetCaption("WWWWWWWW");
  EXPECT_EQ(shape->accessibleName(), "WWWWWWWW");
  const QRect text =
      BoundsOf([](const QColor& pixel, int) { return pixel.red() > 200 && pixel.green() < 100; });
  const QRect brushOutsideBox = BoundsOf(
      [](const QColor& pixel, int x) { return pixel == Qt::white && (x < 50 || x >= 70); });
  ASSERT_GT(text.width(), 20);
  EXPECT_NEAR(text.center().x(), 60, 2);
  EXPECT_NEAR(text.center().y(), 10, 3);
  EXPECT_FALSE(brushOutsideBox.isEmpty());
}

TEST_F(ShapeExTest, DisabledShapePaintsTheDisabledStyleWhateverItsDownState) {
  TShapeEx* shape = AddShape(QRect(10, 10, 30, 30));
  shape->SetColorSchema(&schema_);
  shape->SetDown(true);
  EXPECT_EQ(PixelAt(*shape, QPoint(15, 15)), kDownStyle.BrushColor);
  shape->setEnabled(false);
  for (bool down : {true, false}) {
    shape->SetDown(down);
    EXPECT_EQ(PixelAt(*shape, QPoint(15, 15)), kDisabledStyle.BrushColor) << "down " << down;
    EXPECT_EQ(PixelAt(*shape, QPoint(0, 15)), kDisabledStyle.BorderColor) << "down " << down;
  }
}

TEST_F(ShapeExTest, HoverRepaintsAndShowsTheMouseOverStyleOnlyWhenSwitchedOn) {
  TShapeEx* shape = AddShape(QRect(10, 10, 30, 30));
  shape->SetColorSchema(&schema_);
  parent_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent_));
  PaintCounter paints;
  shape->installEventFilter(&paints);

  QEnterEvent enter(QPointF(5, 5), QPointF(15, 15), parent_.mapToGlobal(QPointF(15, 15)));
  QApplication::sendEvent(shape, &enter);
  EXPECT_TRUE(shape->IsMouseOver());
  EXPECT_TRUE(QTest::qWaitFor([&] { return paints.count > 0; }, 1000));
  EXPECT_EQ(PixelAt(*shape, QPoint(15, 15)), kDefaultStyle.BrushColor);

  schema_.SetMouseOverEnabled(true);
  EXPECT_EQ(PixelAt(*shape, QPoint(15, 15)), kMouseOverStyle.BrushColor);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(shape, &leave);
  EXPECT_FALSE(shape->IsMouseOver());
  EXPECT_EQ(PixelAt(*shape, QPoint(15, 15)), kDefaultStyle.BrushColor);
}

TEST_F(ShapeExTest, AllowDownWithoutAllowUpSwitchesDownOnceAndNeverBack) {
  TShapeEx* shape = AddShape(QRect(0, 0, 20, 20));
  shape->SetAllowDown(true);
  QSignalSpy clicks(shape, &TShapeEx::clicked);
  QTest::mouseClick(shape, Qt::LeftButton);
  EXPECT_TRUE(shape->Down());
  QTest::mouseClick(shape, Qt::LeftButton);
  EXPECT_TRUE(shape->Down());
  EXPECT_EQ(clicks.count(), 2);
}

TEST_F(ShapeExTest, GroupExcludesDirectSiblingsOfTheSameGroupOnly) {
  QWidget* nested = new QWidget(&parent_);
  std::vector<TShapeEx*> shapes = {AddShape(QRect(0, 0, 10, 10)), AddShape(QRect(10, 0, 10, 10)),
                                   AddShape(QRect(20, 0, 10, 10)), AddShape(QRect(30, 0, 10, 10)),
                                   AddShape(QRect(0, 0, 10, 10), nested)};
  const int groups[] = {5, 5, 0, 0, 5};
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    shapes[i]->SetGroup(groups[i]);
    shapes[i]->SetAllowDown(true);
  }
  for (TShapeEx* shape : {shapes[0], shapes[2], shapes[3], shapes[4]})
    QTest::mouseClick(shape, Qt::LeftButton);
  QTest::mouseClick(shapes[1], Qt::LeftButton);
  EXPECT_FALSE(shapes[0]->Down());
  EXPECT_TRUE(shapes[1]->Down());
  EXPECT_TRUE(shapes[2]->Down() && shapes[3]->Down()) << "group 0 never excludes";
  EXPECT_TRUE(shapes[4]->Down()) << "a shape in another parent is no sibling";
  shapes[0]->SetDown(true);
  EXPECT_FALSE(shapes[1]->Down());
}

TEST_F(ShapeExTest, ReleaseTogglesBeforeMouseUpAndOnlyForALeftReleaseInside) {
  TShapeEx* shape = AddShape(QRect(0, 0, 20, 20));
  shape->SetAllowDown(true);
  shape->SetAllowUp(true);
  std::vector<std::pair<Qt::MouseButton, bool>> ups;
  QObject::connect(shape, &TShapeEx::mouseUp,
                   [&](Qt::MouseButton button) { ups.emplace_back(button, shape->Down()); });
  QSignalSpy downs(shape, &TShapeEx::mouseDown);
  QSignalSpy clicks(shape, &TShapeEx::clicked);

  QTest::mousePress(shape, Qt::LeftButton);
  EXPECT_TRUE(shape->IsPressed());
  QTest::mouseRelease(shape, Qt::LeftButton);
  EXPECT_FALSE(shape->IsPressed());
  QTest::mouseClick(shape, Qt::RightButton);
  QTest::mousePress(shape, Qt::LeftButton);
  QTest::mouseRelease(shape, Qt::LeftButton, {}, QPoint(25, 5));

  using Up = std::pair<Qt::MouseButton, bool>;
  EXPECT_EQ(ups, (std::vector<Up>{
                     {Qt::LeftButton, true}, {Qt::RightButton, true}, {Qt::LeftButton, true}}));
  EXPECT_EQ(downs.count(), 3);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_TRUE(shape->Down());
}

}  // namespace
}  // namespace zorvid
