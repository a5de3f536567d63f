#pragma once

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/MyInterfacedObject.h"

namespace zorvid {

// An attribute value as an element delivers it: unassigned (Empty), explicitly null, or text.
class TVariant {
 public:
  enum class TKind { Empty, Null, Text };

  TVariant() = default;
  TVariant(std::string text) : kind_(TKind::Text), text_(std::move(text)) {}
  TVariant(const char* text) : TVariant(std::string(text)) {}
  TVariant(bool value) : TVariant(value ? "true" : "false") {}
  static TVariant Null() {
    TVariant value;
    value.kind_ = TKind::Null;
    return value;
  }

  TKind Kind() const noexcept { return kind_; }
  // The text; empty for Empty and Null.
  const std::string& Text() const noexcept { return text_; }
  friend bool operator==(const TVariant&, const TVariant&) = default;

 private:
  TKind kind_ = TKind::Empty;
  std::string text_;
};

// A variant that is null or empty where a value is needed.
class EVariantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value as a boolean: "true"/"false" in any case, or an integer (non-zero is true). Raises
// EVariantError "Variant is Null !!!! ***" / "Variant is Empty !!!! ***" for a missing value
// and EConvertError naming the text for anything else.
bool VariantToBool(const TVariant& value);

// The little a node needs from the element it is persisted in.
class IXMLElement : public virtual IInterface {
 public:
  virtual bool HasAttribute(std::string_view name) const = 0;
  virtual TVariant GetAttribute(std::string_view name) const = 0;
  virtual void SetAttribute(std::string_view name, const TVariant& value) = 0;
};

// An element held in memory; thread-safe.
class TXMLElement : public TMyInterfacedObject, public IXMLElement {
 public:
  bool HasAttribute(std::string_view name) const override;
  TVariant GetAttribute(std::string_view name) const override;
  void SetAttribute(std::string_view name, const TVariant& value) override;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, TVariant, std::less<>> attributes_;  // guarded by mutex_
};

}  // namespace zorvid
