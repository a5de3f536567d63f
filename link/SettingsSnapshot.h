#pragma once

// The display's settings as one value, kept in a file and put back: the date-time parameters,
// the data expiration, the static brightness and, where the display offers it, the automatic
// brightness. Text, segments and the clock are the display's content, not its settings. The
// window and zorvidctl share all of it; the display is reached only through IZorvid.

#include <QDateTime>
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/Types.h"
#include "device/Zorvid.h"
#include "device/ZorvidCodec.h"
#include "link/Capabilities.h"
#include "link/SettingsReads.h"

namespace zorvid {

// One key of the date-time parameters as zorvidctl and the settings file name it: a flag or a
// number of TDateTimeParams.
struct TParamKey {
  std::string_view key;
  bool TDateTimeParams::*flag;
  std::int32_t TDateTimeParams::*number;
  std::int32_t min, max;  // a flag 0..1; the numbers' range, the setter's own
};

inline constexpr std::array<TParamKey, 11> kParamKeys{{
    {"auto-update", &TDateTimeParams::autoUpdate, nullptr, 0, 1},
    {"summer-time", &TDateTimeParams::summerTime, nullptr, 0, 1},
    {"after-turn-on", &TDateTimeParams::showAfterTurnOn, nullptr, 0, 1},
    {"after-expiration", &TDateTimeParams::showAfterExpiration, nullptr, 0, 1},
    {"12h", &TDateTimeParams::format12Hour, nullptr, 0, 1},
    {"mdy", &TDateTimeParams::formatMDY, nullptr, 0, 1},
    {"show-time", &TDateTimeParams::showTime, nullptr, 0, 1},
    {"show-date", &TDateTimeParams::showDate, nullptr, 0, 1},
    {"show-temp", &TDateTimeParams::showTemperature, nullptr, 0, 1},
    {"offset", nullptr, &TDateTimeParams::offset, kDateTimeOffsetMin, kDateTimeOffsetMax},
    {"zone", nullptr, &TDateTimeParams::zone, 0, kDateTimeZoneMax},
}};

struct TDisplaySettings {
  TDateTimeParams params;
  std::int32_t expirationSeconds = 0;
  std::int32_t brightness = 0;
  // Present exactly on a display that offers automatic brightness.
  std::optional<TBrightnessAuto> automaticBrightness;
  bool operator==(const TDisplaySettings&) const = default;
};

inline constexpr std::string_view kSettingsFormat = "zorvid-settings";
inline constexpr int kSettingsVersion = 1;

struct TSettingsSnapshot {
  QDateTime readAt;  // UTC
  std::string identification;
  TByte address = 0;
  std::string connection;
  TDisplaySettings settings;
};

// One setting by its key in the file ("params.offset", "expiration", "brightness-auto.min"):
// its value as a whole number (a flag 0 or 1), nothing where the display does not have it.
struct TSettingKey {
  std::string key;
  bool flag = false;
  std::int32_t min = 0, max = 1;  // the setter's range
  std::optional<std::int32_t> (*get)(const TDisplaySettings& settings, const TParamKey* param);
  void (*set)(TDisplaySettings& settings, const TParamKey* param, std::int32_t value);
  const TParamKey* param = nullptr;  // the date-time parameter behind a "params." key

  std::optional<std::int32_t> Get(const TDisplaySettings& settings) const {
    return get(settings, param);
  }
  void Set(TDisplaySettings& settings, std::int32_t value) const { set(settings, param, value); }
  // The part before the dot: the group one setter writes as a whole ("params").
  std::string_view Group() const;
  // The part after the dot; the whole key for a setting of its own.
  std::string_view Name() const;
};

// Every key in the window's page order: the parameters, the expiration, the brightness, the
// automatic brightness.
const std::vector<TSettingKey>& SettingKeys();
// A value as the file writes it: true or false for a flag, else the number.
std::string SettingValueText(const TSettingKey& key, std::int32_t value);

struct TDisplaySettingsRead {
  std::optional<TDisplaySettings> settings;
  TOutcome outcome;  // why there are no settings: the failed step or the value a rule refuses
};

// The reads in the window's order, every answer checked; the automatic brightness only where
// `capabilities` offer it. Requests go out through `send`, so a caller may repeat one.
TDisplaySettingsRead ReadDisplaySettings(IZorvid& display, const TDisplayCapabilities& capabilities,
                                         const TStepSender& send);

// A file that cannot be taken; the message names the file, the key and the value.
class TSettingsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Indented JSON, keys in the JSON object's own (alphabetical) order, so equal snapshots give
// equal files.
std::string SnapshotJson(const TSettingsSnapshot& snapshot);
// Refuses anything but a whole, known file of this format and a version not newer than this
// program's: every key present once, with its type and within the rule book's limits (the
// rules across keys included), no other key. `fileName` is for the messages. Throws
// TSettingsFileError.
TSettingsSnapshot ParseSnapshot(const QByteArray& json, const std::string& fileName);
// Reads and parses the file. Throws TSettingsFileError, also when the file cannot be read.
TSettingsSnapshot LoadSnapshot(const std::string& fileName);
// Writes the file whole or not at all (a temporary file beside it, renamed when complete).
// Throws TSettingsFileError naming the file and the system's reason.
void SaveSnapshot(const TSettingsSnapshot& snapshot, const std::string& fileName);

struct TSettingsComparison {
  std::vector<TSettingChange> differences;
  // Keys `wanted` has and the display does not (automatic brightness on a basic display).
  std::vector<std::string> skipped;
  // The groups a restore writes, each once, in key order.
  std::vector<std::string> Groups() const;
};

// A key `held` has and `wanted` lacks is left as it is and not reported.
TSettingsComparison CompareSettings(const TDisplaySettings& wanted, const TDisplaySettings& held);

// A save's read back against what was sent, key by key, into the save's readBackChanges.
void NoteReadBack(TDateTimeParamsSave& save, const TDateTimeParams& params,
                  std::int32_t expirationSeconds);
void NoteReadBack(TBrightnessSave& save, std::int32_t brightness,
                  const std::optional<TBrightnessAuto>& automatic);

struct TSettingsRestore {
  std::vector<std::string> written;      // groups, in the order they went out
  std::vector<std::string> notWritten;   // groups that differed and were not written
  std::vector<std::string> skipped;      // keys the display does not have
  std::vector<TSettingChange> readBack;  // keys read back other than sent (sent, read)
  TOutcome outcome;                      // the first step that failed, the read back's included
  bool failedReadingBack = false;        // every group was written, the read back failed
  bool Verified() const { return outcome.Ok() && notWritten.empty() && readBack.empty(); }
};

// Writes every group of `comparison` (of `wanted` against the display's `held`) whole with its
// setter, in key order, stopping at the first that fails; then reads all back and compares.
TSettingsRestore WriteSettingsDifferences(IZorvid& display, const TDisplaySettings& wanted,
                                          const TDisplaySettings& held, const TStepSender& send);

}  // namespace zorvid
