#include "capture/TrafficCutter.h"

#include "protocol/KorvelInterfaces.h"

namespace zorvid {
namespace {

using TKind = TTrafficRecord::TKind;

// A refused candidate that went as a whole is a damaged packet; a part of one (cut at a "*"
// inside it, where a packet may begin) and anything else is noise.
TKind PieceKind(const TReadPiece& piece) {
  if (piece.kind == TReadPiece::TKind::kPacket) return TKind::kPacket;
  return !piece.refused.empty() && piece.refused.size() == piece.bytes.size() ? TKind::kDamaged
                                                                              : TKind::kNoise;
}

// Adds a piece; noise right after noise of the same direction joins it, so a run of garbage
// is one record.
void AddPiece(std::vector<TTrafficRecord>& out, std::size_t firstOfChunk, TKind kind,
              TTrafficDirection direction, std::string_view bytes, TTrafficTime time) {
  if (kind == TKind::kNoise && out.size() > firstOfChunk && out.back().kind == TKind::kNoise &&
      out.back().direction == direction) {
    out.back().bytes.append(bytes);
    return;
  }
  out.push_back({kind, direction, time, TByteString(bytes)});
}

// Cuts every piece the reader can give now.
void CutPieces(TPacketReader& reader, TTrafficDirection direction, TTrafficTime time,
               std::vector<TTrafficRecord>& out) {
  const std::size_t first = out.size();
  TKorvelFormat97 packet;
  for (;;) {
    TReadPiece piece = reader.NextPiece(packet);
    if (piece.kind == TReadPiece::TKind::kNothing) piece = reader.CutLeadingNoise();
    if (piece.kind == TReadPiece::TKind::kNothing) return;
    AddPiece(out, first, PieceKind(piece), direction, piece.bytes, time);
  }
}

}  // namespace

void TTrafficCutter::Cut(TTrafficDirection direction, std::string_view bytes, TTrafficTime time,
                         std::vector<TTrafficRecord>& out) {
  if (bytes.empty()) return;
  if (direction == receivedDirection_)
    CutReceived(bytes, time, out);
  else
    CutSent(direction, bytes, time, out);
}

void TTrafficCutter::Flush(TTrafficTime time, std::vector<TTrafficRecord>& out) {
  if (received_.Size() == 0) return;
  out.push_back(
      {TTrafficRecord::TKind::kNoise, receivedDirection_, time, TByteString(received_.View())});
  received_.Clear();
}

void TTrafficCutter::CutReceived(std::string_view bytes, TTrafficTime time,
                                 std::vector<TTrafficRecord>& out) {
  received_.Append(bytes);
  CutPieces(received_, receivedDirection_, time, out);
}

// Whatever of a sent chunk is no packet never becomes one: the next chunk starts afresh. Bytes
// of an answer still waiting then will not be completed by it either, so they go out too, just
// before that left-over.
void TTrafficCutter::CutSent(TTrafficDirection direction, std::string_view bytes, TTrafficTime time,
                             std::vector<TTrafficRecord>& out) {
  std::vector<TTrafficRecord> sent = CutChunk(direction, bytes, time);  // never empty
  const bool leftOver = sent.back().kind != TTrafficRecord::TKind::kPacket;
  const auto packetsEnd = leftOver ? std::prev(sent.end()) : sent.end();
  out.insert(out.end(), std::make_move_iterator(sent.begin()), std::make_move_iterator(packetsEnd));
  if (!leftOver) return;
  Flush(time, out);
  out.push_back(std::move(sent.back()));
}

std::vector<TTrafficRecord> CutChunk(TTrafficDirection direction, std::string_view bytes,
                                     TTrafficTime time) {
  std::vector<TTrafficRecord> out;
  TPacketReader reader;
  reader.Append(bytes);
  CutPieces(reader, direction, time, out);
  if (reader.Size() != 0)
    AddPiece(out, 0, TTrafficRecord::TKind::kNoise, direction, reader.View(), time);
  return out;
}

void TExchangeMatcher::Request(TByte address, TByte sig, const TRequestSeen& request) {
  requests_[Key(address, sig)] = request;
}

std::optional<TRequestSeen> TExchangeMatcher::Answer(TByte address, TByte sig) {
  if (auto request = Take(Key(address, sig))) return request;
  return Take(Key(kBroadcastAddress, sig));
}

std::optional<TRequestSeen> TExchangeMatcher::Take(unsigned key) {
  const auto found = requests_.find(key);
  if (found == requests_.end()) return std::nullopt;
  TRequestSeen request = found->second;
  requests_.erase(found);
  return request;
}

}  // namespace zorvid
