#include "core/TimeoutManager.h"

#include <atomic>
#include <chrono>

namespace zorvid {
namespace {

std::uint32_t SystemTicks() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::atomic<TTickSource> tickSource{&SystemTicks};

}  // namespace

std::uint32_t GetTickCount32() {
  return tickSource.load(std::memory_order_acquire)();
}

void SetTickSource(TTickSource source) {
  tickSource.store(source ? source : &SystemTicks, std::memory_order_release);
}

void TDeadline::Start(std::int32_t durationMs) {
  start_ = GetTickCount32();
  duration_ = durationMs;
}

std::int64_t TDeadline::Remaining() const {
  const std::int64_t now = GetTickCount32();
  std::int64_t start = start_;
  if (start > now) start -= std::int64_t{1} << 32;  // the counter wrapped since Start
  return duration_ - (now - start);
}

}  // namespace zorvid
