#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Errors.h"
#include "core/ICommunicationInterface.h"

namespace zorvid {

// A connection string: name=value settings separated by ";" (or line breaks). Names compare
// without regard to case, the first occurrence of a name counts, a setting without "=" is
// ignored. Values run from the first "=" to the end of the setting.
class TConnectionSettings {
 public:
  explicit TConnectionSettings(std::string_view text);

  std::optional<std::string> Find(std::string_view name) const;
  // Every setting's name, in order, repeats included.
  std::vector<std::string> Names() const;
  // The settings without "=", which count for nothing, in order.
  const std::vector<std::string>& WithoutValue() const { return withoutValue_; }
  bool Has(std::string_view name) const { return Find(name).has_value(); }

  // A decimal integer; raises EConvertError naming the key and the value when malformed.
  std::optional<std::int32_t> Int(std::string_view name) const;
  // "active": true for "TRUE" in any case or exactly "1"; anything else is false.
  std::optional<bool> Active(std::string_view name) const;
  // "dtr", "rts": a number (0 false, anything else true) or true/false in any case; raises
  // EConvertError naming the key and the value for any other text.
  std::optional<bool> LineLevel(std::string_view name) const;
  // The error for a key whose value the transport cannot use, naming the key, the value and
  // what it expected: "Connection string key "K": 'V' is not <expected>".
  EConvertError Unusable(std::string_view name, const char* expected) const;

 private:
  std::vector<std::pair<std::string, std::string>> settings_;
  std::vector<std::string> withoutValue_;
};

// How booleans are written back into connection strings.
inline const char* ConnectionBool(bool value) {
  return value ? "-1" : "0";
}

// A transport class as the factory knows it: the function that constructs one from a
// connection string. Two registrations are of the same class when the functions are equal.
using TTransportClass = TCiRef (*)(const std::string& connectionString);

// Appends (class, provider, the keys the class reads besides "provider"); always true. A
// registration without keys is never warned about.
bool RegisterTransport(TTransportClass transportClass, const std::string& providerName,
                       std::vector<std::string> keys = {});
// Removes the first registration of the class; false when there is none.
bool UnregisterTransport(TTransportClass transportClass);
// The first class registered under the provider name (any case).
bool FindTransport(std::string_view providerName, TTransportClass& transportClass);

// Builds a transport from a connection string: CR, LF and spaces are removed, ";" become line
// breaks, the "provider" setting picks the class. False, and nothing created, when the
// provider is missing or unknown. Errors raised while the string is applied propagate.
bool CreateTransport(const std::string& connectionString, TCiRef& transport);

// What CreateTransport goes on with silently although the user probably meant something else:
// each setting without "=", each key the provider's transport does not read, and each key given
// again (the first value counts). One text per finding; the keys are judged only for a provider
// that is registered with its keys.
std::vector<std::string> ConnectionStringWarnings(const std::string& connectionString);

// The value after the first "KEY=" found in the upper-cased text as a plain substring, up to
// the next ";"; `defaultValue` when the key is absent. ("port" is also found in "comport=".)
std::string GetConnectionValue(const std::string& connectionString, const std::string& key,
                               const std::string& defaultValue);
// GetConnectionValue as a decimal integer; `defaultValue` when absent or not a number.
std::int32_t GetConnectionInt(const std::string& connectionString, const std::string& key,
                              std::int32_t defaultValue);

// The same line at `baud`: every "baudrate" setting takes the new value (one is appended when
// there is none); everything else stays as written.
std::string ConnectionAtSpeed(const std::string& connectionString, std::int32_t baud);

// A decimal integer, or nothing when the text is not one.
std::optional<std::int32_t> ParseDecimal(std::string_view text);

}  // namespace zorvid
