#include "tools/sim/SimDisplay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>

#include "protocol/KorvelInterfaces.h"
#include "protocol/KorvelStackDevice.h"
#include "tools/sim/SegmentFont.h"

namespace zorvid::sim {
namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kDriftAmplitude = 1.0;      // degrees
constexpr double kDriftPeriod = 60.0;        // seconds: a tenth of a degree every few seconds
constexpr std::size_t kDateTimeWeekday = 3;  // where the answer carries the day of the week
constexpr TByte kChannelFlagBit = 0x80;
constexpr std::size_t kStoredTextMax = 16;

std::uint16_t WordAt(const TByteString& bytes, std::size_t index) {
  return static_cast<std::uint16_t>(ByteAt(bytes, index) << 8 | ByteAt(bytes, index + 1));
}

void AppendWord(TByteString& bytes, std::uint16_t value) {
  bytes += static_cast<char>(value >> 8);
  bytes += static_cast<char>(value & 0xFF);
}

// 1 = Monday .. 7 = Sunday; day 0 of the day count was a Saturday.
TByte IsoWeekday(TDateTime dateTime) {
  const auto day = static_cast<long long>(std::floor(dateTime));
  return static_cast<TByte>(((day + 5) % 7 + 7) % 7 + 1);
}

// The channel a selector names (index 0 or 1); only bits 0-1 and the flag bit may be set.
std::optional<std::size_t> ChannelIndex(TByte selector) {
  const TByte channel = selector & static_cast<TByte>(~kChannelFlagBit);
  if (channel != 1 && channel != 2) return {};
  return channel - 1u;
}

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

TByte BaudIndex(std::int32_t baud) {
  const auto found = std::find(kBaudTable.begin(), kBaudTable.end(), baud);
  if (found == kBaudTable.end())
    throw std::invalid_argument("baud rate " + std::to_string(baud) +
                                " is none of the display's speeds");
  return static_cast<TByte>(found - kBaudTable.begin());
}

}  // namespace

const std::array<TSimFieldName, 7> kSimFieldNames{{
    {"params.offset", TSimField::kOffset, kDateTimeOffsetMin, kDateTimeOffsetMax},
    {"params.zone", TSimField::kZone, 0, kDateTimeZoneMax},
    {"expiration", TSimField::kExpiration, 0, kExpirationMax},
    {"brightness", TSimField::kBrightness, 0, kBrightnessMax},
    {"brightness-auto.min", TSimField::kAutoMin, kBrightnessAutoMin, kBrightnessAutoMax},
    {"brightness-auto.max", TSimField::kAutoMax, kBrightnessAutoMin, kBrightnessAutoMax},
    {"brightness-auto.gain", TSimField::kAutoGain, 0, kBrightnessGainMax},
}};

// Instructions the display knows, with the data length each requires.
const std::array<TSimDisplay::TInstruction, 33> TSimDisplay::kInstructions{{
    {kZorvidSetChannelFlag, 1, false, &TSimDisplay::SetChannelFlag},
    {kZorvidSetChannelValue, 2, false, &TSimDisplay::SetChannelValue},
    {kZorvidGetChannelFlags, 0, false, &TSimDisplay::GetChannelFlags},
    {kZorvidGetChannelValues, 0, false, &TSimDisplay::GetChannelValues},
    {kZorvidGetTemperature, 1, false, &TSimDisplay::GetTemperature},
    {kZorvidSetDateTime, 6, true, &TSimDisplay::SetDateTime},
    {kZorvidGetDateTime, 0, true, &TSimDisplay::GetDateTime},
    {kZorvidSetDateTimeParams, 6, false, &TSimDisplay::SetDateTimeParams},
    {kZorvidGetDateTimeParams, 0, false, &TSimDisplay::GetDateTimeParams},
    {kZorvidShowActualInformation, 0, false, &TSimDisplay::ShowActualInformation},
    {kZorvidGetDisplayChars, 0, false, &TSimDisplay::GetDisplayChars},
    {kZorvidGetDisplayData, 0, false, &TSimDisplay::GetDisplayData},
    {kZorvidGetDisplayBrightness, 0, false, &TSimDisplay::GetBrightness},
    {kZorvidGetDisplayDataExpiration, 0, false, &TSimDisplay::GetExpiration},
    {kZorvidGetDisplayBrightnessAuto, 0, true, &TSimDisplay::GetBrightnessAuto},
    {kZorvidSetDisplayChars, std::nullopt, false, &TSimDisplay::SetDisplayChars},
    {kZorvidSetDisplayData, kZorvidPositions, false, &TSimDisplay::SetDisplayData},
    {kZorvidSetDisplayBrightness, 1, false, &TSimDisplay::SetBrightness},
    {kZorvidSetDisplayDataExpiration, 2, false, &TSimDisplay::SetExpiration},
    {kZorvidSetDisplayBrightnessAuto, 4, true, &TSimDisplay::SetBrightnessAuto},
    {kInstWriteCommParams, 2, false, &TSimDisplay::WriteCommParams},
    {kInstSetByte, 1, false, &TSimDisplay::SetStoredByte},
    {kInstSetText, std::nullopt, false, &TSimDisplay::SetStoredText},
    {kInstCommandE3, 0, false, &TSimDisplay::CommandE3},
    {kInstEnableConfiguration, 0, false, &TSimDisplay::EnableConfiguration},
    {kInstAssignAddress, 5, false, &TSimDisplay::AssignAddress},
    {kInstSetFlag, 1, false, &TSimDisplay::SetFlag},
    {kInstReadCommParams, 0, false, &TSimDisplay::ReadCommParams},
    {kInstGetByte, 0, false, &TSimDisplay::GetStoredByte},
    {kInstGetText, 0, false, &TSimDisplay::GetStoredText},
    {kInstIdentification, 0, false, &TSimDisplay::Identification},
    {kInstIdentifiers, 0, false, &TSimDisplay::ReadIdentifiers},
    {kInstGetFlag, 0, false, &TSimDisplay::GetFlag},
}};

TSimDisplay::TSimDisplay(TSimDisplayConfig config, TClock clock)
    : config_(std::move(config)),
      clock_(std::move(clock)),
      address_(config_.address),
      baudIndex_(BaudIndex(config_.baud)) {
  params_.showTime = true;
  params_.showTemperature = true;
  params_.autoUpdate = true;
  params_.showAfterTurnOn = true;
  ShowText(*PackDisplayText(""));
}

bool TSimDisplay::Hears(TByte adr) const {
  return adr == address_ || adr == kBroadcastAddress;
}

std::optional<TByteString> TSimDisplay::Answer(const TKorvelFormat97& request) {
  if (!Hears(request.Adr)) return {};
  // An address change answers from the address the request reached.
  const TByte answerAddress = address_;
  const TReply reply = Execute(request.Inst, request.Data);
  if (!reply.answered) return {};
  return BuildPacket97(answerAddress, request.Sig, reply.ack, reply.data);
}

TSimDisplay::TReply TSimDisplay::Execute(TByte inst, const TByteString& data) {
  const auto entry = std::find_if(kInstructions.begin(), kInstructions.end(),
                                  [inst](const TInstruction& known) { return known.code == inst; });
  if (entry == kInstructions.end()) return Ack(kAckUnknown);
  if (entry->needsFullVariant && config_.basic) return Ack(kAckUnknown);
  if (entry->dataSize && data.size() != *entry->dataSize) return Ack(kAckBadArgument);
  return (this->*entry->handle)(data);
}

void TSimDisplay::ShowText(const TByteString& text) {
  text_ = text;
  segments_ = RenderDisplayText(text);
}

TDateTime TSimDisplay::DisplayTime() const {
  return clock_() + clockOffset_;
}

double TSimDisplay::Temperature() const {
  if (config_.temperature) return *config_.temperature;
  const double seconds = clock_() * kSecondsPerDay;
  return kDriftCentre + kDriftAmplitude * std::sin(2 * std::numbers::pi *
                                                   std::fmod(seconds, kDriftPeriod) / kDriftPeriod);
}

// Whole seconds until pushed data expires; 0 when it stays for good or has expired.
std::int32_t TSimDisplay::ExpirationLeft() const {
  if (expirationSeconds_ == 0 || !pushedAt_) return 0;
  // Milliseconds first: a day count carries rounding noise below that.
  const long long elapsedMs = std::llround((clock_() - *pushedAt_) * kSecondsPerDay * 1000);
  return static_cast<std::int32_t>(
      std::clamp<long long>(expirationSeconds_ - elapsedMs / 1000, 0, expirationSeconds_));
}

// --- The two channels ---

TSimDisplay::TReply TSimDisplay::SetChannelFlag(const TByteString& data) {
  const TByte selector = ByteAt(data, 0);
  const auto channel = ChannelIndex(selector);
  if (!channel) return Ack(kAckBadArgument);
  channelFlags_[*channel] = (selector & kChannelFlagBit) != 0;
  return Ok();
}

TSimDisplay::TReply TSimDisplay::SetChannelValue(const TByteString& data) {
  const TByte selector = ByteAt(data, 1);
  const auto channel = ChannelIndex(selector);
  if (!channel) return Ack(kAckBadArgument);
  channelFlags_[*channel] = (selector & kChannelFlagBit) != 0;
  channelValues_[*channel] = ByteAt(data, 0);
  return Ok();
}

TSimDisplay::TReply TSimDisplay::GetChannelFlags(const TByteString&) {
  return Ok(TByteString(
      1, static_cast<char>((channelFlags_[0] ? 0x01 : 0) | (channelFlags_[1] ? 0x02 : 0))));
}

TSimDisplay::TReply TSimDisplay::GetChannelValues(const TByteString&) {
  TByteString answer;
  for (std::size_t channel = 0; channel < channelFlags_.size(); ++channel) {
    answer += *PackChannelFlag(static_cast<std::int32_t>(channel + 1), channelFlags_[channel]);
    answer += static_cast<char>(channelValues_[channel]);
  }
  return Ok(answer);
}

// --- Temperature, clock and the automatic information ---

TSimDisplay::TReply TSimDisplay::GetTemperature(const TByteString& data) {
  if (ByteAt(data, 0) != kTemperatureSensor) return Ack(kAckBadArgument);
  const double tenths = std::round(std::clamp(Temperature(), 0.0, kTemperatureMax) * 10);
  TByteString answer(1, static_cast<char>(kTemperatureSensor));
  AppendWord(answer, static_cast<std::uint16_t>(tenths));
  return Ok(answer);
}

TSimDisplay::TReply TSimDisplay::SetDateTime(const TByteString& data) {
  TByteString withWeekday = data;
  withWeekday.insert(kDateTimeWeekday, 1, '\0');  // the display works the weekday out itself
  const std::optional<TDateTime> dateTime = UnpackDateTime(withWeekday);
  if (!dateTime) return Ack(kAckBadArgument);
  clockOffset_ = *dateTime - clock_();
  return Ok();
}

TSimDisplay::TReply TSimDisplay::GetDateTime(const TByteString&) {
  const TDateTime now = DisplayTime();
  std::optional<TByteString> answer = PackDateTime(now);
  if (!answer) return Ack(kAckRefused);  // a clock set beyond the calendar
  answer->insert(kDateTimeWeekday, 1, static_cast<char>(IsoWeekday(now)));
  return Ok(*answer);
}

TSimDisplay::TReply TSimDisplay::SetDateTimeParams(const TByteString& data) {
  const std::optional<TDateTimeParams> params = UnpackDateTimeParams(data);
  if (!params || !PackDateTimeParams(*params)) return Ack(kAckBadArgument);
  params_ = *params;
  Alter(TSimField::kOffset, params_.offset);
  Alter(TSimField::kZone, params_.zone);
  return Ok();
}

TSimDisplay::TReply TSimDisplay::GetDateTimeParams(const TByteString&) {
  return Ok(*PackDateTimeParams(params_));
}

// Shows the time, else the date, else the temperature, as the parameters choose; a display
// without a clock can only show the temperature.
TSimDisplay::TReply TSimDisplay::ShowActualInformation(const TByteString&) {
  const TDateTimeParts now = DecodeDateTime(DisplayTime());
  std::string text;
  char buffer[16];
  if (!config_.basic && params_.showTime) {
    const int hour = params_.format12Hour ? (now.hour + 11) % 12 + 1 : now.hour;
    std::snprintf(buffer, sizeof buffer, "%02d%02d:", hour, now.minute);
    text = buffer;
  } else if (!config_.basic && params_.showDate) {
    const auto [first, second] =
        params_.formatMDY ? std::pair(now.month, now.day) : std::pair(now.day, now.month);
    std::snprintf(buffer, sizeof buffer, "%02d.%02d", first, second);
    text = buffer;
  } else {
    text = Format("%.1f", Temperature());
    if (!IsValidDisplayText(text)) text = Format("%.0f", Temperature());
  }
  ShowText(PackDisplayText(text).value_or(*PackDisplayText("")));
  pushedAt_.reset();  // the display's own information does not expire
  return Ok();
}

// --- Text, segments and brightness ---

TSimDisplay::TReply TSimDisplay::GetDisplayChars(const TByteString&) {
  return Ok(text_);
}

TSimDisplay::TReply TSimDisplay::GetDisplayData(const TByteString&) {
  return Ok(segments_);
}

TSimDisplay::TReply TSimDisplay::GetBrightness(const TByteString&) {
  return Ok(*PackBrightness(brightness_));
}

TSimDisplay::TReply TSimDisplay::GetExpiration(const TByteString&) {
  return Ok(*PackDataExpiration(expirationSeconds_) + *PackDataExpiration(ExpirationLeft()));
}

// The bytes as stored: the display's firmware compares no field with another, so it may hold a
// minimum above the maximum, which no setter of the programs sends.
TSimDisplay::TReply TSimDisplay::GetBrightnessAuto(const TByteString&) {
  const TBrightnessAuto& stored = brightnessAuto_;
  return Ok(TByteString{static_cast<char>(stored.automatic ? 1 : 0), static_cast<char>(stored.min),
                        static_cast<char>(stored.max), static_cast<char>(stored.gain)});
}

TSimDisplay::TReply TSimDisplay::SetDisplayChars(const TByteString& data) {
  if (!IsValidDisplayText(data)) return Ack(kAckBadArgument);
  ShowText(data);
  pushedAt_ = clock_();
  return Ok();
}

// Raw segments leave the text as it was written last: no text describes them.
TSimDisplay::TReply TSimDisplay::SetDisplayData(const TByteString& data) {
  segments_ = data;
  pushedAt_ = clock_();
  return Ok();
}

TSimDisplay::TReply TSimDisplay::SetBrightness(const TByteString& data) {
  const std::int32_t value = ByteAt(data, 0);
  if (!PackBrightness(value)) return Ack(kAckBadArgument);
  brightness_ = value;
  Alter(TSimField::kBrightness, brightness_);
  return Ok();
}

TSimDisplay::TReply TSimDisplay::SetExpiration(const TByteString& data) {
  expirationSeconds_ = WordAt(data, 0);
  Alter(TSimField::kExpiration, expirationSeconds_);
  return Ok();
}

TSimDisplay::TReply TSimDisplay::SetBrightnessAuto(const TByteString& data) {
  const std::optional<TBrightnessAuto> settings = UnpackBrightnessAuto(data);
  // Each value within its own range; the firmware does not compare the minimum with the maximum.
  const auto inRange = [](std::int32_t value, std::int32_t min, std::int32_t max) {
    return value >= min && value <= max;
  };
  if (ByteAt(data, 0) > 1 || !settings ||
      !inRange(settings->min, kBrightnessAutoMin, kBrightnessAutoMax) ||
      !inRange(settings->max, kBrightnessAutoMin, kBrightnessAutoMax) ||
      !inRange(settings->gain, 0, kBrightnessGainMax))
    return Ack(kAckBadArgument);
  brightnessAuto_ = *settings;
  Alter(TSimField::kAutoMin, brightnessAuto_.min);
  Alter(TSimField::kAutoMax, brightnessAuto_.max);
  Alter(TSimField::kAutoGain, brightnessAuto_.gain);
  return Ok();
}

void TSimDisplay::Alter(TSimField field, std::int32_t& stored) const {
  for (const TSimAlteration& alteration : config_.alterations)
    if (alteration.field == field) stored = alteration.value;
}

// --- Instructions common to the family ---

// Enabling the configuration opens exactly one write attempt.
TSimDisplay::TReply TSimDisplay::WriteCommParams(const TByteString& data) {
  if (!std::exchange(configurationEnabled_, false)) return Ack(kAckRefused);
  const TByte adr = ByteAt(data, 0);
  const TByte baudIndex = ByteAt(data, 1);
  if (adr > kHighestAddress || baudIndex >= kBaudTable.size()) return Ack(kAckBadArgument);
  address_ = adr;
  baudIndex_ = baudIndex;
  return Ok();
}

TSimDisplay::TReply TSimDisplay::SetStoredByte(const TByteString& data) {
  storedByte_ = ByteAt(data, 0);
  return Ok();
}

// 0x00, then at most 16 bytes of text ended by 0x00 when shorter.
TSimDisplay::TReply TSimDisplay::SetStoredText(const TByteString& data) {
  if (data.empty() || data.size() > kStoredTextMax + 1 || data[0] != '\0')
    return Ack(kAckBadArgument);
  const TByteString text = data.substr(1);
  storedText_ = text.substr(0, text.find('\0'));
  return Ok();
}

TSimDisplay::TReply TSimDisplay::CommandE3(const TByteString&) {
  return Ok();
}

TSimDisplay::TReply TSimDisplay::EnableConfiguration(const TByteString&) {
  configurationEnabled_ = true;
  return Ok();
}

// Only the display whose identifiers match answers, so a broadcast picks exactly one.
TSimDisplay::TReply TSimDisplay::AssignAddress(const TByteString& data) {
  if (WordAt(data, 1) != config_.identifiers.word1 || WordAt(data, 3) != config_.identifiers.word2)
    return NoAnswer();
  const TByte adr = ByteAt(data, 0);
  if (adr > kHighestAddress) return Ack(kAckBadArgument);
  address_ = adr;
  return Ok();
}

TSimDisplay::TReply TSimDisplay::SetFlag(const TByteString& data) {
  if (ByteAt(data, 0) > 1) return Ack(kAckBadArgument);
  flag_ = ByteAt(data, 0) == 1;
  return Ok();
}

TSimDisplay::TReply TSimDisplay::ReadCommParams(const TByteString&) {
  return Ok(TByteString{static_cast<char>(address_), static_cast<char>(baudIndex_)});
}

TSimDisplay::TReply TSimDisplay::GetStoredByte(const TByteString&) {
  return Ok(TByteString(1, static_cast<char>(storedByte_)));
}

TSimDisplay::TReply TSimDisplay::GetStoredText(const TByteString&) {
  return Ok(storedText_);
}

TSimDisplay::TReply TSimDisplay::Identification(const TByteString&) {
  return Ok(config_.ident);
}

TSimDisplay::TReply TSimDisplay::ReadIdentifiers(const TByteString&) {
  TByteString answer;
  AppendWord(answer, config_.identifiers.word1);
  AppendWord(answer, config_.identifiers.word2);
  AppendWord(answer, static_cast<std::uint16_t>(config_.identifiers.value >> 16));
  AppendWord(answer, static_cast<std::uint16_t>(config_.identifiers.value & 0xFFFF));
  return Ok(answer);
}

std::int32_t TSimDisplay::Baud() const {
  return kBaudTable[baudIndex_];
}

TSimDisplay::TReply TSimDisplay::GetFlag(const TByteString&) {
  return Ok(TByteString(1, flag_ ? '\1' : '\0'));
}

}  // namespace zorvid::sim
