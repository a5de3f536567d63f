#pragma once

// What the communication log holds, apart from the window that shows it: the traffic cut into
// lines, which lines the instruction filter hides, and the bounded list of lines behind the
// log's view. Used on the user-interface thread only.

#include <QAbstractListModel>
#include <QColor>
#include <QString>
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "capture/TrafficCutter.h"

namespace zorvid {

// When a piece of traffic arrived; the zero value stands for "no time" (a line without prefix).
using TLogTime = TTrafficTime;

// One piece of tapped traffic waiting to be written.
struct TLogStruct {
  TByteString data;
  TLogTime time;
  TTrafficDirection direction = TTrafficDirection::kToDisplay;
};

// One line of the log: a record of traffic and what its request told about it.
struct TLogEntry {
  TTrafficRecord record;
  // For an answer whose request was seen: that request's instruction and the time between them.
  std::optional<TByte> requestInstruction;
  std::int32_t latencyUs = -1;
};

// The line's colour: by direction and acknowledge for packets; orange for sent bytes that are
// no packet, fuchsia for received ones.
QColor LogColour(const TLogEntry& entry);
// The text after the time prefix: a packet in hex pairs; other bytes as characters, a control
// byte as its hex digits in angle brackets ("<0D>"), so one entry never spans several lines.
QString LogText(const TLogEntry& entry);
// The packet decoded, for a tooltip: who sent it to whom, SIG, instruction or acknowledge by
// name, the data in words, and for an answer the time since its request.
QString LogDescription(const TLogEntry& entry);

// True when `code` as two upper-case hex digits occurs anywhere in `hiddenCodes`.
bool IsCodeHidden(TByte code, const QString& hiddenCodes);

// Turns buffered traffic into log lines. Received bytes are cut as the stack cuts them, so a
// stray byte costs one raw line and nothing after it. A request whose code is in the hidden
// codes is hidden together with its answer (the packet from the display with its address and
// SIG, whenever it comes) and nothing else; an unsolicited packet is hidden by its own code.
// Keeps the waiting received bytes and the requests waiting for answers between calls. Not
// thread-safe.
class TLogCutter {
 public:
  std::vector<TLogEntry> Cut(const std::vector<TLogStruct>& items, const QString& hiddenCodes);
  std::size_t WaitingBytes() const { return traffic_.Waiting(); }
  std::size_t WaitingRequests() const { return requests_.Waiting(); }

 private:
  // Whether the record gives a line; fills in what its request told.
  bool Admit(TLogEntry& entry, const QString& hiddenCodes);

  TTrafficCutter traffic_;
  TExchangeMatcher requests_;
  std::vector<TTrafficRecord> records_;  // reused between calls
};

// The lines of the log, oldest first, at most Limit() of them: when new lines would pass the
// limit, the oldest go in blocks of a tenth of it, so the view is told of a removal once per
// block. A line costs its entry (about 60 bytes; packets up to 15 bytes need no other memory).
class TLogModel : public QAbstractListModel {
  Q_OBJECT

 public:
  enum TRole {
    kPrefixRole = Qt::UserRole,  // QString: "[yyyy-MM-dd hh:mm:ss] ", with ".zzz" when chosen
    kTextRole,                   // QString: LogText
  };
  static constexpr int kDefaultLimit = 100'000;

  explicit TLogModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  // Display: prefix and text; Foreground: LogColour; ToolTip: LogDescription.
  QVariant data(const QModelIndex& index, int role) const override;

  void Append(std::vector<TLogEntry> entries);
  void Clear();
  const TLogEntry& Entry(int row) const { return entries_[static_cast<std::size_t>(row)]; }

  int Limit() const { return limit_; }
  // Removes the oldest lines at once when there are more than `limit`.
  void SetLimit(int limit);
  // Lines removed from the front since the model was made: a view that keeps its place needs
  // them.
  std::uint64_t RemovedTotal() const { return removedTotal_; }

  bool ShowMilliseconds() const { return milliseconds_; }
  void SetShowMilliseconds(bool show);
  QString Prefix(TLogTime time) const { return Prefix(time, milliseconds_); }
  QString Prefix(TLogTime time, bool milliseconds) const;
  QString Line(int row) const;  // prefix and text
  QString Line(int row, bool milliseconds) const;
  // The text of the widest line the log has held since it was last cleared: the width of
  // every row, so that no line is cut and the view lays out rows of one size.
  QString WidestText() const { return LogText(widest_); }

 signals:
  void widestChanged();
  // Lines went from the front; rows of the lines that stay moved up by `count`.
  void oldestRemoved(int count);

 private:
  void RemoveOldest(int count);
  void NoteWidest(const std::vector<TLogEntry>& entries);

  std::deque<TLogEntry> entries_;
  int limit_ = kDefaultLimit;
  std::uint64_t removedTotal_ = 0;
  bool milliseconds_ = false;
  TLogEntry widest_;
  std::size_t widestChars_ = 0;
  // The prefix of the last second formatted: neighbouring lines mostly share it.
  mutable std::int64_t prefixSecond_ = -1;
  mutable QString prefix_;
};

// What the find bar looks for: the text, case-insensitively, in a line as shown; and when the
// text reads as hex bytes ("2A 61", "2a61"), also those bytes in a line's traffic.
class TLogQuery {
 public:
  explicit TLogQuery(const QString& text);
  bool IsEmpty() const { return text_.isEmpty(); }
  bool Matches(const TLogModel& model, int row) const;

 private:
  QString text_;
  std::optional<TByteString> bytes_;
};

// The first row after `start` in the given direction, wrapping round, that matches; nothing
// when none does. `start` -1 searches from the first (forward) or the last (backward) row.
std::optional<int> FindLogLine(const TLogModel& model, const TLogQuery& query, int start,
                               bool forward);

}  // namespace zorvid
