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

bool TZorvid::GetDisplayDataExpiration(TDataExpiration& expiration) {
  return QueryDecoded(kZorvidGetDisplayDataExpiration, {}, UnpackDataExpiration, expiration);
}

bool TZorvid::SetChannelFlag(std::int32_t channel, bool flag) {
  return SendPacked(kZorvidSetChannelFlag, PackChannelFlag(channel, flag));
}

bool TZorvid::GetChannelFlags(TChannelFlags& flags) {
  return QueryDecoded(kZorvidGetChannelFlags, {}, UnpackChannelFlags, flags);
}

bool TZorvid::SetChannelValue(std::int32_t channel, bool flag, std::int32_t value) {
  return SendPacked(kZorvidSetChannelValue, PackChannelValue(channel, flag, value));
}

bool TZorvid::GetChannelValues(TChannelValues& values) {
  return QueryDecoded(kZorvidGetChannelValues, {}, UnpackChannelValues, values);
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

bool TZorvid::SetDateTimeParams(const TDateTimeParams& params) {
  return SendPacked(kZorvidSetDateTimeParams, PackDateTimeParams(params));
}

bool TZorvid::GetDateTimeParams(TDateTimeParams& params) {
  return QueryDecoded(kZorvidGetDateTimeParams, {}, UnpackDateTimeParams, params);
}

bool TZorvid::ShowActualInformation() {
  return SendCommand(kZorvidShowActualInformation, {});
}

bool TZorvid::GetTemperature(double& degrees) {
  return QueryDecoded(kZorvidGetTemperature, TByteString(1, static_cast<char>(kTemperatureSensor)),
                      UnpackTemperature, degrees);
}

bool TZorvid::SetDisplayBrightnessAuto(const TBrightnessAuto& settings) {
  return SendPacked(kZorvidSetDisplayBrightnessAuto, PackBrightnessAuto(settings));
}

bool TZorvid::GetDisplayBrightnessAuto(TBrightnessAuto& settings) {
  return QueryDecoded(kZorvidGetDisplayBrightnessAuto, {}, UnpackBrightnessAuto, settings);
}

}  // namespace zorvid
