#include "ui/LogModel.h"

#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <iterator>

#include "capture/PacketDecoder.h"
#include "core/HexText.h"

namespace zorvid {
namespace {

using TKind = TTrafficRecord::TKind;
using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// Byte 6 of a packet: the instruction code of a request, the acknowledge code of an answer.
constexpr std::size_t kCodeOffset = 6;
constexpr std::size_t kSigOffset = 5;
constexpr std::size_t kAddressOffset = 4;

const QColor kSentPacketColour(0, 128, 0);
const QColor kAcknowledgedColour(0, 0, 255);
const QColor kRefusedColour(255, 0, 0);
const QColor kLeftOverSentColour(255, 128, 0);
const QColor kWaitingReceivedColour(255, 0, 255);

bool IsPacket(const TTrafficRecord& record) {
  return record.kind == TKind::kPacket;
}
bool IsToDisplay(const TTrafficRecord& record) {
  return record.direction == TTrafficDirection::kToDisplay;
}
TByte Code(const TTrafficRecord& record) {
  return ByteAt(record.bytes, kCodeOffset);
}

QString TwoHexDigits(TByte byte) {
  return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

QString Hex(TByte byte) {
  return QStringLiteral("0x") + TwoHexDigits(byte);
}

// Who sent the packet to whom, and its SIG.
QString PacketHeading(const TLogEntry& entry, const TPacketSummary& packet) {
  const TTrafficRecord& record = entry.record;
  if (IsToDisplay(record))
    return QStringLiteral("Request to %1, SIG %2").arg(Hex(packet.address), Hex(packet.sig));
  QString kind =
      packet.unsolicited ? QStringLiteral("Unsolicited packet") : QStringLiteral("Answer");
  if (entry.requestInstruction) {
    const std::string_view name = InstructionName(*entry.requestInstruction);
    kind += QStringLiteral(" to ") +
            (name.empty() ? Hex(*entry.requestInstruction)
                          : QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  }
  QString heading =
      QStringLiteral("%1 from %2, SIG %3").arg(kind, Hex(packet.address), Hex(packet.sig));
  if (entry.latencyUs >= 0)
    heading += QStringLiteral(", %1 ms after its request")
                   .arg(QString::number(entry.latencyUs / 1000.0, 'f', 1));
  return heading;
}

QString PacketDescription(const TLogEntry& entry) {
  const TPacketSummary packet =
      SummarizePacket(entry.record.bytes, entry.record.direction, entry.requestInstruction);
  return PacketHeading(entry, packet) + u'\n' +
         QString::fromStdString(DecodingText(packet.decoding));
}

QString DamageDescription(const TTrafficRecord& record) {
  const std::string_view damage = DamageName(record.bytes);
  if (damage.empty()) return QStringLiteral("Damaged packet");
  return QStringLiteral("Damaged packet: ") +
         QString::fromLatin1(damage.data(), static_cast<qsizetype>(damage.size()));
}

// Received bytes that are no packet right after others join their line: a run of garbage is
// one raw line, damaged candidates in it included. Each sent left-over stays a line of its own,
// as the program wrote it.
bool JoinsRawLine(std::vector<TLogEntry>& entries, const TTrafficRecord& record) {
  if (IsPacket(record) || IsToDisplay(record) || entries.empty()) return false;
  TTrafficRecord& last = entries.back().record;
  if (IsPacket(last) || IsToDisplay(last)) return false;
  last.kind = TKind::kNoise;
  last.bytes += record.bytes;
  return true;
}

}  // namespace

QColor LogColour(const TLogEntry& entry) {
  const TTrafficRecord& record = entry.record;
  if (!IsPacket(record)) return IsToDisplay(record) ? kLeftOverSentColour : kWaitingReceivedColour;
  if (IsToDisplay(record)) return kSentPacketColour;
  return Code(record) == 0 ? kAcknowledgedColour : kRefusedColour;
}

QString LogText(const TLogEntry& entry) {
  const std::string_view bytes = entry.record.bytes;
  if (IsPacket(entry.record)) return QString::fromLatin1(FormatHexSpaced(bytes));
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const TByte byte = ByteAt(bytes, i);
    if (byte < 0x20 || byte == 0x7F)
      text +=
          QLatin1Char('<') + QLatin1String(FormatHexPacked(bytes.substr(i, 1))) + QLatin1Char('>');
    else
      text += QChar(byte);
  }
  return text;
}

QString LogDescription(const TLogEntry& entry) {
  const TTrafficRecord& record = entry.record;
  const QString from = IsToDisplay(record) ? QStringLiteral("sent") : QStringLiteral("received");
  switch (record.kind) {
    case TKind::kPacket:
      return PacketDescription(entry);
    case TKind::kDamaged:
      return DamageDescription(record) + QStringLiteral(" (%1)").arg(from);
    case TKind::kNoise:
      break;
  }
  return QStringLiteral("%1 bytes %2 that are no packet").arg(record.bytes.size()).arg(from);
}

bool IsCodeHidden(TByte code, const QString& hiddenCodes) {
  return hiddenCodes.contains(TwoHexDigits(code));
}

// ---- Cutting ------------------------------------------------------------------------------

std::vector<TLogEntry> TLogCutter::Cut(const std::vector<TLogStruct>& items,
                                       const QString& hiddenCodes) {
  std::vector<TLogEntry> entries;
  for (const TLogStruct& item : items) {
    records_.clear();
    traffic_.Cut(item.direction, item.data, item.time, records_);
    for (TTrafficRecord& record : records_) {
      if (JoinsRawLine(entries, record)) continue;
      TLogEntry entry{std::move(record), std::nullopt, -1};
      if (Admit(entry, hiddenCodes)) entries.push_back(std::move(entry));
    }
  }
  return entries;
}

bool TLogCutter::Admit(TLogEntry& entry, const QString& hiddenCodes) {
  const TTrafficRecord& record = entry.record;
  if (!IsPacket(record)) return true;
  const TByte address = ByteAt(record.bytes, kAddressOffset);
  const TByte sig = ByteAt(record.bytes, kSigOffset);
  const TByte code = Code(record);
  if (IsToDisplay(record)) {
    const bool hidden = IsCodeHidden(code, hiddenCodes);
    requests_.Request(address, sig, {code, record.time, hidden});
    return !hidden;
  }
  if (IsUnsolicitedCode(code)) return !IsCodeHidden(code, hiddenCodes);
  const std::optional<TRequestSeen> request = requests_.Answer(address, sig);
  if (!request) return true;
  entry.requestInstruction = request->instruction;
  entry.latencyUs = static_cast<std::int32_t>(std::clamp<std::int64_t>(
      duration_cast<microseconds>(record.time - request->time).count(), 0, INT32_MAX));
  return !request->hidden;
}

// ---- The lines ----------------------------------------------------------------------------

TLogModel::TLogModel(QObject* parent) : QAbstractListModel(parent) {}

int TLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant TLogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TLogEntry& entry = Entry(index.row());
  switch (role) {
    case Qt::DisplayRole:
      return Line(index.row());
    case kPrefixRole:
      return Prefix(entry.record.time);
    case kTextRole:
      return LogText(entry);
    case Qt::ForegroundRole:
      return LogColour(entry);
    case Qt::ToolTipRole:
      return LogDescription(entry);
    default:
      return {};
  }
}

void TLogModel::Append(std::vector<TLogEntry> entries) {
  if (entries.empty()) return;
  // At most the limit, and room for a block more, so removals come a block at a time.
  const std::size_t incoming = std::min<std::size_t>(entries.size(), limit_);
  const std::size_t total = entries_.size() + incoming;
  if (total > static_cast<std::size_t>(limit_)) {
    const std::size_t block = std::max(1, limit_ / 10);
    const std::size_t excess = total - limit_;
    RemoveOldest(static_cast<int>(std::min(entries_.size(), (excess + block - 1) / block * block)));
  }
  NoteWidest(entries);
  const auto first = entries.end() - static_cast<std::ptrdiff_t>(incoming);
  const int row = rowCount();
  beginInsertRows(QModelIndex(), row, row + static_cast<int>(incoming) - 1);
  entries_.insert(entries_.end(), std::make_move_iterator(first),
                  std::make_move_iterator(entries.end()));
  endInsertRows();
}

void TLogModel::RemoveOldest(int count) {
  if (count <= 0) return;
  beginRemoveRows(QModelIndex(), 0, count - 1);
  entries_.erase(entries_.begin(), entries_.begin() + count);
  endRemoveRows();
  removedTotal_ += static_cast<std::uint64_t>(count);
  emit oldestRemoved(count);
}

// The number of characters stands in for the width: the packets' hex digits are all of one
// width in most fonts, and a raw line is rare.
void TLogModel::NoteWidest(const std::vector<TLogEntry>& entries) {
  const TLogEntry* widest = nullptr;
  for (const TLogEntry& entry : entries) {
    const std::size_t chars = entry.record.bytes.size() * 3;
    if (chars > widestChars_) {
      widestChars_ = chars;
      widest = &entry;
    }
  }
  if (!widest) return;
  widest_ = *widest;
  emit widestChanged();
}

void TLogModel::Clear() {
  beginResetModel();
  entries_.clear();
  entries_.shrink_to_fit();
  widest_ = {};
  widestChars_ = 0;
  endResetModel();
  emit widestChanged();
}

void TLogModel::SetLimit(int limit) {
  limit_ = std::max(1, limit);
  RemoveOldest(rowCount() - limit_);
}

void TLogModel::SetShowMilliseconds(bool show) {
  if (show == milliseconds_) return;
  milliseconds_ = show;
  if (rowCount() > 0) emit dataChanged(index(0), index(rowCount() - 1));
}

QString TLogModel::Prefix(TLogTime time, bool milliseconds) const {
  if (time == TLogTime()) return {};
  const std::int64_t ms = duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  const std::int64_t second = ms / 1000;
  if (second != prefixSecond_) {
    prefixSecond_ = second;
    prefix_ =
        QDateTime::fromSecsSinceEpoch(second).toString(QStringLiteral("[yyyy-MM-dd hh:mm:ss"));
  }
  if (!milliseconds) return prefix_ + QStringLiteral("] ");
  return prefix_ + QStringLiteral(".%1] ").arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QString TLogModel::Line(int row) const {
  return Line(row, milliseconds_);
}

QString TLogModel::Line(int row, bool milliseconds) const {
  const TLogEntry& entry = Entry(row);
  return Prefix(entry.record.time, milliseconds) + LogText(entry);
}

// ---- Finding ------------------------------------------------------------------------------

TLogQuery::TLogQuery(const QString& text) : text_(text.trimmed()) {
  if (auto bytes = ParseHex(text_.toStdString()); bytes && !bytes->empty()) bytes_ = *bytes;
}

bool TLogQuery::Matches(const TLogModel& model, int row) const {
  if (text_.isEmpty()) return false;
  if (bytes_ && model.Entry(row).record.bytes.find(*bytes_) != std::string::npos) return true;
  return model.Line(row).contains(text_, Qt::CaseInsensitive);
}

std::optional<int> FindLogLine(const TLogModel& model, const TLogQuery& query, int start,
                               bool forward) {
  const int count = model.rowCount();
  if (count == 0 || query.IsEmpty()) return std::nullopt;
  if (start < 0 || start >= count) start = forward ? count - 1 : 0;
  const int step = forward ? 1 : count - 1;
  for (int i = 1, row = (start + step) % count; i <= count; ++i, row = (row + step) % count)
    if (query.Matches(model, row)) return row;
  return std::nullopt;
}

}  // namespace zorvid
