#pragma once

// The picture of the display's face on the main window's first page: four seven-segment digits
// with decimal points and four indicator LEDs, each a shape that mirrors one bit of the
// display's 5-byte segment data and that the user toggles with a left click.
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <cstddef>

#include "core/Types.h"

namespace zorvid {

class TShapeEx;
class TShapeExColorSchema;

// Length of the display's segment data: byte 0 carries the LEDs in bits 0..3, bytes 1..4 the
// segments of digits 1..4 (bit 0 top bar, then clockwise: 1 upper right, 2 lower right,
// 3 bottom, 4 lower left, 5 upper left; 6 middle bar, 7 decimal point).
inline constexpr std::size_t kDisplayDataSize = 5;

// The panel "pnlDisplay" with its 40 shapes at fixed positions (logical pixels) and the four
// colour schemas "shexcsDisplay", "shexcsGreenLed", "shexcsRedLed" and "shexcsDisplayBack".
// A shape's Tag tells what it shows: 1BD is bit D of byte B, 0 a digit's backing. Every shape's
// Group is its Tag, so each segment and LED toggles on its own. Shape names:
//   "shBack1" ... "shBack4"              backings of digits 1..4 (tag 0, never toggled)
//   "shDigit1Bit0" ... "shDigit4Bit7"    segments, byte n bit d
//   "shLedGreenLeft", "shLedRedLeft"     byte 0 bits 0 and 1
//   "shLedRedMiddleLower", "shLedRedMiddleUpper"   byte 0 bits 2 and 3
// Its size is fixed to the shapes' extent. Lives and is used on the GUI thread only.
class TDisplayPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TDisplayPanel(QWidget* parent = nullptr);

  // Lights every segment and LED whose bit is set and darkens the others. Missing bytes count
  // as zero, bytes beyond the fifth are ignored. Fires no mouse events and no segmentReleased.
  void ShowDisplayData(const TByteString& bytes);
  // The kDisplayDataSize bytes shown now; bits 4..7 of byte 0 have no LED and are always 0.
  TByteString CollectDisplayData() const;

  QSize sizeHint() const override;

 signals:
  // A segment or LED was released with any mouse button; after a left click it has already
  // toggled. The receiver is expected to collect the data and send it to the display.
  void segmentReleased();

 private:
  void AddBackings(TShapeExColorSchema* schema);
  void AddLeds(TShapeExColorSchema* greenSchema, TShapeExColorSchema* redSchema);
  void AddDigitSegments(TShapeExColorSchema* schema);
  TShapeEx* AddShape(const QString& name, const QRect& geometry, int tag,
                     TShapeExColorSchema* schema);
  TShapeEx* AddBitShape(const QString& name, const QRect& geometry, std::size_t byte, int bit,
                        TShapeExColorSchema* schema);

  // The shapes' extent from the panel's top left, fixed once they are placed.
  QSize extent_;
};

}  // namespace zorvid
