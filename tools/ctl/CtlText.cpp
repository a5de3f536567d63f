#include "tools/ctl/CtlText.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>
#include <array>
#include <charconv>

namespace zorvid::ctl {
namespace {

constexpr auto kDateFormat = QLatin1StringView("yyyy-MM-dd");
constexpr auto kTimeFormat = QLatin1StringView("HH:mm:ss");

}  // namespace

std::optional<TDateTime> ParseClock(std::string_view text) {
  // Date and time apart: the display's clock has no time zone, so a local daylight-saving gap
  // must not make a time invalid.
  const QStringList parts =
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).split(QLatin1Char(' '));
  if (parts.size() != 2) return std::nullopt;
  const QDate date = QDate::fromString(parts[0], kDateFormat);
  const QTime time = QTime::fromString(parts[1], kTimeFormat);
  if (!date.isValid() || !time.isValid()) return std::nullopt;
  return EncodeDateTime(
      {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(), 0});
}

std::string FormatClock(TDateTime value) {
  const TDateTimeParts parts = DecodeDateTime(value);
  const QDate date(parts.year, parts.month, parts.day);
  const QTime time(parts.hour, parts.minute, parts.second);
  return (date.toString(kDateFormat) + QLatin1Char(' ') + time.toString(kTimeFormat)).toStdString();
}

std::string FormatTenths(double value) {
  std::array<char, 64> text{};
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 1);
  return std::string(text.data(), result.ptr);
}

}  // namespace zorvid::ctl
