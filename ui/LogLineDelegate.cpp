#include "ui/LogLineDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>

#include "ui/LogModel.h"

namespace zorvid {
namespace {

constexpr int kMargin = 3;  // left of the prefix and right of the widest text

}  // namespace

const QColor TLogLineDelegate::kMatchColour(255, 240, 140);

TLogLineDelegate::TLogLineDelegate(const TLogModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

void TLogLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  const int row = index.row();
  const bool selected = option.state & QStyle::State_Selected;
  if (selected)
    painter->fillRect(option.rect, option.palette.brush(QPalette::Highlight));
  else if (query_ && query_->Matches(model_, row))
    painter->fillRect(option.rect, kMatchColour);

  const TLogEntry& entry = model_.Entry(row);
  const QString prefix = model_.Prefix(entry.record.time);
  QRect rect = option.rect.adjusted(kMargin, 0, 0, 0);
  painter->save();
  painter->setFont(prefixFont_);
  painter->setPen(selected ? option.palette.color(QPalette::HighlightedText) : QColor(Qt::black));
  painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, prefix);
  rect.setLeft(rect.left() +
               QFontMetrics(prefixFont_, painter->device()).horizontalAdvance(prefix));
  painter->setFont(textFont_);
  painter->setPen(selected ? option.palette.color(QPalette::HighlightedText) : LogColour(entry));
  painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, LogText(entry));
  if (option.state & QStyle::State_HasFocus) {
    QStyleOptionFocusRect focus;
    focus.initFrom(option.widget);
    focus.rect = option.rect;
    QApplication::style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, option.widget);
  }
  painter->restore();
}

QSize TLogLineDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  const QFontMetrics prefix(prefixFont_);
  const QFontMetrics text(textFont_);
  const QString longestPrefix = model_.Prefix(TLogTime(std::chrono::seconds(1)));
  const int width = kMargin + prefix.horizontalAdvance(longestPrefix) +
                    text.horizontalAdvance(model_.WidestText()) + kMargin;
  return {width, std::max(prefix.height(), text.height()) + 1};
}

}  // namespace zorvid
