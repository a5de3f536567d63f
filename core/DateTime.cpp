#include "core/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace zorvid {
namespace {

using namespace std::chrono;

constexpr sys_days kEpoch = sys_days(year{1899} / December / 30);
constexpr double kMsPerDay = 86'400'000.0;

}  // namespace

std::optional<TDateTime> EncodeDateTime(const TDateTimeParts& p) {
  const year_month_day date{year{p.year}, month{static_cast<unsigned>(p.month)},
                            day{static_cast<unsigned>(p.day)}};
  if (p.year < 1 || p.year > 9999 || !date.ok()) return {};
  if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59 ||
      p.millisecond < 0 || p.millisecond > 999)
    return {};
  const double days = static_cast<double>((sys_days(date) - kEpoch).count());
  const double ms = ((p.hour * 60.0 + p.minute) * 60.0 + p.second) * 1000.0 + p.millisecond;
  // Before the epoch the fraction counts forward from the day, as in the usual day-count form.
  return days >= 0 ? days + ms / kMsPerDay : days - ms / kMsPerDay;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  const double whole = std::trunc(value);
  auto ms = static_cast<std::int64_t>(std::llround(std::fabs(value - whole) * kMsPerDay));
  auto days = static_cast<std::int64_t>(whole);
  if (ms >= static_cast<std::int64_t>(kMsPerDay)) {  // rounding reached the next day
    ms -= static_cast<std::int64_t>(kMsPerDay);
    days += value >= 0 ? 1 : -1;
  }
  const year_month_day date{kEpoch + std::chrono::days{days}};
  TDateTimeParts parts;
  parts.year = static_cast<int>(date.year());
  parts.month = static_cast<int>(static_cast<unsigned>(date.month()));
  parts.day = static_cast<int>(static_cast<unsigned>(date.day()));
  parts.millisecond = static_cast<int>(ms % 1000);
  parts.second = static_cast<int>(ms / 1000 % 60);
  parts.minute = static_cast<int>(ms / 60'000 % 60);
  parts.hour = static_cast<int>(ms / 3'600'000);
  return parts;
}

TDateTime Now() {
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min, local.tm_sec, static_cast<int>(ms)})
      .value_or(0.0);
}

}  // namespace zorvid
