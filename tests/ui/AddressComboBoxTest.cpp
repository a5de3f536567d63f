#include "ui/AddressComboBox.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QTest>
#include <cstdlib>
#include <vector>

namespace zorvid {
namespace {

const QColor kNavy(0, 0, 128);
const QColor kGreen(0, 128, 0);
const QColor kMaroon(128, 0, 0);
const QColor kGrey(128, 128, 128);
const QColor kBlack(0, 0, 0);

template <class Predicate>
int CountPixels(const QImage& image, const QRect& area, Predicate isWanted) {
  int count = 0;
  const QRect inImage = area & image.rect();
  for (int y = inImage.top(); y <= inImage.bottom(); ++y) {
    for (int x = inImage.left(); x <= inImage.right(); ++x)
      count += isWanted(image.pixelColor(x, y));
  }
  return count;
}

int CountColor(const QImage& image, const QRect& area, const QColor& color) {
  return CountPixels(image, area, [&](const QColor& pixel) { return pixel == color; });
}

// How much of `color` a pixel that text anti-aliasing painted over `background` shows: 0 for
// the background, 1 for the colour itself, and -1 for a pixel that is no mixture of the two.
double Coverage(const QColor& pixel, const QColor& color, const QColor& background) {
  const int painted[] = {pixel.red(), pixel.green(), pixel.blue()};
  const int full[] = {color.red(), color.green(), color.blue()};
  const int under[] = {background.red(), background.green(), background.blue()};
  int widest = 0;
  for (int channel : {1, 2})
    if (std::abs(full[channel] - under[channel]) > std::abs(full[widest] - under[widest]))
      widest = channel;
  const double coverage =
      double(painted[widest] - under[widest]) / double(full[widest] - under[widest]);
  for (int channel : {0, 1, 2}) {
    const double expected = under[channel] + coverage * (full[channel] - under[channel]);
    if (std::abs(expected - painted[channel]) > 3) return -1;
  }
  return coverage;
}

// Which pixels of `area` are drawn in `color` to at least a third: the shape of its text there.
std::vector<bool> InkMask(const QImage& image, const QRect& area, const QColor& color,
                          const QColor& background) {
  std::vector<bool> mask;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x)
      mask.push_back(Coverage(image.pixelColor(x, y), color, background) > 0.33);
  }
  return mask;
}

// An address selector as the connection dialog sets it up, with items painted by its delegate
// into images of their own, on the list's base colour.
class AddressComboBoxTest : public ::testing::Test {
 protected:
  AddressComboBoxTest() { SetupAddressComboBox(&combo_, 0, true, true, 49, 255); }

  QImage PaintItem(int row) {
    QStyleOptionViewItem option;
    option.initFrom(&combo_);
    option.state = QStyle::State_Enabled;
    option.rect = QRect(0, 0, AddressItemLayout(QRect()).RightX + 6, kComboItemHeight);
    QImage image(option.rect.size(), QImage::Format_RGB32);
    image.fill(Base());
    QPainter painter(&image);
    combo_.itemDelegate()->paint(&painter, option, combo_.model()->index(row, 0));
    return image;
  }

  QColor Base() const { return combo_.palette().color(QPalette::Base); }

  // The columns of the character, the decimal and the hexadecimal notation, labels included.
  struct TBands {
    QRect Ascii, Decimal, Hexadecimal;
  };
  static TAddressItemLayout LayoutOf(const QImage& item) {
    return AddressItemLayout(item.rect(), &item);
  }
  static TBands BandsOf(const QImage& image) {
    const TAddressItemLayout at = LayoutOf(image);
    const auto columns = [&](int left, int right) {
      return QRect(left, 0, right - left, image.height());
    };
    return {columns(at.AsciiLabelX, at.DecLabelX), columns(at.DecLabelX, at.HexLabelX),
            columns(at.HexLabelX, at.RightX)};
  }

  // The pixels of one value on the first line, as wide as "WWW".
  static QRect ValueAt(const QImage& image, int valueX) {
    const TAddressItemLayout at = LayoutOf(image);
    return QRect(valueX, 0, at.RightX - at.HexValueX, kComboItemHeight);
  }

  QRect FaceEditField() {
    QStyleOptionComboBox box;
    box.initFrom(&combo_);
    return combo_.style()->subControlRect(QStyle::CC_ComboBox, &box, QStyle::SC_ComboBoxEditField,
                                          &combo_);
  }

  QComboBox combo_;
};

TEST(AddressComboBoxSetup, FillsFirstToLastSelectsTheDefaultAndLeavesOtherWidgetsAlone) {
  QLineEdit edit;
  const QFont font = edit.font();
  const auto children = edit.children().size();
  SetupAddressComboBox(&edit, 0, true, true, 49, 255);
  EXPECT_EQ(edit.font(), font);
  EXPECT_EQ(edit.children().size(), children);

  QComboBox combo;
  SetupAddressComboBox(&combo, 0, true, true, 49, 255);
  ASSERT_EQ(combo.count(), 256);
  EXPECT_EQ(combo.itemText(0), "0");
  EXPECT_EQ(combo.itemText(255), "255");
  EXPECT_EQ(combo.currentIndex(), 49);

  SetupAddressComboBox(&combo, 10, false, false, 3, 20);
  EXPECT_EQ(combo.count(), 11);
  EXPECT_EQ(combo.itemText(0), "10");
  EXPECT_EQ(combo.currentIndex(), -1) << "a default that is not listed selects nothing";

  SetupAddressComboBox(&combo, 5, true, true, 5, 4);
  EXPECT_EQ(combo.count(), 0);
}

TEST_F(AddressComboBoxTest, FortyNineShowsCharacterOneDecimal49AndHex31InNavyGreenAndMaroon) {
  const QImage item = PaintItem(49);
  const TBands bands = BandsOf(item);
  EXPECT_GT(CountColor(item, bands.Ascii, kNavy), 0);
  EXPECT_GT(CountColor(item, bands.Decimal, kGreen), 0);
  EXPECT_GT(CountColor(item, bands.Hexadecimal, kMaroon), 0);

  // The character and the hexadecimal value have the shapes of the decimal values of 1 and 31.
  const TAddressItemLayout at = LayoutOf(item);
  const QImage one = PaintItem(1);
  const QImage thirtyOne = PaintItem(31);
  const QRect character(at.CharacterX, 0, at.DecLabelX - 4 - at.CharacterX, kComboItemHeight);
  const std::vector<bool> characterInk = InkMask(item, character, kNavy, Base());
  EXPECT_NE(characterInk, std::vector<bool>(characterInk.size(), false));
  EXPECT_EQ(characterInk,
            InkMask(one, character.translated(at.DecValueX - at.CharacterX, 0), kGreen, Base()));
  EXPECT_EQ(InkMask(item, ValueAt(item, at.HexValueX), kMaroon, Base()),
            InkMask(thirtyOne, ValueAt(item, at.DecValueX), kGreen, Base()));
}

TEST_F(AddressComboBoxTest, CodesBelow32DrawNoCharacterPart) {
  for (int value : {7, 31}) {
    const QImage item = PaintItem(value);
    const TBands bands = BandsOf(item);
    EXPECT_EQ(CountPixels(item, bands.Ascii, [&](const QColor& pixel) { return pixel != Base(); }),
              0)
        << value;
    EXPECT_GT(CountColor(item, bands.Decimal, kGreen), 0) << value;
    EXPECT_GT(CountColor(item, bands.Hexadecimal, kMaroon), 0) << value;
  }
  const QImage space = PaintItem(32);
  EXPECT_GT(CountPixels(space, BandsOf(space).Ascii,
                        [&](const QColor& pixel) { return Coverage(pixel, kGrey, Base()) > 0.5; }),
            0)
      << "the label of a character";
}

TEST_F(AddressComboBoxTest, ReservedAddressesTakeTwoLinesInTheOpenListAndOneOnTheFace) {
  const auto heightOf = [](const QComboBox& combo, int row) {
    return combo.itemDelegate()->sizeHint(QStyleOptionViewItem(), combo.model()->index(row, 0));
  };
  EXPECT_EQ(heightOf(combo_, 253).height(), kComboItemHeight);
  EXPECT_EQ(heightOf(combo_, 254).height(), 2 * kComboItemHeight);
  EXPECT_EQ(heightOf(combo_, 255).height(), 2 * kComboItemHeight);
  QComboBox fixedHeight;
  SetupAddressComboBox(&fixedHeight, 0, false, true, 0, 255);
  EXPECT_EQ(heightOf(fixedHeight, 254).height(), kComboItemHeight);

  combo_.setCurrentIndex(254);
  combo_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&combo_));
  combo_.showPopup();
  QAbstractItemView* view = combo_.view();
  const QRect universal = view->visualRect(combo_.model()->index(254, 0));
  const QRect special = view->visualRect(combo_.model()->index(255, 0));
  const QImage list = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  combo_.hidePopup();
  ASSERT_EQ(universal.height(), 2 * kComboItemHeight);
  ASSERT_EQ(special.height(), 2 * kComboItemHeight);
  for (const QRect& item : {universal, special}) {
    const QRect firstLine = item.adjusted(0, 0, 0, kComboItemHeight - item.height());
    EXPECT_EQ(CountColor(list, firstLine, kBlack), 0);
    EXPECT_GT(CountColor(list, item.adjusted(0, kComboItemHeight, 0, 0), kBlack), 0)
        << "the note on the second line";
  }
  const QPoint rightEnd(universal.right() - 1, universal.center().y());
  EXPECT_EQ(list.pixelColor(rightEnd), combo_.palette().color(QPalette::Highlight));
  EXPECT_EQ(list.pixelColor(rightEnd + QPoint(0, special.top() - universal.top())), Base());

  const QImage face = combo_.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QRect field = FaceEditField();
  EXPECT_GT(CountPixels(face, field, [&](const QColor& pixel) { return pixel.saturation() > 200; }),
            0)
      << "the notations in their colours";
  EXPECT_EQ(CountColor(face, field, kBlack), 0) << "no second line on the face";
}

TEST_F(AddressComboBoxTest, DisabledBoxPaintsItsFaceGreyOnly) {
  combo_.setEnabled(false);
  const QImage face = combo_.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QRect field = FaceEditField();
  EXPECT_GT(CountColor(face, field, kGrey), 0);
  for (const QColor& color : {kNavy, kGreen, kMaroon})
    EXPECT_EQ(CountColor(face, field, color), 0) << color.name().toStdString();
}

// The ink of one baud item: pixels of the item that are darker than middle grey.
int BaudItemInk(const QComboBox& combo, int row) {
  QStyleOptionViewItem option;
  option.initFrom(&combo);
  option.font = combo.font();
  option.rect = QRect(0, 0, 80, kComboItemHeight);
  QImage image(option.rect.size(), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  combo.itemDelegate()->paint(&painter, option, combo.model()->index(row, 0));
  return CountPixels(image, image.rect(),
                     [](const QColor& pixel) { return pixel.lightness() < 128; });
}

TEST(BaudRateComboBox, ListsTenRatesAndDraws9600And115200Bold) {
  QComboBox combo;
  SetupBaudRateComboBox(&combo);
  ASSERT_EQ(combo.count(), 10);
  EXPECT_EQ(combo.itemText(0), "110");
  EXPECT_EQ(combo.itemText(5), "9600");
  EXPECT_EQ(combo.itemText(9), "115200");
  EXPECT_EQ(
      combo.itemDelegate()->sizeHint(QStyleOptionViewItem(), combo.model()->index(0, 0)).height(),
      kComboItemHeight);

  // The same texts in rows that are drawn in normal weight.
  combo.setItemText(4, "9600");
  combo.setItemText(8, "115200");
  EXPECT_GT(BaudItemInk(combo, 5), BaudItemInk(combo, 4) * 6 / 5);
  EXPECT_GT(BaudItemInk(combo, 9), BaudItemInk(combo, 8) * 6 / 5);
  EXPECT_GT(BaudItemInk(combo, 4), 0);
}

}  // namespace
}  // namespace zorvid
