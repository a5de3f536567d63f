#include "ui/DisplayPanel.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <array>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ui/controls/ShapeEx.h"

namespace zorvid {
namespace {

// The two colours of a kind of shape.
struct TLitAndDark {
  QColor lit, dark;
};
const TLitAndDark kSegment{{255, 73, 53}, {192, 192, 192}};
const TLitAndDark kRedLed{{255, 0, 0}, {128, 0, 0}};

// The picture's layout, taken independently of the panel's code: the backings' top lefts and
// the centre of each segment relative to them, by bit.
constexpr std::array<QPoint, 4> kDigitOrigins = {QPoint(24, 8), QPoint(120, 8), QPoint(232, 8),
                                                 QPoint(328, 8)};
enum TSegmentBit { kTop, kUpperRight, kLowerRight, kBottom, kLowerLeft, kUpperLeft, kMiddle };
constexpr std::array<QPoint, 8> kSegmentCentres = {QPoint(40, 14),  QPoint(66, 40), QPoint(66, 92),
                                                   QPoint(40, 118), QPoint(14, 92), QPoint(14, 40),
                                                   QPoint(40, 66),  QPoint(78, 118)};

using TBit = std::pair<std::size_t, int>;  // byte, bit

// One bit's segment or LED: where its centre lies and its colours lit and dark.
struct TLamp {
  TBit Bit;
  QPoint Centre;
  QColor Lit;
  QColor Dark;
};

std::vector<TLamp> Lamps() {
  std::vector<TLamp> lamps = {{{0, 0}, QPoint(12, 86), QColor(0, 255, 0), QColor(0, 128, 0)},
                              {{0, 1}, QPoint(12, 62), kRedLed.lit, kRedLed.dark},
                              {{0, 2}, QPoint(220, 86), kRedLed.lit, kRedLed.dark},
                              {{0, 3}, QPoint(220, 62), kRedLed.lit, kRedLed.dark}};
  for (std::size_t digit = 0; digit < kDigitOrigins.size(); ++digit) {
    for (int bit = 0; bit < 8; ++bit) {
      const QPoint centre = kDigitOrigins[digit] + kSegmentCentres[bit];
      lamps.push_back({{digit + 1, bit}, centre, kSegment.lit, kSegment.dark});
    }
  }
  return lamps;
}

TByteString Bytes(std::initializer_list<int> values) {
  TByteString bytes;
  for (int value : values)
    bytes.push_back(static_cast<char>(value));
  return bytes;
}

// "0123" with both left LEDs lit.
const TByteString kData0123 = Bytes({0x03, 0x3F, 0x06, 0x5B, 0x4F});
const std::set<TBit> kLit0123 = [] {
  const std::array<std::vector<int>, 4> glyphs = {{
      {kTop, kUpperRight, kLowerRight, kBottom, kLowerLeft, kUpperLeft},
      {kUpperRight, kLowerRight},
      {kTop, kUpperRight, kMiddle, kLowerLeft, kBottom},
      {kTop, kUpperRight, kMiddle, kLowerRight, kBottom},
  }};
  std::set<TBit> lit = {{0, 0}, {0, 1}};  // green and red LED, left
  for (std::size_t digit = 0; digit < glyphs.size(); ++digit) {
    for (int segment : glyphs[digit])
      lit.insert({digit + 1, segment});
  }
  return lit;
}();

class DisplayPanelTest : public ::testing::Test {
 protected:
  QImage Picture() { return panel_.grab().toImage().convertToFormat(QImage::Format_RGB32); }

  static std::string ColourAt(const QImage& image, QPoint point) {
    return image.pixelColor(point).name().toStdString();
  }

  // Every lamp's centre shows its lit colour exactly when its bit is in `lit`.
  void ExpectLit(const std::set<TBit>& lit) {
    const QImage image = Picture();
    for (const TLamp& lamp : Lamps()) {
      const QColor& expected = lit.contains(lamp.Bit) ? lamp.Lit : lamp.Dark;
      EXPECT_EQ(ColourAt(image, lamp.Centre), expected.name().toStdString())
          << "byte " << lamp.Bit.first << " bit " << lamp.Bit.second;
    }
  }

  // The shape under a point of the panel, clicked at that point.
  void Click(QPoint atPanel, Qt::MouseButton button) {
    QWidget* shape = panel_.childAt(atPanel);
    ASSERT_NE(shape, nullptr) << "no shape at " << atPanel.x() << "," << atPanel.y();
    QTest::mouseClick(shape, button, {}, shape->mapFrom(&panel_, atPanel));
  }

  TDisplayPanel panel_;
};

TEST_F(DisplayPanelTest, ShowsTheLedsAndDigitsOfTheDataWithinItsSizeHint) {
  panel_.ShowDisplayData(kData0123);
  ExpectLit(kLit0123);
  EXPECT_TRUE(QRect(QPoint(0, 0), panel_.sizeHint()).contains(panel_.childrenRect()));
  EXPECT_EQ(panel_.size(), panel_.sizeHint());
}

TEST_F(DisplayPanelTest, LeftClickTogglesTheSegmentBothWaysAndReportsEachRelease) {
  panel_.ShowDisplayData(kData0123);
  QSignalSpy released(&panel_, &TDisplayPanel::segmentReleased);
  const QPoint digit2Top = kDigitOrigins[1] + kSegmentCentres[kTop];

  Click(digit2Top, Qt::LeftButton);
  EXPECT_EQ(released.count(), 1);
  EXPECT_EQ(panel_.CollectDisplayData(), Bytes({0x03, 0x3F, 0x07, 0x5B, 0x4F}));
  std::set<TBit> lit = kLit0123;
  lit.insert({2, kTop});
  ExpectLit(lit);

  Click(digit2Top, Qt::LeftButton);
  EXPECT_EQ(released.count(), 2);
  EXPECT_EQ(panel_.CollectDisplayData(), kData0123);
  ExpectLit(kLit0123);
}

TEST_F(DisplayPanelTest, OtherButtonsToggleNothingButAreReported) {
  panel_.ShowDisplayData(kData0123);
  QSignalSpy released(&panel_, &TDisplayPanel::segmentReleased);
  Click(kDigitOrigins[0] + kSegmentCentres[kTop], Qt::RightButton);  // lit
  Click(kDigitOrigins[1] + kSegmentCentres[kTop], Qt::RightButton);  // dark
  Click(QPoint(12, 62), Qt::MiddleButton);                           // red LED, lit
  EXPECT_EQ(released.count(), 3);
  EXPECT_EQ(panel_.CollectDisplayData(), kData0123);
  ExpectLit(kLit0123);
}

TEST_F(DisplayPanelTest, BackingsNeitherFollowNorContributeToTheData) {
  const std::vector<QPoint> backingCorners = {kDigitOrigins[0] + QPoint(3, 3),
                                              kDigitOrigins[3] + QPoint(85, 133)};
  panel_.ShowDisplayData(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  for (const QPoint& corner : backingCorners)
    EXPECT_EQ(ColourAt(Picture(), corner), "#808080");
  // Byte 0 has LEDs for bits 0..3 only.
  EXPECT_EQ(panel_.CollectDisplayData(), Bytes({0x0F, 0xFF, 0xFF, 0xFF, 0xFF}));

  int backings = 0;
  for (TShapeEx* shape : panel_.findChildren<TShapeEx*>()) {
    if (shape->Tag() != 0) continue;
    shape->SetDown(true);
    ++backings;
  }
  EXPECT_EQ(backings, 4);
  panel_.ShowDisplayData(Bytes({0, 0, 0, 0, 0}));
  for (const QPoint& corner : backingCorners)
    EXPECT_EQ(ColourAt(Picture(), corner), "#ffffff") << "a backing that is down stays down";
  EXPECT_EQ(panel_.CollectDisplayData(), Bytes({0, 0, 0, 0, 0}));
  ExpectLit({});
}

TEST_F(DisplayPanelTest, EveryBitLightsItsOwnLampAndReadsBack) {
  for (std::size_t byte = 0; byte < kDisplayDataSize; ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      SCOPED_TRACE("byte " + std::to_string(byte) + " bit " + std::to_string(bit));
      TByteString data(kDisplayDataSize, '\0');
      data[byte] = static_cast<char>(1 << bit);
      const bool hasLamp = byte > 0 || bit < 4;
      panel_.ShowDisplayData(data);
      ExpectLit(hasLamp ? std::set<TBit>{{byte, bit}} : std::set<TBit>{});
      EXPECT_EQ(panel_.CollectDisplayData(), hasLamp ? data : TByteString(kDisplayDataSize, '\0'));
    }
  }
}

TEST_F(DisplayPanelTest, ShortDataIsPaddedWithZerosAndExtraBytesAreIgnored) {
  panel_.ShowDisplayData(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  panel_.ShowDisplayData(Bytes({0x03, 0x3F}));
  EXPECT_EQ(panel_.CollectDisplayData(), Bytes({0x03, 0x3F, 0, 0, 0}));
  TByteString longer = kData0123;
  longer.push_back('\xFF');
  panel_.ShowDisplayData(longer);
  EXPECT_EQ(panel_.CollectDisplayData(), kData0123);
}

}  // namespace
}  // namespace zorvid
