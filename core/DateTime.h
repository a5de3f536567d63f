#pragma once

#include <cstdint>
#include <optional>

namespace zorvid {

// A date and time as a day count: days since 30 December 1899 as a double, the fraction being
// the time of day. This is the representation the display's date-time operations exchange.
using TDateTime = double;

struct TDateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  bool operator==(const TDateTimeParts&) const = default;
};

// The day count of a calendar date and time; nothing when the parts are not a valid date
// (years 1..9999) and time (hour 0..23, minute and second 0..59, millisecond 0..999).
std::optional<TDateTime> EncodeDateTime(const TDateTimeParts& parts);
// The calendar date and time of a day count, to the millisecond.
TDateTimeParts DecodeDateTime(TDateTime value);
// The local time now.
TDateTime Now();

}  // namespace zorvid
