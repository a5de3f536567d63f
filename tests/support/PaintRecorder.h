#pragma once
// A paint device that keeps what was asked of it instead of pixels: every text with its place,
// font and pen, and every filled rectangle with its colour. Tests of owner-drawn controls judge
// what the control decided to draw, which no font's rasteriser changes.
#include <QColor>
#include <QFont>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <memory>
#include <vector>

namespace zorvid::test {

struct TRecordedText {
  QString text;
  QPointF baseline;  // the left end of the text's baseline, in device coordinates
  QFont font;
  QColor pen;
};

struct TRecordedFill {
  QRectF rect;  // in device coordinates
  QColor colour;
};

// The texts of `texts` whose baseline starts within `area`, its right and bottom edges
// excluded, so that areas side by side share no text.
std::vector<TRecordedText> TextsIn(const std::vector<TRecordedText>& texts, const QRectF& area);

class TPaintRecorder : public QPaintDevice {
 public:
  explicit TPaintRecorder(QSize size);
  ~TPaintRecorder() override;

  QPaintEngine* paintEngine() const override;

  const std::vector<TRecordedText>& Texts() const { return texts_; }
  const std::vector<TRecordedFill>& Fills() const { return fills_; }
  std::vector<TRecordedText> TextsIn(const QRectF& area) const;

 protected:
  int metric(PaintDeviceMetric metric) const override;

 private:
  class TEngine;
  friend class TEngine;

  QSize size_;
  std::unique_ptr<TEngine> engine_;
  std::vector<TRecordedText> texts_;
  std::vector<TRecordedFill> fills_;
};

}  // namespace zorvid::test
