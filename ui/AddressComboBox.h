#pragma once

// Drop-down lists that draw their own items: the address selector, which shows each device
// address as a character, a decimal and a hexadecimal number, and the baud-rate list, which
// stresses the two usual rates. Both draw the closed box's face with the same code as the items.
#include <QColor>
#include <QRect>
#include <QStyledItemDelegate>

class QComboBox;
class QPaintDevice;
class QWidget;

namespace zorvid {

// Height of one line of an address or baud list, in logical pixels.
inline constexpr int kComboItemHeight = 15;

// The colours of the three notations of one address item.
struct TAddressItemColors {
  QColor Ascii;
  QColor Decimal;
  QColor Hexadecimal;

  friend bool operator==(const TAddressItemColors&, const TAddressItemColors&) = default;
};

// The colours of address `value`: grey when the list is disabled, light ones on the highlight of
// a selected item, and a dimmed character for values that are not a digit or an ASCII letter.
TAddressItemColors AddressItemColors(int value, bool enabled, bool selected);

// Where the parts of one address line go, for a line whose rectangle is `item`: the left edge of
// each label and value, the right end of the line, and the tops of the labels and the values.
// Metrics are taken on `device` (the default screen when null).
struct TAddressItemLayout {
  int AsciiLabelX = 0;
  int CharacterX = 0;
  int DecLabelX = 0;
  int DecValueX = 0;
  int HexLabelX = 0;
  int HexValueX = 0;
  int RightX = 0;
  int LabelTop = 0;
  int ValueTop = 0;
};
TAddressItemLayout AddressItemLayout(const QRect& item, const QPaintDevice* device = nullptr);

// The item measure and draw of an address selector (the delegate), also used for the closed
// face. Item texts are decimal addresses; an item whose text is no integer is only cleared.
// With `variableHeight` the two reserved addresses 254 and 255 are two lines high and, where
// the rectangle gives them that room (the open list), carry a note on the second line. Without
// `ownerDraw` the items are drawn as plain text at the same heights.
class TComboBoxKorvelAddress : public QStyledItemDelegate {
  Q_OBJECT

 public:
  TComboBoxKorvelAddress(bool variableHeight, bool ownerDraw, QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // The number of lines that the item with `text` takes in the open list.
  int LineCount(const QString& text) const;

 private:
  bool variableHeight_;
  bool ownerDraw_;
};

// The draw of a baud list: the item text 2 px right of and 1 px below the item's top left,
// bold for the two usual rates at index 5 ("9600") and 9 ("115200").
class TBaudRateItemDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Prepares any drop-down list as an address selector; does nothing for a widget that is not a
// QComboBox. The items become the decimal texts of first ... last (none when last < first), and
// the item of `defaultValue` is selected (none when it is not listed).
void SetupAddressComboBox(QWidget* list, int first, bool variableHeight, bool ownerDraw,
                          int defaultValue, int last);

// The connection dialog's baud list: fills the ten items "110" ... "115200" and draws them
// (text 2 px right of and 1 px below the item's top left, bold for index 5 "9600" and
// 9 "115200", item height 15).
void SetupBaudRateComboBox(QComboBox* list);

}  // namespace zorvid
