#include "transport/ConnectionString.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <mutex>

#include "core/AsciiText.h"
#include "core/EchoText.h"
#include "core/Errors.h"

namespace zorvid {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  return AsciiUpper(a) == AsciiUpper(b);
}

bool IsSeparator(char c) {
  return c == ';' || c == '\r' || c == '\n';
}

EConvertError InvalidValue(std::string_view name, std::string_view value, const char* expected) {
  return EConvertError("Connection string key \"" + std::string(name) + "\": '" +
                       std::string(value) + "' is not " + expected);
}

struct TRegistration {
  std::string provider;
  TTransportClass transportClass;
  std::vector<std::string> keys;  // read besides "provider"; empty: not known
};

// The registry lives for the whole run, so that transports may unregister at any time.
struct TRegistry {
  std::mutex mutex;
  std::vector<TRegistration> registrations;  // guarded by mutex, in registration order
};

TRegistry& Registry() {
  static auto* registry = new TRegistry;
  return *registry;
}

}  // namespace

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  return value;
}

TConnectionSettings::TConnectionSettings(std::string_view text) {
  while (!text.empty()) {
    const auto end = std::find_if(text.begin(), text.end(), IsSeparator);
    const std::string_view setting(text.begin(), end);
    text.remove_prefix(static_cast<std::size_t>(end - text.begin()));
    if (!text.empty()) text.remove_prefix(1);
    const auto equals = setting.find('=');
    if (equals != std::string_view::npos)
      settings_.emplace_back(setting.substr(0, equals), setting.substr(equals + 1));
    else if (!setting.empty())
      withoutValue_.emplace_back(setting);
  }
}

std::vector<std::string> TConnectionSettings::Names() const {
  std::vector<std::string> names;
  for (const auto& setting : settings_)
    names.push_back(setting.first);
  return names;
}

std::optional<std::string> TConnectionSettings::Find(std::string_view name) const {
  for (const auto& [settingName, value] : settings_)
    if (SameName(settingName, name)) return value;
  return {};
}

std::optional<std::int32_t> TConnectionSettings::Int(std::string_view name) const {
  const auto value = Find(name);
  if (!value) return {};
  if (const auto number = ParseDecimal(*value)) return number;
  throw InvalidValue(name, *value, "a valid integer value");
}

std::optional<bool> TConnectionSettings::Active(std::string_view name) const {
  const auto value = Find(name);
  if (!value) return {};
  return AsciiUpper(*value) == "TRUE" || *value == "1";
}

std::optional<bool> TConnectionSettings::LineLevel(std::string_view name) const {
  const auto value = Find(name);
  if (!value) return {};
  if (const auto number = ParseDecimal(*value)) return *number != 0;
  if (SameName(*value, "true")) return true;
  if (SameName(*value, "false")) return false;
  throw InvalidValue(name, *value, "a valid boolean value");
}

EConvertError TConnectionSettings::Unusable(std::string_view name, const char* expected) const {
  return InvalidValue(name, Find(name).value_or(""), expected);
}

bool RegisterTransport(TTransportClass transportClass, const std::string& providerName,
                       std::vector<std::string> keys) {
  std::lock_guard guard(Registry().mutex);
  Registry().registrations.push_back({providerName, transportClass, std::move(keys)});
  return true;
}

bool UnregisterTransport(TTransportClass transportClass) {
  std::lock_guard guard(Registry().mutex);
  auto& registrations = Registry().registrations;
  const auto found = std::find_if(registrations.begin(), registrations.end(), [&](const auto& r) {
    return r.transportClass == transportClass;
  });
  if (found == registrations.end()) return false;
  registrations.erase(found);
  return true;
}

namespace {

// A copy: the registry may change once the lock is released.
std::optional<TRegistration> FindRegistration(std::string_view providerName) {
  std::lock_guard guard(Registry().mutex);
  for (const auto& registration : Registry().registrations)
    if (SameName(registration.provider, providerName)) return registration;
  return {};
}

}  // namespace

bool FindTransport(std::string_view providerName, TTransportClass& transportClass) {
  const auto registration = FindRegistration(providerName);
  if (registration) transportClass = registration->transportClass;
  return registration.has_value();
}

namespace {

// The connection string as the transports read it: CR, LF and spaces removed, ";" as line
// breaks.
std::string TransportText(const std::string& connectionString) {
  std::string text;
  for (const char c : connectionString) {
    if (c == '\r' || c == '\n' || c == ' ') continue;
    text += c == ';' ? '\r' : c;
  }
  return text;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names)
    text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

std::vector<std::string> ConnectionStringWarnings(const std::string& connectionString) {
  const TConnectionSettings settings(TransportText(connectionString));
  std::vector<std::string> warnings;
  for (const std::string& setting : settings.WithoutValue())
    warnings.push_back("setting " + Quoted(setting) + " without \"=\" ignored");
  const auto provider = settings.Find("provider");
  const auto registration = provider ? FindRegistration(*provider) : std::nullopt;
  if (!registration || registration->keys.empty()) return warnings;
  std::vector<std::string> seen;
  for (const std::string& name : settings.Names()) {
    const auto known = [&name](const std::string& key) { return SameName(key, name); };
    if (std::any_of(seen.begin(), seen.end(), known)) {
      warnings.push_back("key " + Quoted(name) + " given again: the first value " +
                         Quoted(*settings.Find(name)) + " counts");
      continue;
    }
    seen.push_back(name);
    if (!known("provider") &&
        std::none_of(registration->keys.begin(), registration->keys.end(), known))
      warnings.push_back("unknown key " + Quoted(name) + " ignored (" + registration->provider +
                         " reads " + Joined(registration->keys) + ")");
  }
  return warnings;
}

bool CreateTransport(const std::string& connectionString, TCiRef& transport) {
  const std::string text = TransportText(connectionString);
  TTransportClass transportClass = nullptr;
  const auto provider = TConnectionSettings(text).Find("provider");
  if (!provider || !FindTransport(*provider, transportClass)) return false;
  TCiRef created = transportClass(text);
  if (!created) return false;
  transport = std::move(created);
  return true;
}

std::string ConnectionAtSpeed(const std::string& connectionString, std::int32_t baud) {
  std::string result;
  bool replaced = false;
  std::string_view text = connectionString;
  for (;;) {
    const auto end = std::find_if(text.begin(), text.end(), IsSeparator);
    const std::string_view setting(text.begin(), end);
    const auto equals = setting.find('=');
    // The transports see the name without its spaces.
    std::string name(setting.substr(0, equals));
    std::erase(name, ' ');
    if (equals != std::string_view::npos && SameName(name, "baudrate")) {
      result.append(setting.substr(0, equals + 1)).append(std::to_string(baud));
      replaced = true;
    } else {
      result.append(setting);
    }
    if (end == text.end()) break;
    result.push_back(*end);
    text.remove_prefix(static_cast<std::size_t>(end - text.begin()) + 1);
  }
  if (!replaced) {
    if (!result.empty() && !IsSeparator(result.back())) result.push_back(';');
    result.append("baudrate=").append(std::to_string(baud));
  }
  return result;
}

std::string GetConnectionValue(const std::string& connectionString, const std::string& key,
                               const std::string& defaultValue) {
  const auto found = AsciiUpper(connectionString).find(AsciiUpper(key) + "=");
  if (found == std::string::npos) return defaultValue;
  const auto start = found + key.size() + 1;
  const auto end = connectionString.find(';', start);
  return connectionString.substr(start, end == std::string::npos ? end : end - start);
}

std::int32_t GetConnectionInt(const std::string& connectionString, const std::string& key,
                              std::int32_t defaultValue) {
  return ParseDecimal(GetConnectionValue(connectionString, key, "")).value_or(defaultValue);
}

}  // namespace zorvid
