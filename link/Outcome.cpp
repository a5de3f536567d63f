#include "link/Outcome.h"

#include "core/ICommunicationInterface.h"
#include "protocol/KorvelStackDevice.h"

#include <algorithm>
#include <array>

namespace zorvid {
namespace {

using enum TStep;

constexpr std::array<TStepRule, 24> kStepRules{{
    {kNone, "request", "", false, false},
    {kIdentify, "identification", "identification", false, true},
    {kReadText, "read text", "text", false, true},
    {kReadSegments, "read data", "data", false, true},
    {kReadParams, "read params", "params", false, true},
    {kReadExpiration, "read expiration", "expiration", false, true},
    {kReadBrightness, "read brightness", "brightness", false, true},
    {kReadBrightnessAuto, "read brightness-auto", "brightness-auto", false, true},
    {kReadClock, "read clock", "clock", false, true},
    {kReadTemperature, "read temperature", "temperature", false, true},
    {kReadComm, "read communication parameters (0xF0)", "comm", false, true},
    {kReadIdentifiers, "read identifiers", "ids", false, true},
    {kWriteText, "write text", "text", true, true},
    {kWriteSegments, "write data", "data", true, true},
    {kWriteParams, "write params", "params", true, true},
    {kWriteExpiration, "write expiration", "expiration", true, true},
    {kWriteBrightness, "write brightness", "brightness", true, true},
    {kWriteBrightnessAuto, "write brightness-auto", "brightness-auto", true, true},
    {kWriteClock, "write clock", "clock", true, true},
    {kShowInformation, "show information", "show-info", false, false},
    {kEnableConfiguration, "enable configuration (0xE4)", "comm", false, false},
    {kWriteComm, "write communication parameters (0xE0)", "comm", true, false},
    {kAssignAddress, "assign address", "address", true, true},
    {kRaw, "raw request", "raw", false, false},
}};

std::string TriesSuffix(int tries) {
  return tries > 1 ? " in " + std::to_string(tries) + " tries" : "";
}

}  // namespace

const TStepRule& RuleOf(TStep step) {
  return kStepRules[static_cast<std::size_t>(step)];
}

std::string_view KindName(TOutcomeKind kind) {
  switch (kind) {
    case TOutcomeKind::kDone:
      return "done";
    case TOutcomeKind::kRefused:
      return "refused";
    case TOutcomeKind::kNoAnswer:
      return "no answer";
    case TOutcomeKind::kDamagedAnswer:
      return "damaged answer";
    case TOutcomeKind::kInvalidAnswer:
      return "invalid answer";
    case TOutcomeKind::kLineClosed:
      return "line closed";
    case TOutcomeKind::kNotLoaded:
      return "not loaded";
    case TOutcomeKind::kUnknownWhetherStored:
      return "unknown whether stored";
    case TOutcomeKind::kNotSent:
      return "nothing sent";
  }
  return "unknown";
}

std::string_view FieldKey(TSettingField field) {
  switch (field) {
    case TSettingField::kStaticBrightness:
      return "brightness";
    case TSettingField::kMinimumBrightness:
      return "min";
    case TSettingField::kMaximumBrightness:
      return "max";
    case TSettingField::kSensorGain:
      return "gain";
    case TSettingField::kTimeOffset:
      return "offset";
    case TSettingField::kZoneIndex:
      return "zone";
    case TSettingField::kDataExpiration:
      return "seconds";
    case TSettingField::kClockYear:
      return "year";
    case TSettingField::kSegmentCount:
      return "data bytes";
    case TSettingField::kAddress:
      return "address";
  }
  return "value";
}

std::string InvalidValueText(const TInvalidValue& invalid) {
  return std::string(FieldKey(invalid.field)) + " " + std::to_string(invalid.value) + " outside " +
         std::to_string(invalid.min) + ".." + std::to_string(invalid.max);
}

std::string TOutcome::Text(bool withStep) const {
  std::string text = withStep ? std::string(RuleOf(step).name) + TriesSuffix(tries) + ": " : "";
  switch (kind) {
    case TOutcomeKind::kDone:
      return text + "done";
    case TOutcomeKind::kRefused:
      return text + "acknowledge " + std::to_string(ack);
    case TOutcomeKind::kNoAnswer:
      return text + "no answer" +
             (reason.empty()          ? ""
              : reason.front() == '(' ? " " + reason
                                      : ": " + reason);
    case TOutcomeKind::kDamagedAnswer:
      return text + "damaged answer" + (reason.empty() ? "" : ": " + reason);
    case TOutcomeKind::kInvalidAnswer:
      return text + "invalid answer" + (invalid ? ": " + InvalidValueText(*invalid) : "") +
             (reason.empty() ? "" : ": " + reason);
    case TOutcomeKind::kLineClosed:
      return text + "no answer: the line was closed" + (reason.empty() ? "" : ": " + reason);
    case TOutcomeKind::kNotLoaded:
      return text + "not loaded from this display";
    case TOutcomeKind::kUnknownWhetherStored:
      return text + "unknown whether stored: " + (reason.empty() ? "no answer" : reason);
    case TOutcomeKind::kNotSent:
      return text + "nothing sent, " +
             (invalid ? InvalidValueText(*invalid) : "the operation refused its arguments");
  }
  return text;
}

TOutcome Done(TStep step, TByte address) {
  TOutcome outcome;
  outcome.step = step;
  outcome.address = address;
  return outcome;
}

TOutcome InvalidAnswer(TStep step, TByte address, const TInvalidValue& invalid) {
  TOutcome outcome = Done(step, address);
  outcome.kind = TOutcomeKind::kInvalidAnswer;
  outcome.invalid = invalid;
  return outcome;
}

TOutcome NothingSent(TStep step, TByte address, const TInvalidValue& invalid) {
  TOutcome outcome = InvalidAnswer(step, address, invalid);
  outcome.kind = TOutcomeKind::kNotSent;
  return outcome;
}

namespace {

bool LineClosed(IKorvelStackDevice& device) {
  const TRef<IKorvelStack> stack = device.GetStack();
  const TCiRef line = stack ? stack->GetCommunicationInterface() : TCiRef();
  return !line || line->IsLineClosed();
}

}  // namespace

TOutcome OutcomeOfLastRequest(IKorvelStackDevice& device, TStep step, int tries) {
  TOutcome outcome = Done(step, device.GetAddress());
  outcome.tries = tries;
  switch (device.GetLastResult()) {
    case kResultAnswered:
      // Acknowledge 0 and yet failed: data the operation could not decode.
      outcome.kind = TOutcomeKind::kInvalidAnswer;
      return outcome;
    case kResultNone:
      outcome.kind = TOutcomeKind::kNotSent;
      return outcome;
    case kResultErrorAck:
      outcome.kind = TOutcomeKind::kRefused;
      outcome.ack = device.GetLastAck();
      return outcome;
    case kResultInvalid:
      outcome.kind = TOutcomeKind::kInvalidAnswer;
      return outcome;
    default:
      break;
  }
  const bool damaged = device.GetLastResult() == kResultDamaged;
  const bool closed = !damaged && LineClosed(device);
  outcome.reason = device.GetLastMissReason();
  if (closed) {
    outcome.kind = TOutcomeKind::kLineClosed;
    constexpr std::string_view kClosed = "the line was closed";
    if (outcome.reason.starts_with(kClosed)) outcome.reason.erase(0, kClosed.size());
    if (outcome.reason.starts_with(": ")) outcome.reason.erase(0, 2);
  } else if (RuleOf(step).stores) {
    outcome.kind = TOutcomeKind::kUnknownWhetherStored;
    outcome.reason = LastResultText(device);
  } else {
    outcome.kind = damaged ? TOutcomeKind::kDamagedAnswer : TOutcomeKind::kNoAnswer;
  }
  return outcome;
}

TOutcome SendStep(IKorvelStackDevice& device, TStep step, int tries,
                  const std::function<bool()>& request) {
  const int allowed = RuleOf(step).repeatable ? std::max(tries, 1) : 1;
  for (int tried = 1;; ++tried) {
    // An operation that refuses its arguments sends nothing and so leaves no result of its own.
    device.ResetLastResult();
    if (request()) return Done(step, device.GetAddress());
    const TByte result = device.GetLastResult();
    const bool lost = result == kResultNoAnswer || result == kResultDamaged;
    if (tried >= allowed || !lost || LineClosed(device))
      return OutcomeOfLastRequest(device, step, tried);
  }
}

TOutcome SettleLostWrite(const TOutcome& written, const THolds& holds) {
  if (written.kind != TOutcomeKind::kUnknownWhetherStored) return written;
  const std::optional<bool> held = holds();
  if (!held) return written;  // the read failed too: nobody knows
  TOutcome settled = written;
  settled.kind = *held ? TOutcomeKind::kDone : TOutcomeKind::kNoAnswer;
  settled.reason = *held ? "" : "(read back: the display holds another value)";
  return settled;
}

TStepSender SenderFor(IKorvelStackDevice& device, int tries) {
  return [&device, tries](TStep step, const std::function<bool()>& request) {
    return SendStep(device, step, tries, request);
  };
}

}  // namespace zorvid
