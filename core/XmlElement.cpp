#include "core/XmlElement.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "core/Errors.h"

namespace zorvid {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

bool VariantToBool(const TVariant& value) {
  if (value.Kind() == TVariant::TKind::Null) throw EVariantError("Variant is Null !!!! ***");
  const std::string& text = value.Text();
  if (value.Kind() == TVariant::TKind::Empty || text.empty())
    throw EVariantError("Variant is Empty !!!! ***");
  if (EqualsIgnoringCase(text, "true")) return true;
  if (EqualsIgnoringCase(text, "false")) return false;
  long long number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size())
    throw EConvertError("Could not convert '" + text + "' to a boolean");
  return number != 0;
}

bool TXMLElement::HasAttribute(std::string_view name) const {
  std::lock_guard guard(mutex_);
  return attributes_.find(name) != attributes_.end();
}

TVariant TXMLElement::GetAttribute(std::string_view name) const {
  std::lock_guard guard(mutex_);
  const auto found = attributes_.find(name);
  return found == attributes_.end() ? TVariant() : found->second;
}

void TXMLElement::SetAttribute(std::string_view name, const TVariant& value) {
  std::lock_guard guard(mutex_);
  attributes_.insert_or_assign(std::string(name), value);
}

}  // namespace zorvid
