#pragma once

#include <QFont>
#include <QStyledItemDelegate>

#include "ui/WindowFonts.h"

namespace zorvid {

class TLogModel;
class TLogQuery;

// Paints a log line as the log has always looked: the time prefix in black in the log's fixed
// font at size 6, then the text in the line's colour in its text font at size 10; a line the find
// bar matches on a pale yellow ground. Every row has the height of the taller font and the
// width of the widest line, so the view lays rows out without asking each one.
// User-interface thread.
class TLogLineDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  TLogLineDelegate(const TLogModel& model, QObject* parent);

  // The lines that match are highlighted; null highlights none. Not owned.
  void SetQuery(const TLogQuery* query) { query_ = query; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  static const QColor kMatchColour;

 private:
  const TLogModel& model_;
  const TLogQuery* query_ = nullptr;
  QFont prefixFont_ = LogPrefixFont();
  QFont textFont_ = LogTextFont();
};

}  // namespace zorvid
