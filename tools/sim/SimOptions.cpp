#include "tools/sim/SimOptions.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <string_view>

#include "core/HexText.h"
#include "core/NumberText.h"
#include "protocol/KorvelStackDevice.h"

namespace zorvid::sim {
namespace {

constexpr int kMaxMilliseconds = 3600000;

// What the option is given: nothing, a value, or a value that may be left out.
enum class TValue { kNone, kRequired, kOptional };

struct TOptionRule {
  std::string_view name;
  TValue value;
  // Called with the option's own name, for the error messages.
  std::function<void(TSimOptions&, std::string_view, const std::string&)> apply;
};

[[noreturn]] void Bad(std::string_view option, const std::string& value, std::string_view want) {
  throw ESimOptionError(std::string(option) + ": invalid value '" + value + "' (expected " +
                        std::string(want) + ")");
}

long long IntegerIn(std::string_view option, const std::string& value, long long low,
                    long long high) {
  const std::optional<std::int64_t> number = ParseInteger(value);
  if (!number || *number < low || *number > high)
    Bad(option, value, "a number " + std::to_string(low) + ".." + std::to_string(high));
  return *number;
}

TByte ByteOption(std::string_view option, const std::string& value) {
  return static_cast<TByte>(IntegerIn(option, value, 0, 0xFF));
}

double RealIn(std::string_view option, const std::string& value, double low, double high,
              std::string_view want) {
  double number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
      !(number >= low && number <= high))
    Bad(option, value, want);
  return number;
}

// [HOST:]PORT, an IPv6 host in brackets.
TTcpEndpoint Endpoint(std::string_view name, const std::string& value) {
  TTcpEndpoint endpoint;
  std::string port = value;
  if (const auto colon = value.rfind(':'); colon != std::string::npos) {
    endpoint.host = value.substr(0, colon);
    port = value.substr(colon + 1);
    if (endpoint.host.size() > 2 && endpoint.host.front() == '[' && endpoint.host.back() == ']')
      endpoint.host = endpoint.host.substr(1, endpoint.host.size() - 2);
  }
  const std::optional<std::int64_t> number = ParseInteger(port);
  if (endpoint.host.empty() || !number || *number < 0 || *number > 0xFFFF)
    Bad(name, value, "[HOST:]PORT with a port 0..65535");
  endpoint.port = static_cast<std::uint16_t>(*number);
  return endpoint;
}

void ForcedAck(TSimOptions& options, std::string_view name, const std::string& value) {
  const auto equals = value.find('=');
  if (equals == std::string::npos) Bad(name, value, "INST=CODE");
  const std::optional<std::int64_t> inst = ParseInteger(std::string_view(value).substr(0, equals));
  const std::optional<std::int64_t> code = ParseInteger(std::string_view(value).substr(equals + 1));
  if (!inst || !code || *inst < 0 || *inst > 0xFF || *code < 0 || *code > 0xFF)
    Bad(name, value, "INST=CODE, both numbers 0..255");
  options.faults.forcedAcks[static_cast<TByte>(*inst)] = static_cast<TByte>(*code);
}

void ForcedData(TSimOptions& options, std::string_view name, const std::string& value) {
  const auto equals = value.find('=');
  if (equals == std::string::npos) Bad(name, value, "INST=HEX");
  const std::optional<std::int64_t> inst = ParseInteger(std::string_view(value).substr(0, equals));
  const std::optional<TByteString> data = ParseHex(std::string_view(value).substr(equals + 1));
  if (!inst || *inst < 0 || *inst > 0xFF || !data || data->size() > kPacket97MaxData)
    Bad(name, value, "INST=HEX, an instruction 0..255 and hex byte pairs");
  options.faults.forcedData[static_cast<TByte>(*inst)] = *data;
}

// KEY=VALUE: the display stores VALUE whenever a write sets KEY.
void Alteration(TSimOptions& options, std::string_view name, const std::string& value) {
  std::string keys;
  for (const TSimFieldName& field : kSimFieldNames)
    keys += (keys.empty() ? "" : ", ") + std::string(field.name);
  const auto equals = value.find('=');
  const std::string_view key = std::string_view(value).substr(0, equals);
  const auto field = std::find_if(kSimFieldNames.begin(), kSimFieldNames.end(),
                                  [key](const TSimFieldName& known) { return known.name == key; });
  if (equals == std::string::npos || field == kSimFieldNames.end())
    Bad(name, value, "KEY=VALUE, KEY one of " + keys);
  const std::optional<std::int64_t> number =
      ParseInteger(std::string_view(value).substr(equals + 1));
  if (!number || *number < field->min || *number > field->max)
    Bad(name, value,
        "a value " + std::to_string(field->min) + ".." + std::to_string(field->max) + " for " +
            std::string(key));
  options.display.alterations.push_back({field->field, static_cast<std::int32_t>(*number)});
}

// ADDRESS[,IDENT]: the text runs from the first comma to the end, commas included.
void AddDisplay(TSimOptions& options, std::string_view name, const std::string& value) {
  const auto comma = value.find(',');
  const std::optional<std::int64_t> address = ParseInteger(value.substr(0, comma));
  if (!address || *address < 0 || *address > kHighestAddress)
    Bad(name, value, "ADDRESS[,IDENT] with an address 0.." + std::to_string(kHighestAddress));
  TSimDisplayChoice choice{static_cast<TByte>(*address), std::nullopt};
  if (comma != std::string::npos) choice.ident = value.substr(comma + 1);
  options.displays.push_back(std::move(choice));
}

std::int32_t Baud(std::string_view option, const std::string& value) {
  const std::optional<std::int64_t> number = ParseInteger(value);
  if (!number || std::find(kBaudTable.begin(), kBaudTable.end(), *number) == kBaudTable.end()) {
    std::string speeds;
    for (const std::int32_t baud : kBaudTable)
      speeds += (speeds.empty() ? "" : ", ") + std::to_string(baud);
    Bad(option, value, "one of the display's speeds " + speeds);
  }
  return static_cast<std::int32_t>(*number);
}

const std::vector<TOptionRule>& OptionRules() {
  static const std::vector<TOptionRule> rules{
      {"--tcp", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.lines.tcp = Endpoint(name, v);
       }},
      {"--pty", TValue::kOptional,
       [](TSimOptions& o, std::string_view, const std::string& v) { o.lines.pty = v; }},
      {"--address", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.display.address = static_cast<TByte>(IntegerIn(name, v, 0, kHighestAddress));
       }},
      {"--display", TValue::kRequired, AddDisplay},
      {"--baud", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.display.baud = Baud(name, v);
       }},
      {"--ident", TValue::kRequired,
       [](TSimOptions& o, std::string_view, const std::string& v) { o.display.ident = v; }},
      {"--basic", TValue::kNone,
       [](TSimOptions& o, std::string_view, const std::string&) { o.display.basic = true; }},
      {"--alter", TValue::kRequired, Alteration},
      {"--temperature", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.display.temperature = RealIn(name, v, 0, kTemperatureMax, "degrees 0..6553.5");
       }},
      {"--drop", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.faults.drop = RealIn(name, v, 0, 1, "a probability 0..1");
       }},
      {"--corrupt", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.faults.corrupt = RealIn(name, v, 0, 1, "a probability 0..1");
       }},
      {"--delay", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.lines.delayMs = static_cast<int>(IntegerIn(name, v, 0, kMaxMilliseconds));
       }},
      {"--ack", TValue::kRequired, ForcedAck},
      {"--answer", TValue::kRequired, ForcedData},
      {"--silent", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.faults.silent.insert(ByteOption(name, v));
       }},
      {"--lose-answer", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.faults.loseAnswerOnce.insert(ByteOption(name, v));
       }},
      {"--unsolicited", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.lines.unsolicitedMs = static_cast<int>(IntegerIn(name, v, 1, kMaxMilliseconds));
       }},
      {"--seed", TValue::kRequired,
       [](TSimOptions& o, std::string_view name, const std::string& v) {
         o.seed = static_cast<std::uint32_t>(IntegerIn(name, v, 0, 0xFFFFFFFF));
       }},
      {"--pcap", TValue::kRequired,
       [](TSimOptions& o, std::string_view, const std::string& v) { o.lines.pcap = v; }},
      {"--log", TValue::kNone,
       [](TSimOptions& o, std::string_view, const std::string&) { o.lines.log = true; }},
      {"--help", TValue::kNone,
       [](TSimOptions& o, std::string_view, const std::string&) { o.help = true; }},
      {"--version", TValue::kNone,
       [](TSimOptions& o, std::string_view, const std::string&) { o.version = true; }},
  };
  return rules;
}

const TOptionRule& FindRule(std::string_view name) {
  const auto& rules = OptionRules();
  const auto rule = std::find_if(rules.begin(), rules.end(),
                                 [name](const TOptionRule& known) { return known.name == name; });
  if (rule == rules.end()) throw ESimOptionError("unknown option '" + std::string(name) + "'");
  return *rule;
}

}  // namespace

TSimOptions ParseSimOptions(const std::vector<std::string>& args) {
  TSimOptions options;
  bool identGiven = false;
  std::optional<std::string> address, firstDisplay;  // as given, for the refusal of both
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) throw ESimOptionError("unexpected argument '" + arg + "'");
    const auto equals = arg.find('=');
    const TOptionRule& rule = FindRule(std::string_view(arg).substr(0, equals));
    std::string value;
    if (equals != std::string::npos) {
      if (rule.value == TValue::kNone)
        throw ESimOptionError(std::string(rule.name) + ": takes no value, got '" + arg + "'");
      value = arg.substr(equals + 1);
    } else if (rule.value == TValue::kRequired) {
      if (i + 1 == args.size()) throw ESimOptionError(std::string(rule.name) + ": value missing");
      value = args[++i];
    } else if (rule.value == TValue::kOptional && i + 1 < args.size() &&
               args[i + 1].rfind("-", 0) != 0) {
      value = args[++i];
    }
    rule.apply(options, rule.name, value);
    identGiven = identGiven || rule.name == "--ident";
    if (rule.name == "--address") address = value;
    if (rule.name == "--display" && !firstDisplay) firstDisplay = value;
  }
  if (address && firstDisplay)
    throw ESimOptionError("--address " + *address + " and --display " + *firstDisplay +
                          ": each display of --display has its own address");
  if (options.display.basic && !identGiven) options.display.ident = kBasicIdent;
  if (!options.lines.tcp && !options.lines.pty) options.lines.tcp = TTcpEndpoint{};
  return options;
}

std::string SimUsage() {
  return R"(Usage: zorvid-sim [OPTIONS]
A simulated Zorvid display answering the Korvel protocol (packet format 97).

Lines (both may be given; without either: --tcp 127.0.0.1:10001):
  --tcp [HOST:]PORT     listen on TCP, one client after another (HOST default 127.0.0.1;
                        port 0 picks a free one); prints "TCP HOST:PORT"
  --pty [LINK]          create a pseudo-terminal in raw mode, print "PTY PATH", and with
                        LINK also make a symbolic link to it there (removed on exit)
Display:
  --address N           device address 0..253 (default 49)
  --ident TEXT          identification text (default "ZorvidL;v1.0;rtc")
  --baud N              the display's line speed (default 9600), one of 110, 300, 600,
                        1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400; on the
                        pseudo-terminal it hears only packets sent at its speed (the speed
                        the other side set), over TCP every packet
  --display N[,TEXT]    one more display on the line at address N with identification TEXT
                        (default: as --ident); repeatable, instead of --address. Each has a
                        state and identifiers of its own; answers that several send at once
                        (to address 254) collide into bytes that are no packet
  --basic               the variant without clock and automatic brightness (their
                        instructions get acknowledge 2); identification "Zorvid;v1.0;"
  --temperature DEG     fixed temperature 0..6553.5 (default: a slow drift around 22.0)
  --alter KEY=VALUE     store VALUE whenever a write sets KEY, as a display that clamps
                        would (repeatable); KEY one of params.offset, params.zone,
                        expiration, brightness, brightness-auto.min, brightness-auto.max,
                        brightness-auto.gain; VALUE in the key's range
Faults:
  --drop P              probability 0..1 that an answer is lost
  --corrupt P           probability 0..1 that an answer has a wrong checksum
  --delay MS            delay before each answer
  --ack INST=CODE       answer INST with acknowledge CODE and no data (repeatable)
  --answer INST=HEX     answer INST with acknowledge 0 and the data HEX (repeatable)
  --silent INST         never answer INST (repeatable)
  --lose-answer INST    carry out INST but lose its answer, the first time only (repeatable)
  --unsolicited MS      send an acknowledge-0x0E packet every MS on every connected line
  --seed N              seed for the faults and the identifiers, for repeatable runs
Other:
  --log                 print every packet: "< " received, "> " sent, in hex
  --pcap FILE           write the traffic of every line to FILE (created or emptied) as a
                        pcapng capture for Wireshark: what arrives, packets and the bytes
                        that are none, as outbound; what is sent as inbound
  --help                print this help
  --version             print the version
Numbers may be decimal or 0x-prefixed hexadecimal. SIGINT or SIGTERM ends the simulator.
)";
}

std::vector<TSimDisplayConfig> DisplayConfigs(const TSimOptions& options, std::uint32_t seed) {
  if (options.displays.empty()) {
    TSimDisplayConfig single = options.display;
    single.identifiers = IdentifiersFromSeed(seed);
    return {single};
  }
  std::vector<TSimDisplayConfig> configs;
  for (const TSimDisplayChoice& choice : options.displays) {
    TSimDisplayConfig config = options.display;
    config.address = choice.address;
    config.ident = choice.ident.value_or(options.display.ident);
    config.identifiers = IdentifiersFromSeed(seed + static_cast<std::uint32_t>(configs.size()));
    configs.push_back(std::move(config));
  }
  return configs;
}

}  // namespace zorvid::sim
