#pragma once

// How a display operation or a procedure of several ended, said once for every program: what
// happened, at which step, for which address, with the transport's or the stack's own words.
// zorvidctl prints Text() and chooses its exit code by the kind; the window names the kind and
// the step in its language and shows the reason as the system gave it.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/Types.h"
#include "device/ZorvidRules.h"
#include "protocol/KorvelInterfaces.h"

namespace zorvid {

enum class TOutcomeKind {
  kDone,
  kRefused,               // the display answered with acknowledge N
  kNoAnswer,              // nothing came back in time
  kDamagedAnswer,         // the answer came damaged on the way
  kInvalidAnswer,         // a whole answer that breaks a rule or does not decode
  kLineClosed,            // the line closed under the request
  kNotLoaded,             // no values of this display to write back (the window's pages)
  kUnknownWhetherStored,  // a write whose answer was lost: the display may hold it or not
  kNotSent,               // the arguments break a rule: nothing went out
};

// The requests a procedure is made of. Each has a name for messages, says whether it changes
// the display and whether it may go out again after no answer or a damaged one: a repeat of a
// request that acts (shows information, moves the display) could act twice.
enum class TStep {
  kNone,
  kIdentify,
  kReadText,
  kReadSegments,
  kReadParams,
  kReadExpiration,
  kReadBrightness,
  kReadBrightnessAuto,
  kReadClock,
  kReadTemperature,
  kReadComm,
  kReadIdentifiers,
  kWriteText,
  kWriteSegments,
  kWriteParams,
  kWriteExpiration,
  kWriteBrightness,
  kWriteBrightnessAuto,
  kWriteClock,
  kShowInformation,
  kEnableConfiguration,
  kWriteComm,
  kAssignAddress,
  kRaw,
};

struct TStepRule {
  TStep step;
  std::string_view name;   // "read brightness"
  std::string_view group;  // the settings group or item it concerns ("brightness")
  bool stores;             // changes a setting the display keeps (a trigger stores nothing)
  bool repeatable;         // may go out again after no answer or a damaged one
};
const TStepRule& RuleOf(TStep step);

struct TOutcome {
  TOutcomeKind kind = TOutcomeKind::kDone;
  TStep step = TStep::kNone;
  TByte address = 0;
  std::int32_t ack = -1;                 // kRefused
  std::optional<TInvalidValue> invalid;  // kInvalidAnswer, kNotSent: the value a rule refused
  std::string reason;                    // the stack's or the transport's words, as they came
  int tries = 1;                         // how often the failed request went out

  bool Ok() const { return kind == TOutcomeKind::kDone; }
  // "read brightness in 2 tries: no answer: …", the step left out with `withStep` false.
  std::string Text(bool withStep = true) const;
};

// The English names of the kinds, as zorvidctl prints them and JSON carries them.
std::string_view KindName(TOutcomeKind kind);
// "brightness 200 outside 0..127" by zorvidctl's name for each field.
std::string InvalidValueText(const TInvalidValue& invalid);
std::string_view FieldKey(TSettingField field);

TOutcome Done(TStep step, TByte address);
// An answer that came whole but that a rule refuses.
TOutcome InvalidAnswer(TStep step, TByte address, const TInvalidValue& invalid);
// A request not sent because a rule refuses its value.
TOutcome NothingSent(TStep step, TByte address, const TInvalidValue& invalid);

// How the device's last request ended, as the outcome of `step`: a lost answer to a write is
// "unknown whether stored", whatever the line did is "line closed".
TOutcome OutcomeOfLastRequest(IKorvelStackDevice& device, TStep step, int tries = 1);

// The one retry rule: sends `request` (one request of `device`, true when it succeeded) up to
// `tries` times while the step is repeatable, no answer or a damaged one came and the line
// stays open. A refusal, a closed line or an invalid answer end it at once.
TOutcome SendStep(IKorvelStackDevice& device, TStep step, int tries,
                  const std::function<bool()>& request);

// A write whose answer was lost ("unknown whether stored") settled by reading the value back:
// `holds` says whether the display holds what was sent, or nothing when that read failed too.
// Held: done. Held otherwise: no answer, the write's request lost. Any other outcome stands.
using THolds = std::function<std::optional<bool>()>;
TOutcome SettleLostWrite(const TOutcome& written, const THolds& holds);
// What `holds` of a write is made of: `read` of the value through `send` as `step`, against
// what was sent.
template <class TValue, class TSend>
THolds ReadsBack(const TSend& send, TStep step, std::function<bool(TValue&)> read, TValue sent,
                 std::function<bool(const TValue&, const TValue&)> same = std::equal_to<TValue>()) {
  return
      [send, step, read = std::move(read), sent, same = std::move(same)]() -> std::optional<bool> {
        TValue held{};
        if (!send(step, [&] { return read(held); }).Ok()) return std::nullopt;
        return same(held, sent);
      };
}

// Sends the requests of a procedure; what SendStep does for one. zorvidctl tries a repeatable
// step 1 + --retries times, the window once.
using TStepSender = std::function<TOutcome(TStep step, const std::function<bool()>& request)>;
TStepSender SenderFor(IKorvelStackDevice& device, int tries);

}  // namespace zorvid
