#include "tools/ctl/CtlCommands.h"

#include <array>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "core/NumberText.h"
#include "device/ZorvidCodec.h"
#include "protocol/Korvel97.h"
#include "tools/ctl/CtlText.h"

namespace zorvid::ctl {
namespace {

// ---- Reporting ---------------------------------------------------------------------------

[[noreturn]] void Refuse(const std::string& message) {
  throw TUsageError(message);
}

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// A long argument quoted by its start only, so a refusal stays one readable line.
std::string QuotedStart(std::string_view text) {
  constexpr std::size_t kShown = 40;
  if (text.size() <= kShown) return Quoted(text);
  return Quoted(std::string(text.substr(0, kShown)) + "...") + " (" + std::to_string(text.size()) +
         " characters)";
}

std::string RangeText(std::int64_t min, std::int64_t max) {
  return "(" + std::to_string(min) + ".." + std::to_string(max) + ")";
}

bool FitsInt32(std::int64_t value) {
  return value >= std::numeric_limits<std::int32_t>::min() &&
         value <= std::numeric_limits<std::int32_t>::max();
}

// A whole number in the tools' syntax that fits 32 bits, or a refusal naming `what` and the
// text. A wider value is refused rather than narrowed, which could wrap it into range.
std::int32_t Number(std::string_view what, std::string_view text) {
  const std::optional<std::int64_t> value = ParseInteger(text);
  if (!value || !FitsInt32(*value)) Refuse("invalid " + std::string(what) + ": " + Quoted(text));
  return static_cast<std::int32_t>(*value);
}

std::int32_t NumberInRange(std::string_view what, std::string_view text, std::int64_t min,
                           std::int64_t max) {
  const std::int32_t value = Number(what, text);
  if (value < min || value > max)
    Refuse(std::string(what) + " out of range " + RangeText(min, max) + ": " + std::string(text));
  return value;
}

// ---- Options -----------------------------------------------------------------------------

struct TOptionSpec {
  char shortName;  // 0: long form only
  std::string_view longName;
  std::string_view valueName;  // empty: a switch without value
  std::string_view help;
  void (*apply)(TCtlInvocation& invocation, std::string_view value);
};

constexpr std::array<TOptionSpec, 7> kOptions{{
    {'c', "connection", "STRING",
     "connection string (default provider=TCP_CLIENT;host=127.0.0.1;port=10001)",
     [](TCtlInvocation& invocation, std::string_view value) {
       invocation.options.connection = value;
     }},
    {'a', "address", "N", "device address 0..255, decimal or 0x-prefixed hex (default 49)",
     [](TCtlInvocation& invocation, std::string_view value) {
       invocation.options.address = static_cast<TByte>(NumberInRange("address", value, 0, 255));
     }},
    {'t', "timeout", "MS", "answer timeout in milliseconds (default 1000)",
     [](TCtlInvocation& invocation, std::string_view value) {
       invocation.options.timeoutMs = NumberInRange("timeout", value, 1, kMaxTimeoutMs);
     }},
    {0, "json", "", "print the result as one JSON object instead of text",
     [](TCtlInvocation& invocation, std::string_view) { invocation.options.json = true; }},
    {0, "trace", "",
     "print every packet to stderr: \"> \" + hex for sent, \"< \" + hex for received",
     [](TCtlInvocation& invocation, std::string_view) { invocation.options.trace = true; }},
    {'h', "help", "", "print this help and exit",
     [](TCtlInvocation& invocation, std::string_view) { invocation.request = TCtlRequest::kHelp; }},
    {0, "version", "", "print the version and exit",
     [](TCtlInvocation& invocation, std::string_view) {
       invocation.request = TCtlRequest::kVersion;
     }},
}};

// The option that `arg` names ("-c", "--connection" or "--connection=..."), with the value
// that came inside it after "=".
const TOptionSpec* FindOption(std::string_view arg, std::optional<std::string_view>& inlineValue) {
  for (const TOptionSpec& option : kOptions) {
    if (option.shortName != 0 && arg.size() == 2 && arg[1] == option.shortName) return &option;
    if (!arg.starts_with("--")) continue;
    const std::string_view rest = arg.substr(2);
    if (rest == option.longName) return &option;
    if (rest.starts_with(option.longName) && rest.size() > option.longName.size() &&
        rest[option.longName.size()] == '=') {
      inlineValue = rest.substr(option.longName.size() + 1);
      return &option;
    }
  }
  return nullptr;
}

bool IsOption(std::string_view arg) {
  return arg.size() > 1 && arg.starts_with('-');
}

// Applies the options in front of the command; returns the index of the command.
std::size_t ParseOptions(const std::vector<std::string>& args, TCtlInvocation& invocation) {
  std::size_t i = 0;
  while (i < args.size() && IsOption(args[i])) {
    if (args[i] == "--") return i + 1;
    std::optional<std::string_view> value;
    const TOptionSpec* option = FindOption(args[i], value);
    if (!option) Refuse("unknown option: " + Quoted(args[i]));
    if (option->valueName.empty() && value) Refuse("option takes no value: " + Quoted(args[i]));
    if (!option->valueName.empty() && !value) {
      if (i + 1 >= args.size()) Refuse("option needs a value: " + Quoted(args[i]));
      value = args[++i];
    }
    option->apply(invocation, value.value_or(""));
    ++i;
    if (invocation.request != TCtlRequest::kRun) break;
  }
  return i;
}

// ---- Date-time parameters ----------------------------------------------------------------

// One key of "get params" / "set params": a flag or a number of TDateTimeParams.
struct TParamKey {
  std::string_view key;
  bool TDateTimeParams::*flag;
  std::int32_t TDateTimeParams::*number;
  std::int32_t min, max;  // the numbers' range, for messages; the codec checks it
};

constexpr std::array<TParamKey, 11> kParamKeys{{
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

std::string ParamKeyList() {
  std::vector<std::string_view> keys;
  for (const TParamKey& key : kParamKeys)
    keys.push_back(key.key);
  return JoinWords(keys, ", ");
}

// The keys with their values: the flags together, then each number with its range.
std::string ParamKeyHelp() {
  std::vector<std::string> flags, numbers;
  for (const TParamKey& key : kParamKeys) {
    if (key.flag)
      flags.emplace_back(key.key);
    else
      numbers.push_back(std::string(key.key) + " " + RangeText(key.min, key.max));
  }
  return "  " + JoinWords(flags, ", ") + " (0 or 1),\n  " + JoinWords(numbers, ", ") + "\n";
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
           std::string(text));
  return change;
}

// ---- Commands ----------------------------------------------------------------------------

struct TCommandSpec;

// No upper limit on the number of arguments.
constexpr std::size_t kAnyCount = std::numeric_limits<std::size_t>::max();

struct TCommandArgs {
  const TCommandSpec& command;
  std::vector<std::string> values;
};

struct TCommandSpec {
  std::string_view verb;       // "get"
  std::string_view item;       // "text"; empty for commands of one word
  std::string_view arguments;  // usage of the arguments ("TEXT")
  std::string_view help;
  TCtlAction (*prepare)(const TCommandArgs& args);

  std::string Name() const {
    return item.empty() ? std::string(verb) : std::string(verb) + " " + std::string(item);
  }
};

void ExpectCount(const TCommandArgs& args, std::size_t min, std::size_t max) {
  if (args.values.size() >= min && args.values.size() <= max) return;
  std::string usage = "usage: zorvidctl " + args.command.Name();
  if (!args.command.arguments.empty()) usage += " " + std::string(args.command.arguments);
  Refuse(usage + " (given: " + Quoted(JoinWords(args.values)) + ")");
}

TCtlResult Bare(TCtlField field) {
  return {TLayout::kBare, {std::move(field)}};
}

// Commands without arguments: the action is a plain function.
template <auto Run>
TCtlAction WithoutArguments(const TCommandArgs& args) {
  ExpectCount(args, 0, 0);
  return Run;
}

// The text the connection read already: the identification goes out once per run.
bool RunIdent(TZorvid& device, TCtlResult& result) {
  result = Bare(TextField("ident", device.GetIdentificationText()));
  return true;
}

bool RunGetText(IZorvid& device, TCtlResult& result) {
  std::string text;
  if (!device.GetDisplayChars(text)) return false;
  result = Bare(TextField("text", text));
  return true;
}

bool RunGetData(IZorvid& device, TCtlResult& result) {
  TByteString data;
  if (!device.GetDisplayData(data)) return false;
  result = Bare(HexSpacedField("data", data));
  return true;
}

bool RunGetExpiration(IZorvid& device, TCtlResult& result) {
  TDataExpiration expiration;
  if (!device.GetDisplayDataExpiration(expiration)) return false;
  result = {
      TLayout::kInline,
      {IntegerField("seconds", expiration.seconds), IntegerField("second", expiration.second)}};
  return true;
}

bool RunGetBrightness(IZorvid& device, TCtlResult& result) {
  std::int32_t value = 0;
  if (!device.GetDisplayBrightness(value)) return false;
  result = Bare(IntegerField("brightness", value));
  return true;
}

bool RunGetBrightnessAuto(IZorvid& device, TCtlResult& result) {
  TBrightnessAuto s;
  if (!device.GetDisplayBrightnessAuto(s)) return false;
  result = {TLayout::kInline,
            {OnOffField("auto", s.automatic), IntegerField("min", s.min),
             IntegerField("max", s.max), IntegerField("gain", s.gain)}};
  return true;
}

bool RunGetClock(IZorvid& device, TCtlResult& result) {
  TDateTime clock = 0;
  if (!device.GetDateTime(clock)) return false;
  result = Bare(TextField("clock", FormatClock(clock)));
  return true;
}

bool RunGetParams(IZorvid& device, TCtlResult& result) {
  TDateTimeParams params;
  if (!device.GetDateTimeParams(params)) return false;
  result = {TLayout::kLines, {}};
  for (const TParamKey& key : kParamKeys) {
    result.fields.push_back(key.flag ? BitField(std::string(key.key), params.*(key.flag))
                                     : IntegerField(std::string(key.key), params.*(key.number)));
  }
  return true;
}

bool RunGetTemperature(IZorvid& device, TCtlResult& result) {
  double degrees = 0;
  if (!device.GetTemperature(degrees)) return false;
  result = Bare(TenthsField("temperature", degrees));
  return true;
}

bool RunShowInfo(IZorvid& device, TCtlResult&) {
  return device.ShowActualInformation();
}

TCtlAction PrepareSetText(const TCommandArgs& args) {
  ExpectCount(args, 1, 1);
  std::string text = args.values.front();
  if (!IsValidDisplayText(text)) Refuse("invalid display text: " + Quoted(text));
  return [text](IZorvid& device, TCtlResult&) { return device.SetDisplayChars(text); };
}

TCtlAction PrepareSetData(const TCommandArgs& args) {
  ExpectCount(args, 1, kAnyCount);
  const std::string given = JoinWords(args.values);
  const auto data = ParseHex(given);
  if (!data) Refuse("invalid hex data: " + QuotedStart(given));
  if (!PackDisplayData(*data))
    Refuse("display data needs exactly " + std::to_string(kZorvidPositions) + " bytes, got " +
           std::to_string(data->size()) + ": " + Quoted(given));
  return [bytes = *data](IZorvid& device, TCtlResult&) { return device.SetDisplayData(bytes); };
}

TCtlAction PrepareSetExpiration(const TCommandArgs& args) {
  ExpectCount(args, 1, 1);
  const std::int32_t seconds = Number("expiration", args.values.front());
  if (!PackDataExpiration(seconds))
    Refuse("expiration out of range " + RangeText(0, kExpirationMax) + ": " + args.values.front());
  return
      [seconds](IZorvid& device, TCtlResult&) { return device.SetDisplayDataExpiration(seconds); };
}

TCtlAction PrepareSetBrightness(const TCommandArgs& args) {
  ExpectCount(args, 1, 1);
  const std::int32_t value = Number("brightness", args.values.front());
  if (!PackBrightness(value))
    Refuse("brightness out of range " + RangeText(0, kBrightnessMax) + ": " + args.values.front());
  return [value](IZorvid& device, TCtlResult&) { return device.SetDisplayBrightness(value); };
}

bool OnOff(std::string_view what, std::string_view text) {
  if (text != "on" && text != "off")
    Refuse(std::string(what) + " must be on or off: " + Quoted(text));
  return text == "on";
}

TCtlAction PrepareSetBrightnessAuto(const TCommandArgs& args) {
  ExpectCount(args, 4, 4);
  const TBrightnessAuto s{OnOff("brightness-auto", args.values[0]), Number("min", args.values[1]),
                          Number("max", args.values[2]), Number("gain", args.values[3])};
  if (!PackBrightnessAuto(s))
    Refuse("brightness-auto out of range (min and max " +
           RangeText(kBrightnessAutoMin, kBrightnessAutoMax) + ", gain " +
           RangeText(0, kBrightnessGainMax) + "): min=" + args.values[1] +
           " max=" + args.values[2] + " gain=" + args.values[3]);
  return [s](IZorvid& device, TCtlResult&) { return device.SetDisplayBrightnessAuto(s); };
}

TCtlAction PrepareSetClock(const TCommandArgs& args) {
  ExpectCount(args, 1, 2);
  const std::string given = JoinWords(args.values);
  if (given == "now") return [](IZorvid& device, TCtlResult&) { return device.SetDateTime(Now()); };
  const auto clock = ParseClock(given);
  if (!clock) Refuse("invalid clock (expected \"YYYY-MM-DD HH:MM:SS\" or now): " + Quoted(given));
  if (!PackDateTime(*clock))
    Refuse("clock year out of range " + RangeText(kDisplayYearFirst, kDisplayYearLast) +
           ", the years the display holds: " + Quoted(given));
  return [value = *clock](IZorvid& device, TCtlResult&) { return device.SetDateTime(value); };
}

TCtlAction PrepareSetParams(const TCommandArgs& args) {
  ExpectCount(args, 1, kAnyCount);
  std::vector<TParamChange> changes;
  for (const std::string& assignment : args.values)
    changes.push_back(ParseParamChange(assignment));
  return [changes](IZorvid& device, TCtlResult&) {
    TDateTimeParams params;
    if (!device.GetDateTimeParams(params)) return false;
    for (const TParamChange& change : changes)
      ApplyParamChange(params, change);
    return device.SetDateTimeParams(params);
  };
}

TCtlAction PrepareRaw(const TCommandArgs& args) {
  ExpectCount(args, 1, kAnyCount);
  const auto inst = static_cast<TByte>(NumberInRange("instruction", args.values.front(), 0, 255));
  const std::vector<std::string> hexWords(args.values.begin() + 1, args.values.end());
  const std::string given = JoinWords(hexWords);
  const auto data = ParseHex(given);
  if (!data) Refuse("invalid hex data: " + QuotedStart(given));
  if (data->size() > kPacket97MaxData)
    Refuse("raw data too long: " + std::to_string(data->size()) +
           " bytes, a packet carries at most " + std::to_string(kPacket97MaxData) + ": " +
           QuotedStart(given));
  return [inst, bytes = *data](IZorvid& device, TCtlResult& result) {
    std::int32_t ack = -1;
    TByteString answer;
    if (!device.Query(inst, bytes, -1, ack, answer)) return false;
    result = {TLayout::kInline, {HexByteField("ack", ack), HexPackedField("data", answer)}};
    return true;
  };
}

constexpr std::array<TCommandSpec, 18> kCommands{{
    {"ident", "", "", "prints the identification text", WithoutArguments<RunIdent>},
    {"get", "text", "", "prints the displayed characters as the display answers them",
     WithoutArguments<RunGetText>},
    {"get", "data", "", "prints the segment bytes as hex pairs (\"03 3F 06 5B 4F\")",
     WithoutArguments<RunGetData>},
    {"get", "expiration", "", "prints \"seconds=N second=M\" (seconds 0: the data stays)",
     WithoutArguments<RunGetExpiration>},
    {"get", "brightness", "", "prints the static brightness \"N\"",
     WithoutArguments<RunGetBrightness>},
    {"get", "brightness-auto", "", "prints \"auto=on|off min=N max=N gain=N\"",
     WithoutArguments<RunGetBrightnessAuto>},
    {"get", "clock", "", "prints the display's clock \"YYYY-MM-DD HH:MM:SS\"",
     WithoutArguments<RunGetClock>},
    {"get", "params", "", "prints one KEY=VALUE line per date-time parameter (keys below)",
     WithoutArguments<RunGetParams>},
    {"get", "temperature", "", "prints degrees with one decimal place (\"23.5\")",
     WithoutArguments<RunGetTemperature>},
    {"set", "text", "TEXT", "shows TEXT: up to 5 of 0-9 a-z A-Z space -, one \".\", final \":\"",
     PrepareSetText},
    {"set", "data", "HEX", "shows exactly 5 segment bytes", PrepareSetData},
    {"set", "expiration", "SECONDS", "how long pushed data stays, 0..65535 (0: for good)",
     PrepareSetExpiration},
    {"set", "brightness", "N", "static brightness 0..127", PrepareSetBrightness},
    {"set", "brightness-auto", "on|off MIN MAX GAIN",
     "automatic brightness, MIN and MAX 6..36, GAIN 0..100", PrepareSetBrightnessAuto},
    {"set", "clock", "\"YYYY-MM-DD HH:MM:SS\"|now", "sets the display's clock", PrepareSetClock},
    {"set", "params", "KEY=VALUE...",
     "changes the given keys; the others keep the display's values", PrepareSetParams},
    {"show-info", "", "", "makes the display show its current information",
     WithoutArguments<RunShowInfo>},
    {"raw", "", "INST [HEX]", "sends any instruction, prints \"ack=NN data=HEX\"", PrepareRaw},
}};

bool Matches(const TCommandSpec& command, const std::vector<std::string>& args, std::size_t at) {
  if (args[at] != command.verb) return false;
  return command.item.empty() || (at + 1 < args.size() && args[at + 1] == command.item);
}

std::string ItemsOf(std::string_view verb) {
  std::vector<std::string_view> items;
  for (const TCommandSpec& command : kCommands)
    if (command.verb == verb) items.push_back(command.item);
  return JoinWords(items, ", ");
}

[[noreturn]] void RefuseCommand(const std::vector<std::string>& args, std::size_t at) {
  const std::string items = ItemsOf(args[at]);
  if (items.empty()) Refuse("unknown command: " + Quoted(args[at]));
  const std::string item = at + 1 < args.size() ? args[at + 1] : "";
  Refuse("unknown item for " + args[at] + ": " + Quoted(item) + " (one of: " + items + ")");
}

const TCommandSpec& FindCommand(const std::vector<std::string>& args, std::size_t at) {
  for (const TCommandSpec& command : kCommands)
    if (Matches(command, args, at)) return command;
  RefuseCommand(args, at);
}

std::string PaddedTo(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text + " ";
}

std::string OptionHelpLine(const TOptionSpec& option) {
  std::string names = option.shortName ? std::string("-") + option.shortName + ", " : "    ";
  names += "--" + std::string(option.longName);
  if (!option.valueName.empty()) names += " " + std::string(option.valueName);
  return "  " + PaddedTo(names, 24) + std::string(option.help) + "\n";
}

std::string CommandHelpLine(const TCommandSpec& command) {
  std::string usage = command.Name();
  if (!command.arguments.empty()) usage += " " + std::string(command.arguments);
  if (usage.size() > 34)
    return "  " + usage + "\n  " + PaddedTo("", 34) + std::string(command.help) + "\n";
  return "  " + PaddedTo(usage, 34) + std::string(command.help) + "\n";
}

}  // namespace

void ParseCtlArguments(const std::vector<std::string>& args, TCtlInvocation& invocation) {
  const std::size_t at = ParseOptions(args, invocation);
  if (invocation.request != TCtlRequest::kRun) return;
  if (at >= args.size()) Refuse("no command given");
  const TCommandSpec& command = FindCommand(args, at);
  const std::size_t first = at + (command.item.empty() ? 1 : 2);
  const TCommandArgs commandArgs{command,
                                 {args.begin() + static_cast<std::ptrdiff_t>(first), args.end()}};
  invocation.command = command.Name();
  invocation.line = JoinWords(
      std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(at), args.end()));
  invocation.action = command.prepare(commandArgs);
}

std::string CtlHelpText() {
  std::string text =
      "Usage: zorvidctl [OPTIONS] COMMAND [ARGS...]\n"
      "Reads or changes one setting of a Zorvid display per run.\n"
      "\nOptions (only before COMMAND; everything after it is an argument):\n";
  for (const TOptionSpec& option : kOptions)
    text += OptionHelpLine(option);
  text += "\nCommands:\n";
  for (const TCommandSpec& command : kCommands)
    text += CommandHelpLine(command);
  text += "\nParams keys, in the order that get params prints them:\n" + ParamKeyHelp();
  text +=
      "HEX: hex digit pairs, spaces optional (\"03 3F 06 5B 4F\" or 033F065B4F).\n"
      "INST and N may be decimal or 0x-prefixed hex. \"set\" commands print nothing.\n"
      "\nBefore the command it connects: creates the transport from the connection string,\n"
      "opens it, and reads the display's identification.\n"
      "With --json the result (or the failure) is one JSON object on stdout.\n"
      "\nExit codes:\n"
      "  0  success\n"
      "  1  the device operation failed (stderr says why: no answer, invalid answer,\n"
      "     acknowledge N)\n"
      "  2  bad usage, an argument out of range or an invalid display text (nothing is sent)\n"
      "  3  connection failed (transport not created or not opened, no identification, or the\n"
      "     line closed during the command)\n";
  return text;
}

}  // namespace zorvid::ctl
