#include "link/SettingsSnapshot.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSaveFile>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <type_traits>

#include "core/EchoText.h"
#include "device/ZorvidRules.h"

namespace zorvid {
namespace {

// ---- Keys --------------------------------------------------------------------------------

std::optional<std::int32_t> GetParam(const TDisplaySettings& s, const TParamKey* param) {
  return param->flag ? s.params.*(param->flag) : s.params.*(param->number);
}
void SetParam(TDisplaySettings& s, const TParamKey* param, std::int32_t value) {
  if (param->flag)
    s.params.*(param->flag) = value != 0;
  else
    s.params.*(param->number) = value;
}

// The automatic brightness's fields, on a display that has it.
template <auto Member>
std::optional<std::int32_t> GetAutomatic(const TDisplaySettings& s, const TParamKey*) {
  if (!s.automaticBrightness) return std::nullopt;
  return static_cast<std::int32_t>((*s.automaticBrightness).*Member);
}
template <auto Member>
void SetAutomatic(TDisplaySettings& s, const TParamKey*, std::int32_t value) {
  if (!s.automaticBrightness) s.automaticBrightness.emplace();
  using TField = std::remove_reference_t<decltype((*s.automaticBrightness).*Member)>;
  (*s.automaticBrightness).*Member = static_cast<TField>(value);
}

std::vector<TSettingKey> MakeSettingKeys() {
  std::vector<TSettingKey> keys;
  for (const TParamKey& param : kParamKeys)
    keys.push_back({"params." + std::string(param.key), param.flag != nullptr, param.min, param.max,
                    GetParam, SetParam, &param});
  keys.push_back({"expiration", false, 0, kExpirationMax,
                  [](const TDisplaySettings& s, const TParamKey*) {
                    return std::optional<std::int32_t>(s.expirationSeconds);
                  },
                  [](TDisplaySettings& s, const TParamKey*, std::int32_t value) {
                    s.expirationSeconds = value;
                  }});
  keys.push_back(
      {"brightness", false, 0, kBrightnessMax,
       [](const TDisplaySettings& s, const TParamKey*) {
         return std::optional<std::int32_t>(s.brightness);
       },
       [](TDisplaySettings& s, const TParamKey*, std::int32_t value) { s.brightness = value; }});
  keys.push_back({"brightness-auto.auto", true, 0, 1, GetAutomatic<&TBrightnessAuto::automatic>,
                  SetAutomatic<&TBrightnessAuto::automatic>});
  keys.push_back({"brightness-auto.min", false, kBrightnessAutoMin, kBrightnessAutoMax,
                  GetAutomatic<&TBrightnessAuto::min>, SetAutomatic<&TBrightnessAuto::min>});
  keys.push_back({"brightness-auto.max", false, kBrightnessAutoMin, kBrightnessAutoMax,
                  GetAutomatic<&TBrightnessAuto::max>, SetAutomatic<&TBrightnessAuto::max>});
  keys.push_back({"brightness-auto.gain", false, 0, kBrightnessGainMax,
                  GetAutomatic<&TBrightnessAuto::gain>, SetAutomatic<&TBrightnessAuto::gain>});
  return keys;
}

// The settings file's key for a value a rule names.
std::string SettingsKeyOf(TSettingField field) {
  switch (field) {
    case TSettingField::kStaticBrightness:
      return "brightness";
    case TSettingField::kMinimumBrightness:
      return "brightness-auto.min";
    case TSettingField::kMaximumBrightness:
      return "brightness-auto.max";
    case TSettingField::kSensorGain:
      return "brightness-auto.gain";
    case TSettingField::kTimeOffset:
      return "params.offset";
    case TSettingField::kZoneIndex:
      return "params.zone";
    case TSettingField::kDataExpiration:
      return "expiration";
    default:
      return std::string(FieldKey(field));
  }
}

// Sends through `send` until a step fails; later steps send nothing.
class TStepRecorder {
 public:
  explicit TStepRecorder(const TStepSender& send) : send_(send) {}

  TStepSender Sender() {
    return [this](TStep step, const std::function<bool()>& request) {
      if (!outcome.Ok()) return outcome;
      outcome = send_(step, request);
      return outcome;
    };
  }

  TOutcome outcome;

 private:
  const TStepSender& send_;
};

// ---- JSON --------------------------------------------------------------------------------

// Walks a document the JSON parser has accepted and gives the path of the first key that an
// object holds twice ("settings.brightness").
class TRepeatedKeyFinder {
 public:
  explicit TRepeatedKeyFinder(const QByteArray& json) : json_(json) {}

  std::optional<std::string> Find() {
    while (at_ < json_.size()) {
      const char c = json_[at_];
      if (c == '{' || c == '[') {
        const std::string name = frames_.empty() ? "" : frames_.back().lastKey;
        const std::string parent = frames_.empty() ? "" : frames_.back().path;
        frames_.push_back(
            {c == '{', parent.empty() || name.empty() ? parent + name : parent + "." + name});
        ++at_;
      } else if (c == '}' || c == ']') {
        if (!frames_.empty()) frames_.pop_back();
        ++at_;
      } else if (c == '"') {
        const QByteArray raw = StringToken();
        if (NextIsColon() && !frames_.empty() && frames_.back().object) {
          TFrame& frame = frames_.back();
          frame.lastKey = Decoded(raw);
          if (!frame.keys.insert(frame.lastKey).second)
            return frame.path.empty() ? frame.lastKey : frame.path + "." + frame.lastKey;
        }
      } else {
        ++at_;
      }
    }
    return std::nullopt;
  }

 private:
  struct TFrame {
    bool object;
    std::string path;
    std::set<std::string> keys{};
    std::string lastKey{};
  };

  // The string starting at `at_`, quotes included; `at_` after it.
  QByteArray StringToken() {
    const qsizetype start = at_++;
    while (at_ < json_.size() && json_[at_] != '"')
      at_ += json_[at_] == '\\' ? 2 : 1;
    ++at_;
    return json_.mid(start, at_ - start);
  }

  bool NextIsColon() {
    qsizetype next = at_;
    while (next < json_.size() && QChar::isSpace(static_cast<uchar>(json_[next])))
      ++next;
    return next < json_.size() && json_[next] == ':';
  }

  // Escapes and all, as the parser reads it.
  static std::string Decoded(const QByteArray& raw) {
    return QJsonDocument::fromJson("[" + raw + "]").array().at(0).toString().toStdString();
  }

  const QByteArray& json_;
  qsizetype at_ = 0;
  std::vector<TFrame> frames_;
};

std::optional<std::string> FirstRepeatedKey(const QByteArray& json) {
  return TRepeatedKeyFinder(json).Find();
}

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The object a key sits in under "settings": its group's, or none for a key of its own.
std::string HolderOf(const TSettingKey& key) {
  return key.Group() == key.Name() ? "" : std::string(key.Group());
}

QJsonObject SettingsJson(const TDisplaySettings& settings) {
  std::map<std::string, QJsonObject> holders;
  for (const TSettingKey& key : SettingKeys()) {
    const std::optional<std::int32_t> value = key.Get(settings);
    if (!value) continue;
    holders[HolderOf(key)].insert(Text(key.Name()),
                                  key.flag ? QJsonValue(*value != 0) : QJsonValue(*value));
  }
  QJsonObject root = holders[""];
  for (const auto& [group, object] : holders)
    if (!group.empty()) root.insert(Text(group), object);
  return root;
}

// The checks of one file: each refusal names the file and the key (its path from the top).
class TSnapshotReader {
 public:
  explicit TSnapshotReader(std::string fileName) : file_(std::move(fileName)) {}

  [[noreturn]] void Refuse(const std::string& what) const {
    throw TSettingsFileError(file_ + ": " + what);
  }

  static std::string Path(const std::string& parent, const QString& name) {
    return (parent.empty() ? "" : parent + ".") + name.toStdString();
  }

  static std::string ValueText(const QJsonValue& value) {
    if (value.isObject() || value.isArray()) {
      const QJsonDocument document =
          value.isObject() ? QJsonDocument(value.toObject()) : QJsonDocument(value.toArray());
      return EchoedText(document.toJson(QJsonDocument::Compact).toStdString());
    }
    if (value.isString()) return Quoted(value.toString().toStdString());
    if (value.isBool()) return value.toBool() ? "true" : "false";
    if (value.isNull()) return "null";
    return QString::number(value.toDouble(), 'g', 17).toStdString();
  }

  // The member `name` of `object` at `path`, refused when missing or of another type.
  QJsonValue Member(const QJsonObject& object, const std::string& path, const QString& name,
                    QJsonValue::Type type, std::string_view typeName) const {
    const std::string key = Path(path, name);
    if (!object.contains(name)) Refuse("key " + key + " missing");
    const QJsonValue value = object.value(name);
    if (value.type() != type)
      Refuse("key " + key + ": expected " + std::string(typeName) + ", got " + ValueText(value));
    return value;
  }

  QJsonObject Object(const QJsonObject& object, const std::string& path,
                     const QString& name) const {
    return Member(object, path, name, QJsonValue::Object, "an object").toObject();
  }

  std::string String(const QJsonObject& object, const std::string& path,
                     const QString& name) const {
    return Member(object, path, name, QJsonValue::String, "a string").toString().toStdString();
  }

  std::int64_t Integer(const QJsonObject& object, const std::string& path, const QString& name,
                       std::int64_t min, std::int64_t max) const {
    const QJsonValue value = Member(object, path, name, QJsonValue::Double, "a whole number");
    const double number = value.toDouble();
    const std::string key = Path(path, name);
    if (number != std::floor(number))
      Refuse("key " + key + ": expected a whole number, got " + ValueText(value));
    if (number < static_cast<double>(min) || number > static_cast<double>(max))
      Refuse("key " + key + ": " + ValueText(value) + " out of range " + std::to_string(min) +
             ".." + std::to_string(max));
    return static_cast<std::int64_t>(number);
  }

  // A typo must not pass for a key left out: every member must be one of `known`.
  void OnlyKnown(const QJsonObject& object, const std::string& path,
                 const QStringList& known) const {
    for (const QString& name : object.keys())
      if (!known.contains(name)) Refuse("unknown key " + Path(path, name));
  }

  // A JSON object of settings keys with the names it must hold and nothing else.
  struct THolder {
    QJsonObject object;
    std::string path;
    QStringList known;
  };

  TDisplaySettings Settings(const QJsonObject& object, const std::string& path) const {
    std::map<std::string, THolder> holders{{"", {object, path, {}}}};
    TDisplaySettings settings;
    for (const TSettingKey& key : SettingKeys()) {
      const std::string group = HolderOf(key);
      // Only the automatic brightness may be left out: read from a display without it.
      if (group == "brightness-auto" && !object.contains("brightness-auto")) continue;
      if (!holders.contains(group)) {
        holders[""].known << Text(group);
        holders[group] = {Object(object, path, Text(group)), Path(path, Text(group)), {}};
      }
      THolder& holder = holders[group];
      const QString name = Text(key.Name());
      holder.known << name;
      key.Set(
          settings,
          key.flag
              ? Member(holder.object, holder.path, name, QJsonValue::Bool, "true or false").toBool()
              : static_cast<std::int32_t>(
                    Integer(holder.object, holder.path, name, key.min, key.max)));
    }
    for (const auto& [group, holder] : holders)
      OnlyKnown(holder.object, holder.path, holder.known);
    if (settings.automaticBrightness)
      if (const auto invalid = CheckBrightnessAuto(*settings.automaticBrightness))
        Refuse("key " + path + "." + SettingsKeyOf(invalid->field) + ": " +
               std::to_string(invalid->value) + " out of range " + std::to_string(invalid->min) +
               ".." + std::to_string(invalid->max) + " (min not above max)");
    return settings;
  }

  TSettingsSnapshot Snapshot(const QByteArray& json) const {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
      Refuse("not JSON: " + error.errorString().toStdString() + " at offset " +
             std::to_string(error.offset));
    if (!document.isObject()) Refuse("not a JSON object");
    // The parser keeps the last of two equal keys; which one the writer meant is unknown.
    if (const std::optional<std::string> twice = FirstRepeatedKey(json))
      Refuse("key " + *twice + " given twice");
    const QJsonObject root = document.object();
    const std::string format = String(root, "", "format");
    if (format != kSettingsFormat)
      Refuse("key format: " + Quoted(format) + " is not " + Quoted(kSettingsFormat));
    const std::int64_t version = Integer(root, "", "version", 1, INT32_MAX);
    if (version > kSettingsVersion)
      Refuse("key version: " + std::to_string(version) + " is newer than " +
             std::to_string(kSettingsVersion) + ", the newest this program reads");
    OnlyKnown(root, "", {"format", "version", "read", "settings"});

    TSettingsSnapshot snapshot;
    const QJsonObject read = Object(root, "", "read");
    const std::string at = String(read, "read", "at");
    snapshot.readAt = QDateTime::fromString(Text(at), Qt::ISODate);
    if (!snapshot.readAt.isValid())
      Refuse("key read.at: not an ISO 8601 date and time: " + Quoted(at));
    snapshot.readAt = snapshot.readAt.toUTC();
    snapshot.identification = String(read, "read", "identification");
    snapshot.address = static_cast<TByte>(Integer(read, "read", "address", 0, 0xFF));
    snapshot.connection = String(read, "read", "connection");
    OnlyKnown(read, "read", {"at", "identification", "address", "connection"});
    snapshot.settings = Settings(Object(root, "", "settings"), "settings");
    return snapshot;
  }

 private:
  std::string file_;
};

}  // namespace

// ---- Keys --------------------------------------------------------------------------------

const std::vector<TSettingKey>& SettingKeys() {
  static const std::vector<TSettingKey> keys = MakeSettingKeys();
  return keys;
}

std::string_view TSettingKey::Group() const {
  return std::string_view(key).substr(0, key.find('.'));
}

std::string_view TSettingKey::Name() const {
  const std::size_t dot = key.find('.');
  return dot == std::string::npos ? std::string_view(key) : std::string_view(key).substr(dot + 1);
}

std::string SettingValueText(const TSettingKey& key, std::int32_t value) {
  if (key.flag) return value != 0 ? "true" : "false";
  return std::to_string(value);
}

// ---- Reading -----------------------------------------------------------------------------

TDisplaySettingsRead ReadDisplaySettings(IZorvid& display, const TDisplayCapabilities& capabilities,
                                         const TStepSender& send) {
  const TDateTimeParamsRead params = ReadDateTimeParams(display, send);
  if (!params.outcome.Ok()) return {std::nullopt, params.outcome};
  const TBrightnessRead brightness =
      ReadBrightness(display, OffersAutomaticBrightness(capabilities), send);
  if (!brightness.outcome.Ok()) return {std::nullopt, brightness.outcome};

  TDisplaySettings settings;
  settings.params = params.params;
  settings.expirationSeconds = params.expiration.seconds;
  settings.brightness = brightness.value;
  if (brightness.offered) settings.automaticBrightness = brightness.automatic;
  return {settings, Done(TStep::kReadBrightness, display.GetAddress())};
}

// ---- The file ----------------------------------------------------------------------------

std::string SnapshotJson(const TSettingsSnapshot& snapshot) {
  const QJsonObject read{
      {"at", snapshot.readAt.toUTC().toString(Qt::ISODate)},
      {"identification", Text(snapshot.identification)},
      {"address", static_cast<int>(snapshot.address)},
      {"connection", Text(snapshot.connection)},
  };
  const QJsonObject root{
      {"format", Text(kSettingsFormat)},
      {"version", kSettingsVersion},
      {"read", read},
      {"settings", SettingsJson(snapshot.settings)},
  };
  return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

TSettingsSnapshot ParseSnapshot(const QByteArray& json, const std::string& fileName) {
  return TSnapshotReader(fileName).Snapshot(json);
}

void SaveSnapshot(const TSettingsSnapshot& snapshot, const std::string& fileName) {
  const std::string json = SnapshotJson(snapshot);
  QSaveFile file(Text(fileName));
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(json.data(), static_cast<qint64>(json.size())) !=
          static_cast<qint64>(json.size()) ||
      !file.commit())
    throw TSettingsFileError("cannot write " + Quoted(fileName) + ": " +
                             file.errorString().toStdString());
}

TSettingsSnapshot LoadSnapshot(const std::string& fileName) {
  QFile file(Text(fileName));
  if (!file.open(QIODevice::ReadOnly))
    throw TSettingsFileError(fileName + ": cannot read: " + file.errorString().toStdString());
  return ParseSnapshot(file.readAll(), fileName);
}

// ---- Differences and restoring -----------------------------------------------------------

std::vector<std::string> TSettingsComparison::Groups() const {
  std::vector<std::string> groups;
  for (const TSettingChange& change : differences) {
    const std::string group = change.key.substr(0, change.key.find('.'));
    if (std::find(groups.begin(), groups.end(), group) == groups.end()) groups.push_back(group);
  }
  return groups;
}

TSettingsComparison CompareSettings(const TDisplaySettings& wanted, const TDisplaySettings& held) {
  TSettingsComparison comparison;
  for (const TSettingKey& key : SettingKeys()) {
    const std::optional<std::int32_t> want = key.Get(wanted);
    const std::optional<std::int32_t> have = key.Get(held);
    if (!want) continue;
    if (!have)
      comparison.skipped.push_back(key.key);
    else if (*want != *have)
      comparison.differences.push_back(
          {key.key, SettingValueText(key, *want), SettingValueText(key, *have)});
  }
  return comparison;
}

void NoteReadBack(TDateTimeParamsSave& save, const TDateTimeParams& params,
                  std::int32_t expirationSeconds) {
  const TDateTimeParamsRead& read = save.readBack;
  save.readBackChanges = CompareSettings({params, expirationSeconds, 0, std::nullopt},
                                         {read.params, read.expiration.seconds, 0, std::nullopt})
                             .differences;
}

void NoteReadBack(TBrightnessSave& save, std::int32_t brightness,
                  const std::optional<TBrightnessAuto>& automatic) {
  const TBrightnessRead& read = save.readBack;
  TDisplaySettings held{{}, 0, read.value, std::nullopt};
  if (automatic) held.automaticBrightness = read.automatic;
  save.readBackChanges = CompareSettings({{}, 0, brightness, automatic}, held).differences;
}

namespace {

// The request that writes one group whole.
bool WriteGroup(IZorvid& display, std::string_view group, const TDisplaySettings& wanted) {
  if (group == "params") return display.SetDateTimeParams(wanted.params);
  if (group == "expiration") return display.SetDisplayDataExpiration(wanted.expirationSeconds);
  if (group == "brightness") return display.SetDisplayBrightness(wanted.brightness);
  return display.SetDisplayBrightnessAuto(*wanted.automaticBrightness);
}

// Whether the display holds `wanted`'s value of one group, read through `send`.
THolds GroupHolds(IZorvid& display, std::string_view group, const TDisplaySettings& wanted,
                  const TStepSender& send) {
  if (group == "params") return HoldsParams(display, send, wanted.params);
  if (group == "expiration") return HoldsExpiration(display, send, wanted.expirationSeconds);
  if (group == "brightness") return HoldsBrightness(display, send, wanted.brightness);
  return HoldsBrightnessAuto(display, send, *wanted.automaticBrightness);
}

TStep WriteStepOf(std::string_view group) {
  if (group == "params") return TStep::kWriteParams;
  if (group == "expiration") return TStep::kWriteExpiration;
  if (group == "brightness") return TStep::kWriteBrightness;
  return TStep::kWriteBrightnessAuto;
}

}  // namespace

TSettingsRestore WriteSettingsDifferences(IZorvid& display, const TDisplaySettings& wanted,
                                          const TDisplaySettings& held, const TStepSender& send) {
  const TSettingsComparison comparison = CompareSettings(wanted, held);
  TSettingsRestore restore;
  restore.skipped = comparison.skipped;
  restore.outcome.address = display.GetAddress();
  TStepRecorder recorder(send);
  recorder.outcome.address = display.GetAddress();
  const TStepSender sender = recorder.Sender();
  for (const std::string& group : comparison.Groups()) {
    const TOutcome sent =
        sender(WriteStepOf(group), [&] { return WriteGroup(display, group, wanted); });
    // A lost answer is settled by what the display holds, before anything else goes out.
    recorder.outcome = SettleLostWrite(sent, GroupHolds(display, group, wanted, send));
    (recorder.outcome.Ok() ? restore.written : restore.notWritten).push_back(group);
  }
  restore.outcome = recorder.outcome;
  if (!restore.outcome.Ok() || restore.written.empty()) return restore;
  TDisplayCapabilities capabilities;
  capabilities.automaticBrightness = held.automaticBrightness.has_value();
  const TDisplaySettingsRead readBack = ReadDisplaySettings(display, capabilities, send);
  if (!readBack.settings) {
    restore.outcome = readBack.outcome;
    restore.failedReadingBack = true;
    return restore;
  }
  restore.readBack = CompareSettings(wanted, *readBack.settings).differences;
  return restore;
}

}  // namespace zorvid
