#pragma once

// The simulated display: its whole state and what it answers to one received packet. No I/O
// and no randomness here; the lines layer moves the bytes and the responder adds faults.
//
// Single-threaded: the simulator's one thread (its poll loop, or a test) calls everything.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "core/Types.h"
#include "device/ZorvidCodec.h"
#include "protocol/Korvel97.h"
#include "protocol/KorvelInterfaces.h"

namespace zorvid::sim {

// Acknowledge codes the display answers with.
enum TSimAck : TByte {
  kAckOk = 0,
  kAckRefused = 1,      // allowed only right after enabling the configuration
  kAckUnknown = 2,      // not an instruction this display knows
  kAckBadArgument = 3,  // wrong data length or a value out of range
  kAckUnsolicited = 0x0E,
};

inline constexpr std::string_view kFullIdent = "ZorvidL;v1.0;rtc";
inline constexpr std::string_view kBasicIdent = "Zorvid;v1.0;";
// The highest address a display may take: 0xFE reaches every device, 0xFF is refused.
inline constexpr TByte kHighestAddress = 0xFD;
inline constexpr double kDriftCentre = 22.0;
// Tenths of a degree travel over the wire unsigned.
inline constexpr double kTemperatureMax = 6553.5;

// What address assignment by identifiers matches against; fixed for the display's life.
struct TSimIdentifiers {
  std::uint16_t word1 = 0;
  std::uint16_t word2 = 0;
  std::uint32_t value = 0;
};

// A stored number that a write sets. With an alteration the display keeps another value than
// the one a write of its field sends, as a display that clamps or rounds would; a read-back
// then shows the difference.
enum class TSimField { kOffset, kZone, kExpiration, kBrightness, kAutoMin, kAutoMax, kAutoGain };
struct TSimFieldName {
  std::string_view name;  // the key of the settings file ("params.offset")
  TSimField field;
  std::int32_t min, max;  // what the field holds, so that a read still answers soundly
};
extern const std::array<TSimFieldName, 7> kSimFieldNames;
struct TSimAlteration {
  TSimField field;
  std::int32_t value;
};

// The line speed a display starts at when nothing else is said.
inline constexpr std::int32_t kSimDefaultBaud = 9600;

struct TSimDisplayConfig {
  TByte address = kZorvidDefaultAddress;
  std::int32_t baud = kSimDefaultBaud;  // one of kBaudTable
  std::string ident{kFullIdent};
  bool basic = false;                 // no clock, no automatic brightness
  std::optional<double> temperature;  // nothing: a slow drift around kDriftCentre
  TSimIdentifiers identifiers;
  std::vector<TSimAlteration> alterations;
};

class TSimDisplay {
 public:
  using TClock = std::function<TDateTime()>;

  // `clock` is the system's local time; the display's own clock runs at an offset from it.
  // Raises std::invalid_argument for a baud rate that is not in kBaudTable.
  explicit TSimDisplay(TSimDisplayConfig config, TClock clock = Now);

  // Whether a packet sent to `adr` reaches this display.
  bool Hears(TByte adr) const;
  // The packet that answers `request`: the request's SIG, the address the display had when the
  // request came. Nothing for a packet to another address or when the display stays silent.
  std::optional<TByteString> Answer(const TKorvelFormat97& request);

  TByte Address() const { return address_; }
  // The line speed the display listens at, changed by a write of the communication parameters.
  std::int32_t Baud() const;
  const TByteString& Segments() const { return segments_; }

 private:
  struct TReply {
    bool answered = true;
    TByte ack = kAckOk;
    TByteString data;
  };
  using THandler = TReply (TSimDisplay::*)(const TByteString& data);
  struct TInstruction {
    TByte code;
    std::optional<std::size_t> dataSize;  // nothing: the handler checks the length
    bool needsFullVariant;                // clock or automatic brightness
    THandler handle;
  };
  static const std::array<TInstruction, 33> kInstructions;

  static TReply Ok(TByteString data = {}) { return {true, kAckOk, std::move(data)}; }
  static TReply Ack(TByte code) { return {true, code, {}}; }
  static TReply NoAnswer() { return {false, kAckOk, {}}; }

  TReply Execute(TByte inst, const TByteString& data);
  // Replaces a value just written when an alteration names its field.
  void Alter(TSimField field, std::int32_t& stored) const;
  void ShowText(const TByteString& text);
  TDateTime DisplayTime() const;
  double Temperature() const;
  std::int32_t ExpirationLeft() const;

  TReply SetChannelFlag(const TByteString& data);
  TReply SetChannelValue(const TByteString& data);
  TReply GetChannelFlags(const TByteString& data);
  TReply GetChannelValues(const TByteString& data);
  TReply GetTemperature(const TByteString& data);
  TReply SetDateTime(const TByteString& data);
  TReply GetDateTime(const TByteString& data);
  TReply SetDateTimeParams(const TByteString& data);
  TReply GetDateTimeParams(const TByteString& data);
  TReply ShowActualInformation(const TByteString& data);
  TReply GetDisplayChars(const TByteString& data);
  TReply GetDisplayData(const TByteString& data);
  TReply GetBrightness(const TByteString& data);
  TReply GetExpiration(const TByteString& data);
  TReply GetBrightnessAuto(const TByteString& data);
  TReply SetDisplayChars(const TByteString& data);
  TReply SetDisplayData(const TByteString& data);
  TReply SetBrightness(const TByteString& data);
  TReply SetExpiration(const TByteString& data);
  TReply SetBrightnessAuto(const TByteString& data);
  TReply WriteCommParams(const TByteString& data);
  TReply SetStoredByte(const TByteString& data);
  TReply SetStoredText(const TByteString& data);
  TReply CommandE3(const TByteString& data);
  TReply EnableConfiguration(const TByteString& data);
  TReply AssignAddress(const TByteString& data);
  TReply SetFlag(const TByteString& data);
  TReply ReadCommParams(const TByteString& data);
  TReply GetStoredByte(const TByteString& data);
  TReply GetStoredText(const TByteString& data);
  TReply Identification(const TByteString& data);
  TReply ReadIdentifiers(const TByteString& data);
  TReply GetFlag(const TByteString& data);

  TSimDisplayConfig config_;
  TClock clock_;

  TByte address_;
  TByte baudIndex_;  // into kBaudTable
  bool configurationEnabled_ = false;

  TByteString text_;
  TByteString segments_;
  std::int32_t expirationSeconds_ = 0;
  std::optional<TDateTime> pushedAt_;  // when text or segments were last written

  std::array<bool, 2> channelFlags_{};
  std::array<TByte, 2> channelValues_{};

  std::int32_t brightness_ = 64;
  TBrightnessAuto brightnessAuto_;
  TDateTime clockOffset_ = 0;  // display time minus system time, in days
  TDateTimeParams params_;

  TByte storedByte_ = 0;
  TByteString storedText_;
  bool flag_ = false;
};

}  // namespace zorvid::sim
