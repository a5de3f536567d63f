#include "device/Zorvid.h"

namespace zorvid {
namespace {

constexpr char kClassName[] = "TZorvid";

}  // namespace

TZorvid::TZorvid(TByte address) : TKorvelStackDevice(address, kClassName) {}

TZorvid::TZorvid(const std::string& guid, TByte address)
    : TKorvelStackDevice(guid, address, kClassName) {}

bool TZorvid::SendPacked(TZorvidInstruction inst, const std::optional<TByteString>& data) {
  return data && SendCommand(inst, *data);
}

template <class TValue>
bool TZorvid::QueryDecoded(TZorvidInstruction inst, const TByteString& request,
                           std::optional<TValue> (*decode)(const TByteString&), TValue& value) {
  TByteString answer;
  if (!SendQuery(inst, request, answer)) return false;
  const std::optional<TValue> decoded = decode(answer);
  if (!decoded) return false;
  value = *decoded;
  return true;
}

bool TZorvid::SetDisplayChars(const std::string& text) {
  return SendPacked(kZorvidSetDisplayChars, PackDisplayText(text));
}

bool TZorvid::GetDisplayChars(std::string& text) {
  text.clear();
  return SendQuery(kZorvidGetDisplayChars, {}, text);
}

bool TZorvid::SetDisplayData(const TByteString& data) {
  return SendPacked(kZorvidSetDisplayData, PackDisplayData(data));
}

bool TZorvid::GetDisplayData(TByteString& data) {
  data.clear();
  return SendQuery(kZorvidGetDisplayData, {}, data);
}

bool TZorvid::SetDisplayDataExpiration(std::int32_t seconds) {
  return SendPacked(kZorvidSetDisplayDataExpiration, PackDataExpiration(seconds));
}

bool TZorvid::GetDisplayDataExpiration(std::int32_t& seconds, std::int32_t& second) {
  TDataExpiration expiration;
  if (!QueryDecoded(kZorvidGetDisplayDataExpiration, {}, UnpackDataExpiration, expiration))
    return false;
  seconds = expiration.seconds;
  second = expiration.second;
  return true;
}

bool TZorvid::SetChannelFlag(std::int32_t channel, bool flag) {
  return SendPacked(kZorvidSetChannelFlag, PackChannelFlag(channel, flag));
}

bool TZorvid::GetChannelFlags(bool& flag2, bool& flag1) {
  TChannelFlags flags;
  if (!QueryDecoded(kZorvidGetChannelFlags, {}, UnpackChannelFlags, flags)) return false;
  flag2 = flags.flag2;
  flag1 = flags.flag1;
  return true;
}

bool TZorvid::SetChannelValue(std::int32_t channel, bool flag, std::int32_t value) {
  return SendPacked(kZorvidSetChannelValue, PackChannelValue(channel, flag, value));
}

bool TZorvid::GetChannelValues(bool& flag2, bool& flag1, std::int32_t& value2,
                               std::int32_t& value1) {
  TChannelValues values;
  if (!QueryDecoded(kZorvidGetChannelValues, {}, UnpackChannelValues, values)) return false;
  flag2 = values.flag2;
  flag1 = values.flag1;
  value2 = values.value2;
  value1 = values.value1;
  return true;
}

bool TZorvid::SetDisplayBrightness(std::int32_t value) {
  return SendPacked(kZorvidSetDisplayBrightness, PackBrightness(value));
}

bool TZorvid::GetDisplayBrightness(std::int32_t& value) {
  return QueryDecoded(kZorvidGetDisplayBrightness, {}, UnpackBrightness, value);
}

bool TZorvid::SetDateTime(TDateTime dateTime) {
  return SendPacked(kZorvidSetDateTime, PackDateTime(dateTime));
}

bool TZorvid::GetDateTime(TDateTime& dateTime) {
  return QueryDecoded(kZorvidGetDateTime, {}, UnpackDateTime, dateTime);
}

bool TZorvid::SetDateTimeParams(bool autoUpdate, bool summerTime, bool showAfterTurnOn,
                                bool showAfterExpiration, bool format12Hour, bool formatMDY,
                                bool showTime, bool showDate, bool showTemperature,
                                std::int32_t offset, std::int32_t zone) {
  const TDateTimeParams params{
      autoUpdate, summerTime, showAfterTurnOn, showAfterExpiration, format12Hour,
      formatMDY,  showTime,   showDate,        showTemperature,     offset,
      zone};
  return SendPacked(kZorvidSetDateTimeParams, PackDateTimeParams(params));
}

bool TZorvid::GetDateTimeParams(bool& autoUpdate, bool& summerTime, bool& showAfterTurnOn,
                                bool& showAfterExpiration, bool& format12Hour, bool& formatMDY,
                                bool& showTime, bool& showDate, bool& showTemperature,
                                std::int32_t& offset, std::int32_t& zone) {
  TDateTimeParams params;
  if (!QueryDecoded(kZorvidGetDateTimeParams, {}, UnpackDateTimeParams, params)) return false;
  autoUpdate = params.autoUpdate;
  summerTime = params.summerTime;
  showAfterTurnOn = params.showAfterTurnOn;
  showAfterExpiration = params.showAfterExpiration;
  format12Hour = params.format12Hour;
  formatMDY = params.formatMDY;
  showTime = params.showTime;
  showDate = params.showDate;
  showTemperature = params.showTemperature;
  offset = params.offset;
  zone = params.zone;
  return true;
}

bool TZorvid::ShowActualInformation() {
  return SendCommand(kZorvidShowActualInformation, {});
}

bool TZorvid::GetTemperature(double& degrees) {
  return QueryDecoded(kZorvidGetTemperature, TByteString(1, static_cast<char>(kTemperatureSensor)),
                      UnpackTemperature, degrees);
}

bool TZorvid::SetDisplayBrightnessAuto(bool automatic, std::int32_t min, std::int32_t max,
                                       std::int32_t gain) {
  return SendPacked(kZorvidSetDisplayBrightnessAuto,
                    PackBrightnessAuto({automatic, min, max, gain}));
}

bool TZorvid::GetDisplayBrightnessAuto(bool& automatic, std::int32_t& min, std::int32_t& max,
                                       std::int32_t& gain) {
  TBrightnessAuto settings;
  if (!QueryDecoded(kZorvidGetDisplayBrightnessAuto, {}, UnpackBrightnessAuto, settings))
    return false;
  automatic = settings.automatic;
  min = settings.min;
  max = settings.max;
  gain = settings.gain;
  return true;
}

}  // namespace zorvid
