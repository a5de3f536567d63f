#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/DateTime.h"
#include "device/ZorvidCodec.h"
#include "protocol/KorvelInterfaces.h"
#include "protocol/KorvelStackDevice.h"

namespace zorvid {

// The LED display: text, segment pattern, automatic information, brightness, clock and
// temperature. Every operation is one blocking request with the device's time-out; it is true
// when the arguments were in range, the display answered with acknowledge 0 and a read's
// answer had the required length and decoded. Out-of-range arguments send nothing. Outputs are
// written only on success, except that the text and segment outputs are emptied first. The
// operations with several values take and return the codec's records.
class IZorvid : public virtual IKorvelStackDevice {
 public:
  virtual bool SetDisplayChars(const std::string& text) = 0;
  virtual bool GetDisplayChars(std::string& text) = 0;
  virtual bool SetDisplayData(const TByteString& data) = 0;
  virtual bool GetDisplayData(TByteString& data) = 0;
  virtual bool SetDisplayDataExpiration(std::int32_t seconds) = 0;
  virtual bool GetDisplayDataExpiration(TDataExpiration& expiration) = 0;
  virtual bool SetChannelFlag(std::int32_t channel, bool flag) = 0;
  virtual bool GetChannelFlags(TChannelFlags& flags) = 0;
  virtual bool SetChannelValue(std::int32_t channel, bool flag, std::int32_t value) = 0;
  virtual bool GetChannelValues(TChannelValues& values) = 0;
  virtual bool SetDisplayBrightness(std::int32_t value) = 0;
  virtual bool GetDisplayBrightness(std::int32_t& value) = 0;
  virtual bool SetDateTime(TDateTime dateTime) = 0;
  virtual bool GetDateTime(TDateTime& dateTime) = 0;
  virtual bool SetDateTimeParams(const TDateTimeParams& params) = 0;
  virtual bool GetDateTimeParams(TDateTimeParams& params) = 0;
  virtual bool ShowActualInformation() = 0;
  virtual bool GetTemperature(double& degrees) = 0;
  virtual bool SetDisplayBrightnessAuto(const TBrightnessAuto& settings) = 0;
  virtual bool GetDisplayBrightnessAuto(TBrightnessAuto& settings) = 0;
};

inline constexpr TInterfaceId IID_IZorvid =
    MakeInterfaceId<IZorvid>("{BE04D908-0246-4F4E-88A4-94309A434B57}");

class TZorvid : public TKorvelStackDevice, public virtual IZorvid {
 public:
  explicit TZorvid(TByte address);
  // With a non-empty `guid` the device takes it instead of a fresh one.
  TZorvid(const std::string& guid, TByte address);

  bool SetDisplayChars(const std::string& text) override;
  bool GetDisplayChars(std::string& text) override;
  bool SetDisplayData(const TByteString& data) override;
  bool GetDisplayData(TByteString& data) override;
  bool SetDisplayDataExpiration(std::int32_t seconds) override;
  bool GetDisplayDataExpiration(TDataExpiration& expiration) override;
  bool SetChannelFlag(std::int32_t channel, bool flag) override;
  bool GetChannelFlags(TChannelFlags& flags) override;
  bool SetChannelValue(std::int32_t channel, bool flag, std::int32_t value) override;
  bool GetChannelValues(TChannelValues& values) override;
  bool SetDisplayBrightness(std::int32_t value) override;
  bool GetDisplayBrightness(std::int32_t& value) override;
  bool SetDateTime(TDateTime dateTime) override;
  bool GetDateTime(TDateTime& dateTime) override;
  bool SetDateTimeParams(const TDateTimeParams& params) override;
  bool GetDateTimeParams(TDateTimeParams& params) override;
  bool ShowActualInformation() override;
  bool GetTemperature(double& degrees) override;
  bool SetDisplayBrightnessAuto(const TBrightnessAuto& settings) override;
  bool GetDisplayBrightnessAuto(TBrightnessAuto& settings) override;

 private:
  // Sends `data` when the packing accepted the arguments.
  bool SendPacked(TZorvidInstruction inst, const std::optional<TByteString>& data);
  // Queries and decodes; `value` is written only when both succeed.
  template <class TValue>
  bool QueryDecoded(TZorvidInstruction inst, const TByteString& request,
                    std::optional<TValue> (*decode)(const TByteString&), TValue& value);
};

}  // namespace zorvid
