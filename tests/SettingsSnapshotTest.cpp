// The settings file: what a snapshot writes comes back equal, every kind of bad file is refused
// with the file, the key and the value, and two sets of settings compare key by key.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTimeZone>
#include <string>
#include <utility>
#include <vector>

#include "link/SettingsSnapshot.h"

namespace zorvid {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TSettingsSnapshot FullSnapshot() {
  TSettingsSnapshot snapshot;
  snapshot.readAt = QDateTime(QDate(2026, 12, 9), QTime(15, 4, 5), QTimeZone::utc());
  snapshot.identification = "ZorvidL;v1.0;rtc";
  snapshot.address = 49;
  snapshot.connection = "provider=TCP_CLIENT;host=127.0.0.1;port=10001";
  TDateTimeParams& params = snapshot.settings.params;
  params.summerTime = params.format12Hour = params.showTemperature = true;
  params.offset = -660;
  params.zone = 65535;
  snapshot.settings.expirationSeconds = 300;
  snapshot.settings.brightness = 127;
  snapshot.settings.automaticBrightness = TBrightnessAuto{true, 6, 36, 40};
  return snapshot;
}

void ExpectSameSnapshot(const TSettingsSnapshot& read, const TSettingsSnapshot& written) {
  EXPECT_EQ(read.readAt, written.readAt);
  EXPECT_EQ(read.identification, written.identification);
  EXPECT_EQ(read.address, written.address);
  EXPECT_EQ(read.connection, written.connection);
  EXPECT_EQ(read.settings, written.settings);
}

TEST(SettingsSnapshotTest, WhatIsWrittenReadsBackEqualWithAndWithoutAutomaticBrightness) {
  TSettingsSnapshot full = FullSnapshot();
  const std::string json = SnapshotJson(full);
  ExpectSameSnapshot(ParseSnapshot(QByteArray::fromStdString(json), "full.json"), full);
  EXPECT_THAT(json, HasSubstr("\"format\": \"zorvid-settings\""));
  EXPECT_THAT(json, HasSubstr("\"at\": \"2026-12-09T15:04:05Z\""));
  EXPECT_THAT(json, HasSubstr("\"12h\": true"));
  EXPECT_THAT(json, HasSubstr("\"gain\": 40"));
  // The same snapshot gives the same file.
  EXPECT_EQ(SnapshotJson(full), json);

  TSettingsSnapshot basic = FullSnapshot();
  basic.settings.automaticBrightness.reset();
  const std::string basicJson = SnapshotJson(basic);
  EXPECT_THAT(basicJson, Not(HasSubstr("brightness-auto")));
  ExpectSameSnapshot(ParseSnapshot(QByteArray::fromStdString(basicJson), "basic.json"), basic);
}

// The file with one replacement of its text.
QByteArray Altered(const std::string& from, const std::string& to) {
  std::string json = SnapshotJson(FullSnapshot());
  const std::size_t at = json.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) json.replace(at, from.size(), to);
  return QByteArray::fromStdString(json);
}

TEST(SettingsSnapshotTest, EveryKindOfBadFileIsRefusedNamingFileKeyAndValue) {
  const std::string whole = SnapshotJson(FullSnapshot());
  const std::vector<std::pair<QByteArray, std::string>> cases{
      {"", "bad.json: not JSON: "},
      {"[1, 2]", "bad.json: not a JSON object"},
      {QByteArray::fromStdString(whole.substr(0, whole.size() / 2)), " at offset "},
      {Altered("\"zorvid-settings\"", "\"zorvid-config\""),
       "bad.json: key format: \"zorvid-config\" is not \"zorvid-settings\""},
      {Altered("\"version\": 1", "\"version\": 2"),
       "bad.json: key version: 2 is newer than 1, the newest this program reads"},
      {Altered("\"brightness\": 127,", ""), "bad.json: key settings.brightness missing"},
      {Altered("\"brightness\": 127", "\"brightness\": 128"),
       "bad.json: key settings.brightness: 128 out of range 0..127"},
      {Altered("\"offset\": -660", "\"offset\": -661"),
       "bad.json: key settings.params.offset: -661 out of range -660..780"},
      {Altered("\"min\": 6", "\"min\": 5"),
       "bad.json: key settings.brightness-auto.min: 5 out of range 6..36"},
      {Altered("\"expiration\": 300", "\"expiration\": 65536"),
       "bad.json: key settings.expiration: 65536 out of range 0..65535"},
      {Altered("\"expiration\": 300", "\"expiration\": 2.5"),
       "bad.json: key settings.expiration: expected a whole number, got 2.5"},
      {Altered("\"12h\": true", "\"12h\": 1"),
       "bad.json: key settings.params.12h: expected true or false, got 1"},
      {Altered("\"zone\": 65535", "\"zone\": \"65535\""),
       "bad.json: key settings.params.zone: expected a whole number, got \"65535\""},
      {Altered("\"offset\": -660", "\"ofset\": -660"),
       "bad.json: key settings.params.offset missing"},
      {Altered("\"offset\": -660", "\"offset\": -660, \"ofset\": 1"),
       "bad.json: unknown key settings.params.ofset"},
      {Altered("\"gain\": 40", "\"gain\": 40, \"sensor\": 1"),
       "bad.json: unknown key settings.brightness-auto.sensor"},
      {Altered("\"2026-12-09T15:04:05Z\"", "\"yesterday\""),
       "bad.json: key read.at: not an ISO 8601 date and time: \"yesterday\""},
      {Altered("\"address\": 49", "\"address\": 256"),
       "bad.json: key read.address: 256 out of range 0..255"},
      // Each within its range, together breaking the rule the setter keeps.
      {Altered("\"min\": 6", "\"min\": 30").replace("\"max\": 36", "\"max\": 10"),
       "bad.json: key settings.brightness-auto.min: 30 out of range 6..10 (min not above max)"},
      // The parser would keep the last; which one the writer meant nobody knows.
      {Altered("\"brightness\": 127", "\"brightness\": 127, \"brightness\": 5"),
       "bad.json: key settings.brightness given twice"},
      {Altered("\"gain\": 40", "\"gain\": 40, \"g\\u0061in\": 41"),
       "bad.json: key settings.brightness-auto.gain given twice"},
      {Altered("\"format\"", "\"format\": \"x\", \"format\""), "bad.json: key format given twice"},
  };
  for (const auto& [json, message] : cases) {
    SCOPED_TRACE(json.toStdString());
    try {
      ParseSnapshot(json, "bad.json");
      ADD_FAILURE() << "accepted";
    } catch (const TSettingsFileError& error) {
      EXPECT_THAT(error.what(), HasSubstr(message));
    }
  }
}

TEST(SettingsSnapshotTest, AFileThatCannotBeReadIsNamedWithTheSystemsReason) {
  try {
    LoadSnapshot("/nonexistent/settings.json");
    ADD_FAILURE() << "loaded";
  } catch (const TSettingsFileError& error) {
    EXPECT_THAT(error.what(), HasSubstr("/nonexistent/settings.json: cannot read: "));
    EXPECT_THAT(error.what(), HasSubstr("No such file"));
  }
}

TEST(SettingsSnapshotTest, DifferencesByKeyWithAutomaticBrightnessSkippedOnABasicDisplay) {
  const TDisplaySettings file = FullSnapshot().settings;
  TDisplaySettings display = file;
  display.params.offset = 60;
  display.params.showTemperature = false;
  display.automaticBrightness->gain = 0;
  const TSettingsComparison comparison = CompareSettings(file, display);
  EXPECT_THAT(comparison.differences,
              ElementsAre(TSettingChange{"params.show-temp", "true", "false"},
                          TSettingChange{"params.offset", "-660", "60"},
                          TSettingChange{"brightness-auto.gain", "40", "0"}));
  EXPECT_THAT(comparison.Groups(), ElementsAre("params", "brightness-auto"));
  EXPECT_TRUE(comparison.skipped.empty());

  display.automaticBrightness.reset();
  const TSettingsComparison basic = CompareSettings(file, display);
  EXPECT_THAT(basic.Groups(), ElementsAre("params"));
  EXPECT_THAT(basic.skipped, ElementsAre("brightness-auto.auto", "brightness-auto.min",
                                         "brightness-auto.max", "brightness-auto.gain"));
  // A display's automatic brightness that the file lacks stays as it is.
  EXPECT_TRUE(CompareSettings(display, file).skipped.empty());
  EXPECT_THAT(CompareSettings(display, file).Groups(), ElementsAre("params"));
}

}  // namespace
}  // namespace zorvid
