#include "tools/ctl/CtlCommandTable.h"

#include <QStringList>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "core/EchoText.h"
#include "core/HexText.h"
#include "core/Types.h"
#include "device/ZorvidCodec.h"
#include "device/ZorvidRules.h"
#include "link/Commissioning.h"
#include "link/Outcome.h"
#include "link/SettingsSnapshot.h"
#include "protocol/KorvelInterfaces.h"
#include "tools/ctl/CtlArguments.h"
#include "tools/ctl/CtlText.h"

namespace zorvid::ctl {
namespace {

// ---- Date-time parameters ----------------------------------------------------------------

std::string ParamKeyList() {
  QStringList keys;
  for (const TParamKey& key : kParamKeys)
    keys << FromUtf8(key.key);
  return keys.join(", ").toStdString();
}

struct TParamChange {
  const TParamKey* key;
  std::int32_t value;
};

void ApplyParamChange(TDateTimeParams& params, const TParamChange& change) {
  if (change.key->flag)
    params.*(change.key->flag) = change.value != 0;
  else
    params.*(change.key->number) = change.value;
}

const TParamKey& FindParamKey(std::string_view name) {
  for (const TParamKey& key : kParamKeys)
    if (key.key == name) return key;
  Refuse("unknown params key: " + Quoted(name) + " (keys: " + ParamKeyList() + ")");
}

// "KEY=VALUE", checked as the display would get it: a flag is 0 or 1, a number must pass the
// date-time parameters' own range check.
TParamChange ParseParamChange(std::string_view assignment) {
  const std::size_t equals = assignment.find('=');
  if (equals == std::string_view::npos) Refuse("expected KEY=VALUE: " + Quoted(assignment));
  const TParamKey& key = FindParamKey(assignment.substr(0, equals));
  const std::string_view text = assignment.substr(equals + 1);
  if (key.flag) {
    if (text != "0" && text != "1")
      Refuse(std::string(key.key) + " must be 0 or 1: " + Quoted(text));
    return {&key, text == "1" ? 1 : 0};
  }
  const TParamChange change{&key, Number(key.key, text)};
  TDateTimeParams probe;
  ApplyParamChange(probe, change);
  if (!PackDateTimeParams(probe))
    Refuse(std::string(key.key) + " out of range " + RangeText(key.min, key.max) + ": " +
           EchoedText(text));
  return change;
}

}  // namespace

// Two requests, each named when it fails: the display takes the second only right after the
// first, and answers it at its old speed.
TCtlAction PrepareSetComm(const TCommandArgs& args) {
  ExpectCount(args, 2, 2);
  const TByte address = Address(args.Value(0), kHighestOwnAddress);
  const std::int32_t baud = DisplayBaud(args.Value(1));
  // One procedure of two requests, which the window's change sends alike.
  return {{TStep::kNone, [address, baud](TZorvid& device, TCtlResult&) {
             const TOutcome sent = SendCommParams(device, {address, baud});
             if (!sent.Ok()) throw TOutcomeError(sent);
             return true;
           }}};
}

// To the broadcast address whatever --address says: the display is found by its identifiers.
TCtlAction PrepareAssignAddress(const TCommandArgs& args) {
  ExpectCount(args, 3, 3);
  const std::uint16_t word1 = Word("word1", args.Value(0));
  const std::uint16_t word2 = Word("word2", args.Value(1));
  const TByte address = Address(args.Value(2), kHighestOwnAddress);
  return {{args.command.step, [word1, word2, address](TZorvid& device, TCtlResult&) {
             device.SetAddress(kBroadcastAddress);
             return device.AssignAddress(word1, word2, address);
           }}};
}

TCtlAction PrepareSetText(const TCommandArgs& args) {
  ExpectCount(args, 1, 1);
  std::string text = args.Value(0);
  if (!IsValidDisplayText(text)) Refuse("invalid display text: " + Quoted(text));
  return {{args.command.step,
           [text](TZorvid& device, TCtlResult&) { return device.SetDisplayChars(text); }}};
}

TCtlAction PrepareSetData(const TCommandArgs& args) {
  ExpectCount(args, 1, kAnyCount);
  const std::string given = args.Joined();
  const auto data = ParseHex(given);
  if (!data) Refuse("invalid hex data: " + Quoted(given));
  if (!PackDisplayData(*data))
    Refuse("display data needs exactly " + std::to_string(kZorvidPositions) + " bytes, got " +
           std::to_string(data->size()) + ": " + Quoted(given));
  return {{args.command.step,
           [bytes = *data](TZorvid& device, TCtlResult&) { return device.SetDisplayData(bytes); }}};
}

TCtlAction PrepareSetExpiration(const TCommandArgs& args) {
  ExpectCount(args, 1, 1);
  const std::string given = args.Value(0);
  const std::int32_t seconds = Number("expiration", given);
  if (!PackDataExpiration(seconds))
    Refuse("expiration out of range " + RangeText(0, kExpirationMax) + ": " + EchoedText(given));
  return {
      {args.command.step,
       [seconds](TZorvid& device, TCtlResult&) { return device.SetDisplayDataExpiration(seconds); },
       [seconds](TZorvid& device, const TStepSender& send) {
         return HoldsExpiration(device, send, seconds);
       }}};
}

TCtlAction PrepareSetBrightness(const TCommandArgs& args) {
  ExpectCount(args, 1, 1);
  const std::string given = args.Value(0);
  const std::int32_t value = Number("brightness", given);
  if (!PackBrightness(value))
    Refuse("brightness out of range " + RangeText(0, kBrightnessMax) + ": " + EchoedText(given));
  return {{args.command.step,
           [value](TZorvid& device, TCtlResult&) { return device.SetDisplayBrightness(value); },
           [value](TZorvid& device, const TStepSender& send) {
             return HoldsBrightness(device, send, value);
           }}};
}

TCtlAction PrepareSetBrightnessAuto(const TCommandArgs& args) {
  ExpectCount(args, 4, 4);
  const TBrightnessAuto s{OnOff("brightness-auto", args.Value(0)), Number("min", args.Value(1)),
                          Number("max", args.Value(2)), Number("gain", args.Value(3))};
  const std::string given = "min=" + EchoedText(args.Value(1)) +
                            " max=" + EchoedText(args.Value(2)) +
                            " gain=" + EchoedText(args.Value(3));
  if (const std::optional<TInvalidValue> invalid = CheckBrightnessAuto(s)) {
    // Within its own range, the minimum is refused only for lying above the maximum.
    if (invalid->field == TSettingField::kMinimumBrightness && invalid->max < kBrightnessAutoMax)
      Refuse("brightness-auto min above max: " + given);
    Refuse("brightness-auto out of range (min and max " +
           RangeText(kBrightnessAutoMin, kBrightnessAutoMax) + ", gain " +
           RangeText(0, kBrightnessGainMax) + "): " + given);
  }
  return {{args.command.step,
           [s](TZorvid& device, TCtlResult&) { return device.SetDisplayBrightnessAuto(s); },
           [s](TZorvid& device, const TStepSender& send) {
             return HoldsBrightnessAuto(device, send, s);
           }}};
}

TCtlAction PrepareSetClock(const TCommandArgs& args) {
  ExpectCount(args, 1, 2);
  const std::string given = args.Joined();
  // Read at each try, so that a repeated request sets the time it goes out at.
  if (given == "now")
    return {
        {args.command.step, [](TZorvid& device, TCtlResult&) { return device.SetDateTime(Now()); },
         [](TZorvid& device, const TStepSender& send) { return HoldsClock(device, send, Now()); }}};
  const auto clock = ParseClock(given);
  if (!clock) Refuse("invalid clock (expected \"YYYY-MM-DD HH:MM:SS\" or now): " + Quoted(given));
  if (!PackDateTime(*clock))
    Refuse("clock year out of range " + RangeText(kDisplayYearFirst, kDisplayYearLast) +
           ", the years the display holds: " + Quoted(given));
  return {{args.command.step,
           [value = *clock](TZorvid& device, TCtlResult&) { return device.SetDateTime(value); },
           [value = *clock](TZorvid& device, const TStepSender& send) {
             return HoldsClock(device, send, value);
           }}};
}

// What the display read, with the given keys changed.
TDateTimeParams Changed(TDateTimeParams params, const std::vector<TParamChange>& changes) {
  for (const TParamChange& change : changes)
    ApplyParamChange(params, change);
  return params;
}

TCtlAction PrepareSetParams(const TCommandArgs& args) {
  ExpectCount(args, 1, kAnyCount);
  std::vector<TParamChange> changes;
  for (qsizetype i = 0; i < args.values.size(); ++i) {
    const TParamChange change = ParseParamChange(args.Value(i));
    const auto earlier = std::find_if(changes.begin(), changes.end(),
                                      [&change](const auto& c) { return c.key == change.key; });
    if (earlier != changes.end())
      Refuse("params key " + Quoted(change.key->key) + " given twice: " +
             Quoted(args.Value(earlier - changes.begin())) + " and " + Quoted(args.Value(i)));
    changes.push_back(change);
  }
  // Two requests, each repeatable on its own: the read, then the write of the whole record.
  const auto params = std::make_shared<TDateTimeParams>();
  return {{TStep::kReadParams,
           [params](TZorvid& device, TCtlResult&) {
             if (!device.GetDateTimeParams(*params)) return false;
             // Written back whole: an unsound value the display sent would go back with the change.
             ExpectSound(CheckDateTimeParams(*params));
             return true;
           }},
          {TStep::kWriteParams,
           [params, changes](TZorvid& device, TCtlResult&) {
             return device.SetDateTimeParams(Changed(*params, changes));
           },
           [params, changes](TZorvid& device, const TStepSender& send) {
             return HoldsParams(device, send, Changed(*params, changes));
           }}};
}

}  // namespace zorvid::ctl
