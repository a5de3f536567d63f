#pragma once

#include <cstdint>

namespace zorvid {

// The system's 32-bit millisecond tick counter; it wraps every 49.7 days.
using TTickSource = std::uint32_t (*)();

std::uint32_t GetTickCount32();
// Replaces the tick source (tests drive the wrap with it); nullptr restores the system's.
void SetTickSource(TTickSource source);

// A millisecond deadline on the 32-bit tick counter that survives one wrap of the counter.
class TDeadline {
 public:
  void Start(std::int32_t durationMs);
  // Milliseconds left; zero or less once the deadline has passed.
  std::int64_t Remaining() const;
  bool Expired() const { return Remaining() <= 0; }

 private:
  std::int64_t start_ = 0;
  std::int32_t duration_ = 0;
};

}  // namespace zorvid
