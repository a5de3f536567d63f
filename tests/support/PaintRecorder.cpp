#include "tests/support/PaintRecorder.h"

#include <QPainter>
#include <QTransform>

namespace zorvid::test {
namespace {

constexpr int kDotsPerInch = 96;

}  // namespace

// Asks for every feature, so that QPainter hands it texts and rectangles as they are instead of
// emulating them with paths or images.
class TPaintRecorder::TEngine : public QPaintEngine {
 public:
  explicit TEngine(TPaintRecorder& device) : QPaintEngine(AllFeatures), device_(device) {}

  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  void updateState(const QPaintEngineState&) override {}
  Type type() const override { return User; }

  void drawTextItem(const QPointF& point, const QTextItem& item) override {
    device_.texts_.push_back(
        {item.text(), Transform().map(point), item.font(), painter()->pen().color()});
  }

  void drawRects(const QRectF* rects, int count) override {
    const QBrush brush = painter()->brush();
    if (brush.style() == Qt::NoBrush) return;
    for (int i = 0; i < count; ++i)
      device_.fills_.push_back({Transform().mapRect(rects[i]), brush.color()});
  }
  void drawRects(const QRect* rects, int count) override {
    for (int i = 0; i < count; ++i) {
      const QRectF rect(rects[i]);
      drawRects(&rect, 1);
    }
  }

  void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}

 private:
  QTransform Transform() const { return painter()->combinedTransform(); }

  TPaintRecorder& device_;
};

TPaintRecorder::TPaintRecorder(QSize size)
    : size_(size), engine_(std::make_unique<TEngine>(*this)) {}

TPaintRecorder::~TPaintRecorder() = default;

QPaintEngine* TPaintRecorder::paintEngine() const {
  return engine_.get();
}

std::vector<TRecordedText> TextsIn(const std::vector<TRecordedText>& texts, const QRectF& area) {
  std::vector<TRecordedText> inside;
  for (const TRecordedText& text : texts) {
    const QPointF at = text.baseline;
    if (at.x() >= area.left() && at.x() < area.right() && at.y() >= area.top() &&
        at.y() < area.bottom())
      inside.push_back(text);
  }
  return inside;
}

std::vector<TRecordedText> TPaintRecorder::TextsIn(const QRectF& area) const {
  return test::TextsIn(texts_, area);
}

int TPaintRecorder::metric(PaintDeviceMetric metric) const {
  switch (metric) {
    case PdmWidth:
      return size_.width();
    case PdmHeight:
      return size_.height();
    case PdmWidthMM:
      return size_.width() * 254 / (10 * kDotsPerInch);
    case PdmHeightMM:
      return size_.height() * 254 / (10 * kDotsPerInch);
    case PdmNumColors:
      return 0x7fffffff;
    case PdmDepth:
      return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
      return kDotsPerInch;
    case PdmDevicePixelRatio:
      return 1;
    case PdmDevicePixelRatioScaled:
      return int(devicePixelRatioFScale());
  }
  return 0;
}

}  // namespace zorvid::test
