#include "ui/AddressComboBox.h"

#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QListView>
#include <QPainter>
#include <QStringList>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <algorithm>
#include <iterator>

#include "link/DisplayConnection.h"
#include "ui/WindowFonts.h"

namespace zorvid {
namespace {

// Point sizes of the small labels, the values and the note on the second line.
constexpr int kLabelPointSize = 7;
constexpr int kValuePointSize = 9;
constexpr int kNotePointSize = 8;
// Below this code a character has no picture, so the character and its label are left out.
constexpr int kFirstPrintableCode = 32;
// The two reserved addresses of the protocol, which are two lines high in the open list.
constexpr int kUniversalAddress = kBroadcastAddress;
constexpr int kSpecialAddress = kRefusedAddress;

const QStringList kBaudRates = {"110",  "300",   "1200",  "2400",  "4800",
                                "9600", "19200", "38400", "57600", "115200"};
constexpr int kUsualBaudRateRows[] = {5, 9};

int LineHeight(int pointSize, const QPaintDevice* device) {
  return QFontMetrics(AddressListFont(pointSize), device).height();
}

// The list's font, in bold for the two usual rates.
QFont BaudRateFont(const QStyleOptionViewItem& option, const QModelIndex& index) {
  QFont font = option.font;
  font.setBold(std::find(std::begin(kUsualBaudRateRows), std::end(kUsualBaudRateRows),
                         index.row()) != std::end(kUsualBaudRateRows));
  return font;
}

bool IsAsciiDigitOrLetter(int code) {
  return (code >= '0' && code <= '9') || (code >= 'a' && code <= 'z') ||
         (code >= 'A' && code <= 'Z');
}

bool IsSelected(const QStyleOptionViewItem& option) {
  return option.state.testFlag(QStyle::State_Selected);
}

QPalette::ColorGroup ColorGroupOf(const QStyleOptionViewItem& option) {
  return option.state.testFlag(QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
}

// The highlight under a selected item, the list's base colour under any other.
void FillItemBackground(QPainter& painter, const QStyleOptionViewItem& option) {
  const QPalette::ColorRole role = IsSelected(option) ? QPalette::Highlight : QPalette::Base;
  painter.fillRect(option.rect, option.palette.brush(ColorGroupOf(option), role));
}

// Draws `text` with its top left corner at `topLeft`; the pen is already set.
void DrawTextAt(QPainter& painter, const QFont& font, QPoint topLeft, const QString& text) {
  painter.setFont(font);
  painter.drawText(topLeft.x(), topLeft.y() + painter.fontMetrics().ascent(), text);
}

// One notation: a small label and, right of it, the value in the larger size.
void DrawNotation(QPainter& painter, const QColor& color, const QString& label, QPoint labelAt,
                  const QString& value, QPoint valueAt) {
  painter.setPen(color);
  DrawTextAt(painter, AddressListFont(kLabelPointSize), labelAt, label);
  DrawTextAt(painter, AddressListFont(kValuePointSize), valueAt, value);
}

void DrawAddressLine(QPainter& painter, const QRect& line, int value,
                     const TAddressItemColors& colors) {
  const TAddressItemLayout at = AddressItemLayout(line, painter.device());
  if (value >= kFirstPrintableCode) {
    const auto code = static_cast<char32_t>(value);
    DrawNotation(painter, colors.Ascii, QStringLiteral("ascii:"), {at.AsciiLabelX, at.LabelTop},
                 QString::fromUcs4(&code, 1), {at.CharacterX, at.ValueTop});
  }
  DrawNotation(painter, colors.Decimal, QStringLiteral("dec:"), {at.DecLabelX, at.LabelTop},
               QString::number(value), {at.DecValueX, at.ValueTop});
  DrawNotation(painter, colors.Hexadecimal, QStringLiteral("hex:"), {at.HexLabelX, at.LabelTop},
               QString::number(value, 16).toUpper().rightJustified(2, u'0'),
               {at.HexValueX, at.ValueTop});
}

// The second line of a reserved address, which sits 3 px above the item's bottom.
void DrawReservedAddressNote(QPainter& painter, const QRect& item, int value) {
  const QString note = value == kUniversalAddress ? QStringLiteral("(broadcast address)")
                       : value == kSpecialAddress ? QStringLiteral("(special Korvel address)")
                                                  : QString();
  if (note.isEmpty()) return;
  const int top = item.top() + item.height() - 3 - LineHeight(kValuePointSize, painter.device());
  painter.setPen(Qt::black);
  DrawTextAt(painter, AddressListFont(kNotePointSize), {item.left() + 3, top}, note);
}

// Draws the closed box's face: the box's frame and arrow from the style, and in its edit field
// the current item through the box's item delegate, on one line. Lives as a child of the box
// and runs on the user-interface thread, where the box's paint events arrive.
class TComboBoxFace : public QObject {
  Q_OBJECT

 public:
  explicit TComboBoxFace(QComboBox* combo) : QObject(combo), combo_(combo) {
    combo->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != combo_ || event->type() != QEvent::Paint || combo_->isEditable()) return false;
    Paint();
    return true;
  }

 private:
  void Paint() const {
    QStylePainter painter(combo_);
    QStyleOptionComboBox box;
    box.initFrom(combo_);
    box.frame = combo_->hasFrame();
    box.subControls = QStyle::SC_All;
    if (combo_->hasFocus()) box.state |= QStyle::State_Selected;
    if (combo_->view()->isVisible()) box.state |= QStyle::State_On;
    painter.drawComplexControl(QStyle::CC_ComboBox, box);

    // The face shows the current item as selected while the box has the focus.
    QStyleOptionViewItem item;
    item.initFrom(combo_);
    item.font = combo_->font();
    if (combo_->hasFocus()) item.state |= QStyle::State_Selected;
    item.rect = combo_->style()->subControlRect(QStyle::CC_ComboBox, &box,
                                                QStyle::SC_ComboBoxEditField, combo_);
    FillItemBackground(painter, item);
    if (combo_->currentIndex() < 0) return;
    item.rect =
        QRect(item.rect.left(), item.rect.top() + (item.rect.height() - kComboItemHeight) / 2,
              item.rect.width(), kComboItemHeight);
    const QModelIndex current = combo_->model()->index(
        combo_->currentIndex(), combo_->modelColumn(), combo_->rootModelIndex());
    combo_->itemDelegate()->paint(&painter, item, current);
  }

  QComboBox* combo_;
};

// The width of a whole address line, with the margin at its left repeated at its right.
int AddressLineWidth() {
  return AddressItemLayout(QRect()).RightX + 3;
}

bool IsOwnDelegate(QAbstractItemDelegate* delegate) {
  return qobject_cast<TComboBoxKorvelAddress*>(delegate) != nullptr ||
         qobject_cast<TBaudRateItemDelegate*>(delegate) != nullptr;
}

// Makes `combo` a non-editable list drawn by `delegate` (which it then owns), with items of
// their own heights and, when `drawFace`, the current item drawn the same way on the face.
void MakeOwnerDrawnList(QComboBox* combo, QStyledItemDelegate* delegate, bool drawFace) {
  combo->setEditable(false);
  QAbstractItemDelegate* previous = combo->itemDelegate();
  combo->setItemDelegate(delegate);
  if (IsOwnDelegate(previous)) delete previous;
  if (auto* listView = qobject_cast<QListView*>(combo->view()))
    listView->setUniformItemSizes(false);

  auto* face = combo->findChild<TComboBoxFace*>(QString(), Qt::FindDirectChildrenOnly);
  if (drawFace && face == nullptr) new TComboBoxFace(combo);
  if (!drawFace) delete face;
  combo->update();
}

// Widens the box, if needed, so that its edit field holds a whole address line.
void FitFaceToAddressLine(QComboBox* combo, int lineWidth) {
  QStyleOptionComboBox box;
  box.initFrom(combo);
  box.frame = combo->hasFrame();
  const QSize face = combo->style()->sizeFromContents(QStyle::CT_ComboBox, &box,
                                                      QSize(lineWidth, kComboItemHeight), combo);
  combo->setMinimumWidth(face.width());
}

}  // namespace

TAddressItemColors AddressItemColors(int value, bool enabled, bool selected) {
  const QColor grey(128, 128, 128);
  if (!enabled) return {grey, grey, grey};
  if (selected) return {QColor(255, 255, 255), QColor(0, 255, 255), QColor(255, 255, 0)};
  return {IsAsciiDigitOrLetter(value) ? QColor(0, 0, 128) : grey, QColor(0, 128, 0),
          QColor(128, 0, 0)};
}

TAddressItemLayout AddressItemLayout(const QRect& item, const QPaintDevice* device) {
  const QFontMetrics label(AddressListFont(kLabelPointSize), device);
  const QFontMetrics value(AddressListFont(kValuePointSize), device);
  TAddressItemLayout layout;
  // Centred with integer division, which rounds toward zero.
  layout.ValueTop = item.top() + (kComboItemHeight - value.height()) / 2;
  layout.LabelTop = layout.ValueTop + 2;
  layout.AsciiLabelX = item.left() + 3;
  layout.CharacterX = layout.AsciiLabelX + label.horizontalAdvance(QStringLiteral("ascii:")) + 2;
  layout.DecLabelX = layout.CharacterX + value.horizontalAdvance(u'W') + 4;
  layout.DecValueX = layout.DecLabelX + label.horizontalAdvance(QStringLiteral("dec:")) + 2;
  layout.HexLabelX = layout.DecValueX + value.horizontalAdvance(QStringLiteral("999")) + 4;
  layout.HexValueX = layout.HexLabelX + label.horizontalAdvance(QStringLiteral("hex:")) + 2;
  layout.RightX = layout.HexValueX + value.horizontalAdvance(QStringLiteral("WWW"));
  return layout;
}

TComboBoxKorvelAddress::TComboBoxKorvelAddress(bool variableHeight, bool ownerDraw, QObject* parent)
    : QStyledItemDelegate(parent), variableHeight_(variableHeight), ownerDraw_(ownerDraw) {}

int TComboBoxKorvelAddress::LineCount(const QString& text) const {
  bool isInteger = false;
  const int value = text.toInt(&isInteger);
  return variableHeight_ && isInteger && value >= kUniversalAddress ? 2 : 1;
}

void TComboBoxKorvelAddress::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
  if (!ownerDraw_) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  painter->save();
  painter->setClipRect(option.rect);
  FillItemBackground(*painter, option);
  bool isInteger = false;
  const int value = index.data(Qt::DisplayRole).toString().toInt(&isInteger);
  if (isInteger) {
    const TAddressItemColors colors =
        AddressItemColors(value, option.state.testFlag(QStyle::State_Enabled), IsSelected(option));
    DrawAddressLine(*painter, option.rect, value, colors);
    // Only the open list gives an item the room of a second line; the face never does.
    if (option.rect.height() > kComboItemHeight)
      DrawReservedAddressNote(*painter, option.rect, value);
  }
  painter->restore();
}

QSize TComboBoxKorvelAddress::sizeHint(const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const {
  const int width =
      ownerDraw_ ? AddressLineWidth() : QStyledItemDelegate::sizeHint(option, index).width();
  return {width, LineCount(index.data(Qt::DisplayRole).toString()) * kComboItemHeight};
}

void TBaudRateItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  painter->save();
  painter->setClipRect(option.rect);
  FillItemBackground(*painter, option);
  const QPalette::ColorRole role = IsSelected(option) ? QPalette::HighlightedText : QPalette::Text;
  painter->setPen(option.palette.color(ColorGroupOf(option), role));
  DrawTextAt(*painter, BaudRateFont(option, index), option.rect.topLeft() + QPoint(2, 1),
             index.data(Qt::DisplayRole).toString());
  painter->restore();
}

QSize TBaudRateItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const {
  const QFontMetrics metrics(BaudRateFont(option, index));
  return {metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString()) + 4, kComboItemHeight};
}

void SetupAddressComboBox(QWidget* list, int first, bool variableHeight, bool ownerDraw,
                          int defaultValue, int last) {
  auto* combo = qobject_cast<QComboBox*>(list);
  if (combo == nullptr) return;
  auto* delegate = new TComboBoxKorvelAddress(variableHeight, ownerDraw, combo);
  MakeOwnerDrawnList(combo, delegate, ownerDraw);
  if (ownerDraw) {
    // The box's own metrics follow the family its items are drawn in.
    QFont font = combo->font();
    font.setFamilies(AddressListFont(font.pointSize()).families());
    combo->setFont(font);
    FitFaceToAddressLine(combo, AddressLineWidth());
  }
  QStringList items;
  for (qint64 value = first; value <= last; ++value)
    items.append(QString::number(value));
  combo->clear();
  combo->addItems(items);
  combo->setCurrentIndex(combo->findText(QString::number(defaultValue)));
}

void SetupBaudRateComboBox(QComboBox* list) {
  if (list == nullptr) return;
  MakeOwnerDrawnList(list, new TBaudRateItemDelegate(list), true);
  list->clear();
  list->addItems(kBaudRates);
}

}  // namespace zorvid

#include "AddressComboBox.moc"
