#include "core/NumberText.h"

#include <charconv>
#include <system_error>

namespace zorvid {

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    // from_chars takes a sign in any base; a hexadecimal number here has none.
    if (text.starts_with('-')) return std::nullopt;
    base = 16;
  }
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  // A sign belongs to a value below zero; "-0" is a slip, not another way of writing 0.
  if (value == 0 && text.starts_with('-')) return std::nullopt;
  return value;
}

}  // namespace zorvid
