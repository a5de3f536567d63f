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
#include <string>
#include <vector>

#include "tests/support/PaintRecorder.h"
#include "ui/WindowFonts.h"

namespace zorvid {
namespace {

const QColor kNavy(0, 0, 128);
const QColor kGreen(0, 128, 0);
const QColor kMaroon(128, 0, 0);
const QColor kGrey(128, 128, 128);

using test::TPaintRecorder;
using test::TRecordedText;

// The texts drawn, in order, as "text colour" pairs: what the eye reads off the item.
std::vector<std::string> Read(const std::vector<TRecordedText>& texts) {
  std::vector<std::string> read;
  for (const TRecordedText& text : texts)
    read.push_back(text.text.toStdString() + " " + text.pen.name().toStdString());
  return read;
}

// Whether `pixel` is `color` laid over `background` with at least half cover, allowing for the
// rounding of any anti-aliasing: text in that colour, whatever font drew it.
bool ShowsInk(const QColor& pixel, const QColor& color, const QColor& background) {
  double cover = 0;
  double weight = 0;
  const int painted[] = {pixel.red(), pixel.green(), pixel.blue()};
  const int full[] = {color.red(), color.green(), color.blue()};
  const int under[] = {background.red(), background.green(), background.blue()};
  for (int channel : {0, 1, 2}) {
    const int span = full[channel] - under[channel];
    cover += double(painted[channel] - under[channel]) * span;
    weight += double(span) * span;
  }
  cover /= weight;
  for (int channel : {0, 1, 2}) {
    const double expected = under[channel] + cover * (full[channel] - under[channel]);
    if (std::abs(expected - painted[channel]) > 24) return false;
  }
  return cover >= 0.5;
}

int CountInk(const QImage& image, const QRect& area, const QColor& color,
             const QColor& background) {
  int count = 0;
  const QRect inImage = area & image.rect();
  for (int y = inImage.top(); y <= inImage.bottom(); ++y) {
    for (int x = inImage.left(); x <= inImage.right(); ++x)
      count += ShowsInk(image.pixelColor(x, y), color, background);
  }
  return count;
}

// An address selector as the connection dialog sets it up, with items painted by its delegate
// on the list's base colour, into images or into a recorder of what was drawn.
class AddressComboBoxTest : public ::testing::Test {
 protected:
  AddressComboBoxTest() { SetupAddressComboBox(&combo_, 0, true, true, 49, 255); }

  QStyleOptionViewItem ItemOption() {
    QStyleOptionViewItem option;
    option.initFrom(&combo_);
    option.state = QStyle::State_Enabled;
    option.rect = QRect(0, 0, AddressItemLayout(QRect()).RightX + 6, kComboItemHeight);
    return option;
  }

  void PaintItem(QPaintDevice* device, int row) {
    QPainter painter(device);
    painter.fillRect(ItemOption().rect, Base());
    combo_.itemDelegate()->paint(&painter, ItemOption(), combo_.model()->index(row, 0));
  }

  QImage ItemImage(int row) {
    QImage image(ItemOption().rect.size(), QImage::Format_RGB32);
    PaintItem(&image, row);
    return image;
  }

  std::vector<TRecordedText> ItemTexts(int row) {
    TPaintRecorder recorder(ItemOption().rect.size());
    PaintItem(&recorder, row);
    return recorder.Texts();
  }

  QColor Base() const { return combo_.palette().color(QPalette::Base); }

  // The columns of the character, the decimal and the hexadecimal notation, labels included.
  struct TBands {
    QRect Ascii, Decimal, Hexadecimal;
  };
  TBands Bands() {
    const TAddressItemLayout at = AddressItemLayout(ItemOption().rect);
    const auto columns = [&](int left, int right) {
      return QRect(left, 0, right - left, kComboItemHeight);
    };
    return {columns(at.AsciiLabelX, at.DecLabelX), columns(at.DecLabelX, at.HexLabelX),
            columns(at.HexLabelX, at.RightX)};
  }

  QRect FaceEditField() {
    QStyleOptionComboBox box;
    box.initFrom(&combo_);
    return combo_.style()->subControlRect(QStyle::CC_ComboBox, &box, QStyle::SC_ComboBoxEditField,
                                          &combo_);
  }

  std::vector<TRecordedText> FaceTexts() {
    TPaintRecorder recorder(combo_.size());
    combo_.render(&recorder);
    return recorder.TextsIn(FaceEditField());
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
  const std::vector<TRecordedText> texts = ItemTexts(49);
  const std::vector<std::string> expected{"ascii: #000080", "1 #000080",    "dec: #008000",
                                          "49 #008000",     "hex: #800000", "31 #800000"};
  ASSERT_EQ(Read(texts), expected);
  // Each value starts in its column, drawn in the values' font, the character's too.
  const TAddressItemLayout at = AddressItemLayout(ItemOption().rect);
  EXPECT_EQ(texts[1].baseline.x(), at.CharacterX);
  EXPECT_EQ(texts[3].baseline.x(), at.DecValueX);
  EXPECT_EQ(texts[5].baseline.x(), at.HexValueX);
  EXPECT_EQ(texts[1].font, texts[3].font);
  EXPECT_EQ(texts[5].font, texts[3].font);
  EXPECT_GT(texts[3].font.pointSizeF(), texts[2].font.pointSizeF()) << "labels are smaller";
  for (const TRecordedText& text : texts) {
    EXPECT_EQ(text.font.family(), AddressListFont(9).family()) << text.text.toStdString();
    EXPECT_TRUE(QRectF(ItemOption().rect).contains(text.baseline)) << text.text.toStdString();
  }

  // And the ink is there, in each notation's colour and column.
  const QImage item = ItemImage(49);
  const TBands bands = Bands();
  EXPECT_GT(CountInk(item, bands.Ascii, kNavy, Base()), 0);
  EXPECT_GT(CountInk(item, bands.Decimal, kGreen, Base()), 0);
  EXPECT_GT(CountInk(item, bands.Hexadecimal, kMaroon, Base()), 0);
}

TEST_F(AddressComboBoxTest, CodesBelow32DrawNoCharacterPart) {
  for (int value : {7, 31}) {
    EXPECT_TRUE(test::TextsIn(ItemTexts(value), Bands().Ascii).empty()) << value;
    const QImage item = ItemImage(value);
    const QRect ascii = Bands().Ascii;
    int painted = 0;
    for (int y = ascii.top(); y <= ascii.bottom(); ++y)
      for (int x = ascii.left(); x <= ascii.right(); ++x)
        painted += item.pixelColor(x, y) != Base();
    EXPECT_EQ(painted, 0) << value;
    EXPECT_GT(CountInk(item, Bands().Decimal, kGreen, Base()), 0) << value;
  }
  const std::vector<std::string> space{"ascii: #808080", "  #808080"};
  EXPECT_EQ(Read(test::TextsIn(ItemTexts(32), Bands().Ascii)), space)
      << "the first character, grey as every one that is no digit or letter";
  const std::vector<std::string> letter{"ascii: #000080", "A #000080"};
  EXPECT_EQ(Read(test::TextsIn(ItemTexts(65), Bands().Ascii)), letter);
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
  TPaintRecorder list(view->viewport()->size());
  view->viewport()->render(&list);
  combo_.hidePopup();
  ASSERT_EQ(universal.height(), 2 * kComboItemHeight);
  ASSERT_EQ(special.height(), 2 * kComboItemHeight);
  const auto secondLine = [](const QRect& item) {
    return item.adjusted(0, kComboItemHeight, 0, 0);
  };
  EXPECT_EQ(Read(list.TextsIn(secondLine(universal))),
            std::vector<std::string>{"(broadcast address) #000000"});
  EXPECT_EQ(Read(list.TextsIn(secondLine(special))),
            std::vector<std::string>{"(special Korvel address) #000000"});
  for (const QRect& item : {universal, special}) {
    const QRect firstLine = item.adjusted(0, 0, 0, kComboItemHeight - item.height());
    EXPECT_EQ(list.TextsIn(firstLine).size(), 6u) << "the three notations";
  }
  const auto fillUnder = [&](const QRect& item) {
    QColor colour;
    for (const test::TRecordedFill& fill : list.Fills())
      if (fill.rect.contains(QRectF(item).center())) colour = fill.colour;
    return colour;
  };
  EXPECT_EQ(fillUnder(universal), combo_.palette().color(QPalette::Highlight)) << "the current";
  EXPECT_EQ(fillUnder(special), Base());

  const std::vector<TRecordedText> face = FaceTexts();
  ASSERT_EQ(face.size(), 6u) << "the notations on one line, no note";
  EXPECT_EQ(face[3].text, "254");
  EXPECT_EQ(face[5].text, "FE");
  for (const TRecordedText& text : std::vector(face.begin() + 2, face.end()))
    EXPECT_GT(text.pen.saturation(), 200) << text.text.toStdString() << " in its colour";
}

TEST_F(AddressComboBoxTest, DisabledBoxPaintsItsFaceGreyOnly) {
  combo_.setEnabled(false);
  const std::vector<TRecordedText> face = FaceTexts();
  ASSERT_EQ(face.size(), 6u);
  for (const TRecordedText& text : face)
    EXPECT_EQ(text.pen, kGrey) << text.text.toStdString();
}

// What one baud item draws.
std::vector<TRecordedText> BaudItemTexts(const QComboBox& combo, int row) {
  QStyleOptionViewItem option;
  option.initFrom(&combo);
  option.font = combo.font();
  option.rect = QRect(0, 0, 80, kComboItemHeight);
  TPaintRecorder recorder(option.rect.size());
  QPainter painter(&recorder);
  combo.itemDelegate()->paint(&painter, option, combo.model()->index(row, 0));
  return recorder.Texts();
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

  for (int row = 0; row < combo.count(); ++row) {
    const std::vector<TRecordedText> texts = BaudItemTexts(combo, row);
    ASSERT_EQ(texts.size(), 1u) << row;
    EXPECT_EQ(texts[0].text, combo.itemText(row));
    EXPECT_EQ(texts[0].font.bold(), row == 5 || row == 9) << row;
    EXPECT_EQ(texts[0].baseline.x(), 2) << row;
  }
}

}  // namespace
}  // namespace zorvid
