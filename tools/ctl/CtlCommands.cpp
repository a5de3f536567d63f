#include "tools/ctl/CtlCommands.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "core/EchoText.h"
#include "device/ZorvidCodec.h"
#include "link/DisplayConnection.h"
#include "link/DisplayScan.h"
#include "link/Outcome.h"
#include "link/SettingsSnapshot.h"
#include "protocol/KorvelStackDevice.h"
#include "tools/ctl/CtlArguments.h"
#include "tools/ctl/CtlCommandTable.h"
#include "tools/ctl/CtlSettings.h"

namespace zorvid::ctl {
namespace {

// ---- Options -----------------------------------------------------------------------------

struct TCtlOption {
  QCommandLineOption option;
  void (*apply)(TCtlInvocation& invocation, const std::string& value);
  bool IsSwitch() const { return option.valueName().isEmpty(); }
};

std::vector<TCtlOption> CtlOptions() {
  return {
      {QCommandLineOption(QStringList{"c", "connection"},
                          "connection string (default " + FromUtf8(kDefaultConnection) + ")",
                          "STRING"),
       [](TCtlInvocation& invocation, const std::string& value) {
         invocation.options.connection = value;
       }},
      {QCommandLineOption(QStringList{"a", "address"},
                          "display address 0.." + QString::number(kHighestDisplayAddress) +
                              ", decimal or 0x-prefixed hex (default " +
                              FromUtf8(AddressText(kZorvidDefaultAddress)) + ")",
                          "N"),
       [](TCtlInvocation& invocation, const std::string& value) {
         invocation.options.address = Address(value);
       }},
      {QCommandLineOption(
           QStringList{"t", "timeout"},
           "answer timeout in milliseconds (default " + QString::number(kDefaultTimeoutMs) + ")",
           "MS"),
       [](TCtlInvocation& invocation, const std::string& value) {
         invocation.options.timeoutMs = NumberInRange("timeout", value, 1, kMaxTimeoutMs);
       }},
      {QCommandLineOption("retries",
                          "more tries, each with the timeout, for a request that got no answer "
                          "(0.." +
                              QString::number(kMaxRetries) + ", default 0; see below)",
                          "N"),
       [](TCtlInvocation& invocation, const std::string& value) {
         invocation.options.retries = NumberInRange("retries", value, 0, kMaxRetries);
       }},
      {QCommandLineOption("json", "print the result as one JSON object instead of text"),
       [](TCtlInvocation& invocation, const std::string&) { invocation.options.json = true; }},
      {QCommandLineOption(
           "trace",
           "print every packet to stderr: \"> \" + hex for sent, \"< \" + hex for received"),
       [](TCtlInvocation& invocation, const std::string&) { invocation.options.trace = true; }},
      {QCommandLineOption("pcap",
                          "write every packet, and the bytes that are none, to FILE as a pcapng "
                          "capture for Wireshark (see below)",
                          "FILE"),
       [](TCtlInvocation& invocation, const std::string& value) {
         invocation.options.pcap = value;
       }},
      {QCommandLineOption(QStringList{"h", "help"}, "print this help and exit"),
       [](TCtlInvocation& invocation, const std::string&) {
         invocation.request = TCtlRequest::kHelp;
       }},
      {QCommandLineOption("version", "print the version and exit"),
       [](TCtlInvocation& invocation, const std::string&) {
         invocation.request = TCtlRequest::kVersion;
       }},
  };
}

// Options only before the command: from the first positional argument on, everything is one.
void SetUpParser(QCommandLineParser& parser, const std::vector<TCtlOption>& options) {
  parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
  parser.setApplicationDescription(
      "Reads or changes one setting of a Zorvid display per run.\n"
      "Options come only before COMMAND; everything after it is an argument.");
  for (const TCtlOption& option : options)
    parser.addOption(option.option);
}

// The options of one kind that the command line gave, in the table's order.
void ApplyOptions(const QCommandLineParser& parser, const std::vector<TCtlOption>& options,
                  bool switches, TCtlInvocation& invocation) {
  for (const TCtlOption& option : options)
    if (option.IsSwitch() == switches && parser.isSet(option.option))
      option.apply(invocation, parser.value(option.option).toStdString());
}

QStringList ProgramArguments(const std::vector<std::string>& args) {
  QStringList arguments{"zorvidctl"};
  for (const std::string& arg : args)
    arguments << FromUtf8(arg);
  return arguments;
}

// ---- Commands ----------------------------------------------------------------------------

// Commands without arguments: the action is a plain function.
template <auto Run>
TCtlAction WithoutArguments(const TCommandArgs& args) {
  ExpectCount(args, 0, 0);
  return {{args.command.step, Run}};
}

constexpr std::array<TCommandSpec, 27> kCommands{{
    {"ident", "", "", "prints the identification text", WithoutArguments<RunIdent>,
     TStep::kIdentify},
    {"get", "text", "", "prints the displayed characters as the display answers them",
     WithoutArguments<RunGetText>, TStep::kReadText},
    {"get", "data", "", "prints the segment bytes as hex pairs (\"03 3F 06 5B 4F\")",
     WithoutArguments<RunGetData>, TStep::kReadSegments},
    {"get", "expiration", "", "prints \"seconds=N second=M\" (seconds 0: the data stays)",
     WithoutArguments<RunGetExpiration>, TStep::kReadExpiration},
    {"get", "brightness", "", "prints the static brightness \"N\"",
     WithoutArguments<RunGetBrightness>, TStep::kReadBrightness},
    {"get", "brightness-auto", "", "prints \"auto=on|off min=N max=N gain=N\"",
     WithoutArguments<RunGetBrightnessAuto>, TStep::kReadBrightnessAuto},
    {"get", "clock", "", "prints the display's clock \"YYYY-MM-DD HH:MM:SS\"",
     WithoutArguments<RunGetClock>, TStep::kReadClock},
    {"get", "params", "", "prints one KEY=VALUE line per date-time parameter (keys below)",
     WithoutArguments<RunGetParams>, TStep::kReadParams},
    {"get", "temperature", "", "prints degrees with one decimal place (\"23.5\")",
     WithoutArguments<RunGetTemperature>, TStep::kReadTemperature},
    {"get", "all", "", "prints every setting, one KEY=VALUE line each (settings file keys)",
     PrepareGetAll, TStep::kNone},
    {"set", "text", "TEXT", "shows TEXT: up to 5 of 0-9 a-z A-Z space -, one \".\", final \":\"",
     PrepareSetText, TStep::kWriteText},
    {"set", "data", "HEX", "shows exactly 5 segment bytes", PrepareSetData, TStep::kWriteSegments},
    {"set", "expiration", "SECONDS", "how long pushed data stays, 0..65535 (0: for good)",
     PrepareSetExpiration, TStep::kWriteExpiration},
    {"set", "brightness", "N", "static brightness 0..127", PrepareSetBrightness,
     TStep::kWriteBrightness},
    {"set", "brightness-auto", "on|off MIN MAX GAIN",
     "automatic brightness, MIN and MAX 6..36 (MIN not above MAX), GAIN 0..100",
     PrepareSetBrightnessAuto, TStep::kWriteBrightnessAuto},
    {"set", "clock", "\"YYYY-MM-DD HH:MM:SS\"|now", "sets the display's clock", PrepareSetClock,
     TStep::kWriteClock},
    {"set", "params", "KEY=VALUE...",
     "changes the given keys; the others keep the display's values", PrepareSetParams,
     TStep::kWriteParams},
    {"show-info", "", "", "makes the display show its current information",
     WithoutArguments<RunShowInfo>, TStep::kShowInformation},
    {"backup", "", "[FILE]", "saves every setting to FILE (without FILE: prints it)", PrepareBackup,
     TStep::kNone},
    {"diff", "", "FILE", "prints \"KEY file=V display=W\" per differing key; exit 1 if any",
     PrepareDiff, TStep::kNone},
    {"restore", "", "[--dry-run] FILE",
     "writes what differs from FILE, reads it back, prints \"KEY from=V to=W\"", PrepareRestore,
     TStep::kNone},
    {"raw", "", "INST [HEX]", "sends any instruction, prints \"ack=NN data=HEX\"", PrepareRaw,
     TStep::kRaw},
    {"get", "comm", "", "prints the address and line speed \"address=0x31 baud=9600\"",
     WithoutArguments<RunGetComm>, TStep::kReadComm},
    {"set", "comm", "ADDRESS BAUD",
     "gives the display a new address and speed (see below); it answers there from then on",
     PrepareSetComm, TStep::kWriteComm},
    {"ids", "", "", "prints the identifiers \"word1=N word2=N value=N\"", WithoutArguments<RunIds>,
     TStep::kReadIdentifiers},
    {"assign-address", "", "WORD1 WORD2 ADDRESS",
     "gives ADDRESS to the display with these identifiers, wherever it is", PrepareAssignAddress,
     TStep::kAssignAddress, TLineUse::kOpened},
    {"scan", "", "[--from N] [--to N] [--bauds B,...]",
     "prints \"ADDRESS BAUD IDENT\" per display on the line; exit 1 if none", nullptr, TStep::kNone,
     TLineUse::kScan},
}};

bool Matches(const TCommandSpec& command, const QStringList& words) {
  if (words[0] != FromUtf8(command.verb)) return false;
  return command.item.empty() || (words.size() > 1 && words[1] == FromUtf8(command.item));
}

std::string ItemsOf(const QString& verb) {
  QStringList items;
  for (const TCommandSpec& command : kCommands)
    if (FromUtf8(command.verb) == verb) items << FromUtf8(command.item);
  return items.join(", ").toStdString();
}

[[noreturn]] void RefuseCommand(const QStringList& words) {
  const std::string verb = words[0].toStdString();
  const std::string items = ItemsOf(words[0]);
  if (items.empty()) Refuse("unknown command: " + Quoted(verb));
  const std::string item = words.size() > 1 ? words[1].toStdString() : "";
  Refuse("unknown item for " + verb + ": " + Quoted(item) + " (one of: " + items + ")");
}

// The command that the first words name.
const TCommandSpec& FindCommand(const QStringList& words) {
  for (const TCommandSpec& command : kCommands)
    if (Matches(command, words)) return command;
  RefuseCommand(words);
}

// ---- Help --------------------------------------------------------------------------------

// The keys with their values: the flags together, then each number with its range.
std::string ParamKeyHelp() {
  QStringList flags, numbers;
  for (const TParamKey& key : kParamKeys) {
    if (key.flag)
      flags << FromUtf8(key.key);
    else
      numbers << FromUtf8(std::string(key.key) + " " + RangeText(key.min, key.max));
  }
  return ("  " + flags.join(", ") + " (0 or 1),\n  " + numbers.join(", ") + "\n").toStdString();
}

// What --retries repeats, with the commands whose requests go out once whatever it says.
std::string RetriesHelp() {
  QStringList once;
  for (const TCommandSpec& command : kCommands)
    // A procedure of several requests (kNone) repeats each as that request's rule allows.
    if (command.step != TStep::kNone && !RuleOf(command.step).repeatable)
      once << FromUtf8(command.Name());
  const QString last = once.takeLast();
  return "With --retries N the identification and each request of a command go out up to N\n"
         "more times while no answer (nothing within the timeout) or a damaged answer comes; the\n"
         "outcomes refused (an acknowledge other than 0) and line closed end the command at\n"
         "once. " +
         (once.join(", ") + " and " + last).toStdString() +
         " always go out once: a repeat could act twice.\n";
}

std::string PaddedTo(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text + " ";
}

std::string CommandHelpLine(const TCommandSpec& command) {
  std::string usage = command.Name();
  if (!command.arguments.empty()) usage += " " + std::string(command.arguments);
  if (usage.size() > 34)
    return "  " + usage + "\n  " + PaddedTo("", 34) + std::string(command.help) + "\n";
  return "  " + PaddedTo(usage, 34) + std::string(command.help) + "\n";
}

}  // namespace

void ExpectCount(const TCommandArgs& args, std::size_t min, std::size_t max) {
  if (args.Count() >= min && args.Count() <= max) return;
  std::string usage = "usage: zorvidctl " + args.command.Name();
  if (!args.command.arguments.empty()) usage += " " + std::string(args.command.arguments);
  Refuse(usage + " (given: " + Quoted(args.Joined()) + ")");
}

void ParseCtlArguments(const std::vector<std::string>& args, TCtlInvocation& invocation) {
  const std::vector<TCtlOption> options = CtlOptions();
  QCommandLineParser parser;
  SetUpParser(parser, options);
  const bool parsed = parser.parse(ProgramArguments(args));
  // The switches first: --json shapes the report of any refusal, the parser's own included.
  ApplyOptions(parser, options, true, invocation);
  if (!parsed) Refuse(ParserError(parser));
  if (invocation.request != TCtlRequest::kRun) return;
  ApplyOptions(parser, options, false, invocation);
  const QStringList words = parser.positionalArguments();
  if (words.isEmpty()) Refuse("no command given");
  const TCommandSpec& command = FindCommand(words);
  invocation.command = command.Name();
  invocation.line = words.join(' ').toStdString();
  invocation.requestTries = 1 + invocation.options.retries;
  invocation.identify = command.line == TLineUse::kIdentified;
  const TCommandArgs commandArgs{command, words.mid(command.item.empty() ? 1 : 2),
                                 invocation.options, invocation.requestTries};
  if (command.line == TLineUse::kScan)
    invocation.scan = ParseScan(commandArgs);
  else
    invocation.action = command.prepare(commandArgs);
}

std::string CtlHelpText() {
  QCommandLineParser parser;
  SetUpParser(parser, CtlOptions());
  // The parser's first line names the executable as it was started; the rest is its own.
  std::string text = "Usage: zorvidctl [OPTIONS] COMMAND [ARGS...]\n" +
                     parser.helpText().section('\n', 1).toStdString();
  text += "\nCommands:\n";
  for (const TCommandSpec& command : kCommands)
    text += CommandHelpLine(command);
  text += "\nParams keys, in the order that get params prints them:\n" + ParamKeyHelp();
  text +=
      "HEX: hex digit pairs, spaces optional (\"03 3F 06 5B 4F\" or 033F065B4F).\n"
      "INST and N may be decimal or 0x-prefixed hex; a sign only below zero (no \"-0\").\n"
      "\"set\" commands print nothing. Text from the display (ident, get text) is printed as\n"
      "UTF-8 with control characters, backslashes and bytes that are not UTF-8 as \\xNN.\n"
      "\nThe settings file (backup, diff, restore) is JSON of format \"zorvid-settings\" with\n"
      "the date-time parameters, the data expiry, the static brightness and, on a display that\n"
      "has it, the automatic brightness. restore writes each differing group whole (params,\n"
      "expiration, brightness, brightness-auto), then reads everything back; a value read back\n"
      "other than written fails it (exit 1). A display without automatic brightness skips it\n"
      "(\"skipped brightness-auto\"). A file that is not whole and valid is refused:\n"
      "nothing sent (exit 2).\n"
      "\nBefore the command it connects: creates the transport from the connection string,\n"
      "opens it, and reads the display's identification. An answer is checked before it is\n"
      "printed: a value the matching set command would refuse is an invalid answer.\n"
      "assign-address only opens the line: it goes to the broadcast address (254), where the\n"
      "display whose identifiers (ids) match answers, whatever its address; -a does not count.\n"
      "\nset comm sends enable configuration (0xE4), then write communication parameters (0xE0)\n"
      "with ADDRESS (0..253) and the index of BAUD in the display's speed table:\n  " +
      JoinedNumbers(kBaudTable, ", ") +
      ".\nThe display answers at its old speed and listens at the new one from then on. A\n"
      "failure names the request.\n"
      "\nscan opens the line itself, once per speed of --bauds (default " +
      JoinedNumbers(kDefaultScanBauds, ",") +
      ") on a\n"
      "serial or USB line, once on TCP (BAUD 0). At each speed it asks the broadcast address,\n"
      "then every address from --from to --to (default 0 to 253), for the identification; each\n"
      "address has as long as the request and a typical answer take at that speed and a few\n"
      "milliseconds more (at least 20 ms), about 10 s for all of them at 9600 Bd. It prints one\n"
      "line per display found, by speed and address (\"0x42 19200 ZorvidL;v1.0;rtc\"); with\n"
      "--json {\"displays\":[{\"address\":66,\"baud\":19200,\"ident\":...}]}. Exit 0 when it found "
      "a\n"
      "display, 1 when none, 3 when the line could not be made or opened. Its progress shows\n"
      "on stderr while that is a terminal.\n\n" +
      RetriesHelp() +
      "\nWith --pcap FILE the traffic of the run, the identification included, goes to FILE\n"
      "(created or emptied first) as it passes: what zorvidctl sends as outbound, what it\n"
      "receives as inbound. Wireshark reads it with the korvel dissector that the package\n"
      "installs. A file that cannot be created is refused: nothing sent (exit 2).\n" +
      "\nWith --json the result is one JSON object on stdout: \"ok\" true, \"command\" and the\n"
      "values under the keys the text form uses; a failure: \"ok\" false, \"command\", \"exit\"\n"
      "and \"error\", and where the display or the line failed \"outcome\": {\"kind\", \"step\",\n"
      "\"address\", \"tries\"} with \"ack\" for a refusal, \"field\", \"value\", \"min\" and "
      "\"max\"\n"
      "for a value a rule refuses, and \"reason\" where the line said why. Strings are UTF-8, a\n"
      "byte that is not UTF-8 as \\xNN.\n"
      "\nAn answer is checked against the rules the set commands keep (MIN not above MAX\n"
      "included): one that breaks them is an invalid answer. A write whose answer was lost (none\n"
      "came, or it came damaged) is read back: stored when the display holds the value sent, no\n"
      "answer when it holds another; when that read fails too, unknown whether stored. Text and\n"
      "segments are not read back (the display's rotating information may replace them).\n"
      "\nExit codes:\n"
      "  0  done\n"
      "  1  the display refused (acknowledge N), gave no answer, a damaged or an invalid answer,\n"
      "     it is unknown whether a write was stored, or a value read back was other than\n"
      "     written (stderr says which); diff found a difference, scan found no display, or the\n"
      "     capture file could not be written whole\n"
      "  2  nothing sent: arguments refused (an unknown command or option, an argument out of\n"
      "     range, an invalid display text or settings file)\n"
      "  3  connection failed (transport not created or not opened, no identification, or the\n"
      "     line closed during the command)\n";
  return text;
}

}  // namespace zorvid::ctl
