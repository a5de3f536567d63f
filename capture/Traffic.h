#pragma once

// Traffic cut into records, as the log window shows it and capture files keep it.

#include <chrono>

#include "core/Types.h"

namespace zorvid {

// When a piece of traffic passed; the zero value stands for "no time".
using TTrafficTime = std::chrono::system_clock::time_point;

// Which way the bytes went, seen from the line's master (the program that sends the requests),
// whichever end recorded them: what the program sends and what the display receives are both
// kToDisplay.
enum class TTrafficDirection : TByte { kToDisplay, kFromDisplay };

// One piece of cut traffic.
struct TTrafficRecord {
  enum class TKind : TByte {
    kPacket,   // a readable packet
    kDamaged,  // framed like a complete packet but refused: a bad checksum or terminator
    kNoise,    // bytes that are no packet
  };
  TKind kind = TKind::kNoise;
  TTrafficDirection direction = TTrafficDirection::kToDisplay;
  TTrafficTime time;
  TByteString bytes;

  bool operator==(const TTrafficRecord&) const = default;
};

}  // namespace zorvid
