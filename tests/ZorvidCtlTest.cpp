// zorvidctl in-process: its conversions, its output forms, its command line, and whole runs
// against a scripted display on an in-memory line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "core/NumberText.h"
#include "tests/support/MemoryTransport.h"
#include "tests/support/ScriptedPeer.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlOutput.h"
#include "tools/ctl/CtlText.h"
#include "tools/ctl/ZorvidCtl.h"

namespace zorvid::ctl {
namespace {

using test::TMemoryTransport;
using test::TScriptedPeer;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

// ---- Conversions -------------------------------------------------------------------------

// The number syntax zorvidctl shares with zorvid-sim; CtlArgumentsTest checks its 32-bit limit.
TEST(NumberTextTest, IntegersAreDecimalOrPrefixedHex) {
  EXPECT_EQ(ParseInteger("49"), 49);
  EXPECT_EQ(ParseInteger("-660"), -660);
  EXPECT_EQ(ParseInteger("0x31"), 0x31);
  EXPECT_EQ(ParseInteger("0XfE"), 0xFE);
  EXPECT_EQ(ParseInteger("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  for (const char* bad : {"", "-", "12x", " 1", "1 ", "0x", "0x-1", "+5", "31h",
                          "9223372036854775808", "-0", "-00"}) {
    EXPECT_EQ(ParseInteger(bad), std::nullopt) << bad;
  }
}

TEST(CtlTextTest, HexIsDigitPairsWithOptionalBlanksBetweenPairs) {
  const TByteString segments("\x03\x3F\x06\x5B\x4F", 5);
  EXPECT_EQ(ParseHex("03 3F 06 5B 4F"), segments);
  EXPECT_EQ(ParseHex("033f065b4F"), segments);
  EXPECT_EQ(ParseHex(" 033F 065B4F "), segments);
  EXPECT_EQ(ParseHex(""), TByteString());
  EXPECT_EQ(ParseHex("00"), TByteString(1, '\0'));
  for (const char* bad : {"0", "0 3", "3G", "033", "0x03", "03-3F"}) {
    EXPECT_EQ(ParseHex(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(FormatHexSpaced(segments), "03 3F 06 5B 4F");
  EXPECT_EQ(FormatHexPacked(TByteString("\x00\xab\xFF", 3)), "00ABFF");
  EXPECT_EQ(FormatHexSpaced(""), "");
}

TEST(CtlTextTest, ClockIsExactlyDateSpaceTime) {
  const auto clock = ParseClock("2026-03-07 14:05:09");
  ASSERT_TRUE(clock);
  EXPECT_EQ(FormatClock(*clock), "2026-03-07 14:05:09");
  EXPECT_EQ(DecodeDateTime(*clock), (TDateTimeParts{2026, 3, 7, 14, 5, 9, 0}));
  for (const char* bad :
       {"2026-02-30 00:00:00", "2026-03-07 24:00:00", "2026-03-07T14:05:09", "2026-3-7 14:05:09",
        "2026-03-07 14:05", "2026-03-07  14:05:09", "now", "2026-03-07 14:05:0x"}) {
    EXPECT_EQ(ParseClock(bad), std::nullopt) << bad;
  }
}

TEST(CtlTextTest, TenthsHaveOneDecimalWithADot) {
  EXPECT_EQ(FormatTenths(23.5), "23.5");
  EXPECT_EQ(FormatTenths(22.0), "22.0");
  EXPECT_EQ(FormatTenths(6553.5), "6553.5");
  EXPECT_EQ(FormatTenths(0.0), "0.0");
}

// ---- Output forms ------------------------------------------------------------------------

TEST(CtlOutputTest, TextLayouts) {
  EXPECT_EQ(FormatText({TLayout::kSilent, {IntegerField("x", 1)}}), "");
  EXPECT_EQ(FormatText({TLayout::kBare, {HexSpacedField("data", "\x03\x3F")}}), "03 3F\n");
  EXPECT_EQ(FormatText({TLayout::kInline,
                        {OnOffField("auto", true), IntegerField("min", 6), HexByteField("ack", 2),
                         HexPackedField("data", "")}}),
            "auto=on min=6 ack=02 data=\n");
  EXPECT_EQ(FormatText({TLayout::kLines, {BitField("12h", false), IntegerField("offset", -60)}}),
            "12h=0\noffset=-60\n");
  EXPECT_EQ(FormatText({TLayout::kBare, {TenthsField("temperature", 23.5)}}), "23.5\n");
}

TEST(CtlOutputTest, JsonIsOneObjectPerRun) {
  const TCtlResult result{
      TLayout::kInline,
      {OnOffField("auto", false), IntegerField("gain", 10), TextField("text", " 12\""),
       TenthsField("temperature", 23.5), BitField("mdy", true), HexByteField("ack", 2),
       HexSpacedField("data", "\x03\x3F")}};
  EXPECT_EQ(FormatJson("get x", result),
            "{\"ack\":2,\"auto\":false,\"command\":\"get x\",\"data\":\"03 3F\",\"gain\":10,"
            "\"mdy\":true,\"ok\":true,\"temperature\":23.5,\"text\":\" 12\\\"\"}\n");
  EXPECT_EQ(FormatJson("set text", {}), "{\"command\":\"set text\",\"ok\":true}\n");
  EXPECT_EQ(FormatJsonFailure("get clock", 1, "get clock: no answer"),
            "{\"command\":\"get clock\",\"error\":\"get clock: no answer\",\"exit\":1,"
            "\"ok\":false}\n");
  // Text as UTF-8, as in the text form: a byte that is not UTF-8 as \xNN, a control character
  // as the text form writes it.
  EXPECT_EQ(FormatJson("ident", {TLayout::kBare, {TextField("ident", "Z\xC3\xB6rvid\xE9\x1B")}}),
            "{\"command\":\"ident\",\"ident\":\"Zörvid\\\\xE9\\\\x1B\",\"ok\":true}\n");
  EXPECT_EQ(FormatJsonFailure("set text", 2, "invalid display text: \"\xE9\""),
            "{\"command\":\"set text\",\"error\":\"invalid display text: \\\"\\\\xE9\\\"\","
            "\"exit\":2,\"ok\":false}\n");
}

// ---- Command line ------------------------------------------------------------------------

TCtlInvocation Parse(const std::vector<std::string>& args) {
  TCtlInvocation invocation;
  ParseCtlArguments(args, invocation);
  return invocation;
}

// The message of the refusal, or "" when the arguments were accepted.
std::string Refusal(const std::vector<std::string>& args) {
  try {
    Parse(args);
  } catch (const TUsageError& error) {
    return error.what();
  }
  return "";
}

TEST(CtlArgumentsTest, OptionsHaveDefaultsAndBothForms) {
  const TCtlInvocation defaults = Parse({"ident"});
  EXPECT_TRUE(defaults.options == (TCtlOptions{"provider=TCP_CLIENT;host=127.0.0.1;port=10001", 49,
                                               1000, false, false}));
  EXPECT_EQ(defaults.command, "ident");

  const TCtlInvocation given =
      Parse({"-c", "provider=X;a=b", "-a", "0x32", "--timeout=250", "--json", "--trace",
             "--retries=10", "--pcap", "a.pcapng", "get", "clock"});
  EXPECT_TRUE(given.options ==
              (TCtlOptions{"provider=X;a=b", 0x32, 250, true, true, 10, "a.pcapng"}));
  EXPECT_EQ(given.command, "get clock");
  EXPECT_EQ(Parse({"--address=254", "--connection", "c", "-t", "1", "ident"}).options.address, 254);
}

TEST(CtlArgumentsTest, HelpAndVersionNeedNoCommand) {
  EXPECT_EQ(Parse({"--help"}).request, TCtlRequest::kHelp);
  EXPECT_EQ(Parse({"-h", "bogus"}).request, TCtlRequest::kHelp);
  EXPECT_EQ(Parse({"--json", "--version"}).request, TCtlRequest::kVersion);
  EXPECT_EQ(Parse({"ident"}).request, TCtlRequest::kRun);
}

TEST(CtlArgumentsTest, EverythingAfterTheCommandIsAnArgument) {
  const TCtlInvocation text = Parse({"set", "text", "-1.5"});
  EXPECT_EQ(text.command, "set text");
  EXPECT_EQ(text.line, "set text -1.5");
  EXPECT_THAT(Refusal({"ident", "--json"}), HasSubstr("usage: zorvidctl ident"));
  EXPECT_FALSE(Parse({"--", "ident"}).options.json);
  EXPECT_EQ(Refusal({"--", "--json"}), "unknown command: \"--json\"");
}

TEST(CtlArgumentsTest, BadOptionsSayWhichAndWithWhat) {
  EXPECT_EQ(Refusal({}), "no command given");
  EXPECT_EQ(Refusal({"--json"}), "no command given");
  EXPECT_EQ(Refusal({"-x", "ident"}), "unknown option: \"-x\"");
  EXPECT_EQ(Refusal({"--jsonx", "ident"}), "unknown option: \"--jsonx\"");
  EXPECT_EQ(Refusal({"-json", "ident"}), "unknown options: \"-j\", \"-s\", \"-o\", \"-n\"");
  EXPECT_EQ(Refusal({"--\x1B[2J", "ident"}), "unknown option: \"--\\x1B[2J\"");
  EXPECT_EQ(Refusal({"--json=1", "ident"}), "Unexpected value after '--json'.");
  EXPECT_EQ(Refusal({"-a"}), "Missing value after '-a'.");
  EXPECT_EQ(Refusal({"-a", "256", "ident"}), "address out of range (0..254): 256");
  EXPECT_EQ(Refusal({"-a", "-1", "ident"}), "address out of range (0..254): -1");
  EXPECT_EQ(Refusal({"-a", "0x", "ident"}), "invalid address: \"0x\"");
  EXPECT_EQ(Refusal({"-t", "0", "ident"}), "timeout out of range (1..3600000): 0");
  // Past 32 bits a number is invalid rather than narrowed, which could wrap it into range.
  EXPECT_EQ(Refusal({"-t", "2147483647", "ident"}),
            "timeout out of range (1..3600000): 2147483647");
  EXPECT_EQ(Refusal({"-t", "2147483648", "ident"}), "invalid timeout: \"2147483648\"");
  // 0x100000031 is refused whole, not wrapped to 0x31.
  EXPECT_EQ(Refusal({"-a", "4294967345", "ident"}), "address out of range (0..254): 4294967345");
  EXPECT_EQ(Refusal({"--retries", "11", "ident"}), "retries out of range (0..10): 11");
  EXPECT_EQ(Refusal({"--retries=-1", "ident"}), "retries out of range (0..10): -1");
  EXPECT_EQ(Refusal({"--retries", "two", "ident"}), "invalid retries: \"two\"");
}

TEST(CtlArgumentsTest, UnknownCommandsAndWrongArgumentCounts) {
  EXPECT_EQ(Refusal({"fly"}), "unknown command: \"fly\"");
  EXPECT_EQ(Refusal({"get"}),
            "unknown item for get: \"\" (one of: text, data, expiration, brightness, "
            "brightness-auto, clock, params, temperature, all, comm)");
  EXPECT_THAT(Refusal({"set", "colour", "1"}), HasSubstr("unknown item for set: \"colour\""));
  EXPECT_EQ(Refusal({"get", "text", "x"}), "usage: zorvidctl get text (given: \"x\")");
  EXPECT_EQ(Refusal({"set", "brightness"}), "usage: zorvidctl set brightness N (given: \"\")");
  EXPECT_EQ(Refusal({"set", "text", "1", "2"}), "usage: zorvidctl set text TEXT (given: \"1 2\")");
  EXPECT_THAT(Refusal({"set", "brightness-auto", "on", "6", "36"}),
              HasSubstr("usage: zorvidctl set brightness-auto on|off MIN MAX GAIN"));
  EXPECT_THAT(Refusal({"raw"}), HasSubstr("usage: zorvidctl raw INST [HEX]"));
  EXPECT_THAT(Refusal({"set", "params"}), HasSubstr("usage: zorvidctl set params KEY=VALUE..."));
  EXPECT_EQ(Refusal({"backup", "a", "b"}), "usage: zorvidctl backup [FILE] (given: \"a b\")");
  // restore's own option goes before or after the file; nothing else does.
  EXPECT_EQ(Refusal({"restore", "--dry-run"}),
            "usage: zorvidctl restore [--dry-run] FILE (given: \"\")");
  EXPECT_EQ(Refusal({"restore", "--force", "a.json"}), "unknown option: \"--force\"");
  EXPECT_EQ(Refusal({"diff", "/nonexistent/a.json"}),
            "/nonexistent/a.json: cannot read: No such file or directory");
}

TEST(CtlArgumentsTest, ArgumentsGetTheOperationsOwnChecks) {
  EXPECT_EQ(Refusal({"set", "text", "1..2"}), "invalid display text: \"1..2\"");
  EXPECT_EQ(Refusal({"set", "text", "123456"}), "invalid display text: \"123456\"");
  EXPECT_EQ(Refusal({"set", "text", "a_b"}), "invalid display text: \"a_b\"");
  EXPECT_EQ(Refusal({"set", "data", "03 3F 06 5B"}),
            "display data needs exactly 5 bytes, got 4: \"03 3F 06 5B\"");
  EXPECT_EQ(Refusal({"set", "data", "033F065B4F00"}),
            "display data needs exactly 5 bytes, got 6: \"033F065B4F00\"");
  EXPECT_EQ(Refusal({"set", "data", "03 3F 06 5B 4"}), "invalid hex data: \"03 3F 06 5B 4\"");
  EXPECT_EQ(Refusal({"set", "expiration", "65536"}), "expiration out of range (0..65535): 65536");
  EXPECT_EQ(Refusal({"set", "expiration", "-1"}), "expiration out of range (0..65535): -1");
  EXPECT_EQ(Refusal({"set", "brightness", "128"}), "brightness out of range (0..127): 128");
  EXPECT_EQ(Refusal({"set", "brightness", "bright"}), "invalid brightness: \"bright\"");
  EXPECT_EQ(Refusal({"set", "brightness-auto", "yes", "6", "36", "0"}),
            "brightness-auto must be on or off: \"yes\"");
  for (const auto& [min, max, gain] :
       {std::tuple{"5", "36", "0"}, std::tuple{"6", "37", "0"}, std::tuple{"6", "36", "101"}}) {
    EXPECT_EQ(Refusal({"set", "brightness-auto", "on", min, max, gain}),
              std::string("brightness-auto out of range (min and max (6..36), gain (0..100)): "
                          "min=") +
                  min + " max=" + max + " gain=" + gain);
  }
  EXPECT_THAT(Refusal({"set", "clock", "2026-02-30 10:00:00"}),
              HasSubstr("invalid clock (expected \"YYYY-MM-DD HH:MM:SS\" or now)"));
  EXPECT_EQ(Refusal({"set", "clock", "1999-12-31 23:59:59"}),
            "clock year out of range (2000..2099), the years the display holds: "
            "\"1999-12-31 23:59:59\"");
  EXPECT_THAT(Refusal({"set", "clock", "2100-01-01 00:00:00"}), HasSubstr("(2000..2099)"));
  EXPECT_EQ(Refusal({"raw", "256"}), "instruction out of range (0..255): 256");
  EXPECT_EQ(Refusal({"raw", "0x83", "0"}), "invalid hex data: \"0\"");
  // More than one packet carries: refused before anything is sent, quoting only the start.
  EXPECT_EQ(Refusal({"raw", "0x83", std::string(2 * 65531, 'A')}),
            "raw data too long: 65531 bytes, a packet carries at most 65530: \"" +
                std::string(64, 'A') + "…\"");
  EXPECT_EQ(Refusal({"raw", "0x83", std::string(2 * 65530, 'A')}), "") << "exactly the limit";

  EXPECT_EQ(Refusal({"set", "comm", "0xFE", "9600"}), "address out of range (0..253): 0xFE");
  EXPECT_THAT(Refusal({"set", "comm", "0x42", "14400"}),
              StartsWith("baud is none of the display's speeds (110, 300,"));
  EXPECT_EQ(Refusal({"assign-address", "65536", "1", "0x42"}),
            "word1 out of range (0..65535): 65536");
  EXPECT_EQ(Refusal({"scan", "--from", "0x50", "--to", "0x40"}),
            "scan range empty: --from 80 (0x50) above --to 64 (0x40)");
  EXPECT_EQ(Refusal({"scan", "--bauds", "9600,"}), "invalid baud: \"\"");
  EXPECT_EQ(Refusal({"scan", "--fast"}), "unknown option: \"--fast\"");
  EXPECT_THAT(Refusal({"scan", "0x42"}), StartsWith("usage: zorvidctl scan [--from N]"));
}

TEST(CtlArgumentsTest, AcceptedArgumentsOfEveryShape) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"set", "text", ""},
           {"set", "text", "12:"},
           {"set", "text", "-1.5"},
           {"set", "text", "12.34"},
           {"set", "data", "03", "3F", "06", "5B", "4F"},
           {"set", "expiration", "0"},
           {"set", "brightness", "0x7F"},
           {"set", "brightness-auto", "off", "6", "36", "100"},
           {"set", "clock", "2026-03-07", "14:05:09"},
           {"set", "clock", "now"},
           {"set", "clock", "2099-12-31 23:59:59"},
           {"set", "params", "offset=-660", "zone=65535", "mdy=1"},
           {"raw", "0x99"},
           {"raw", "0x93", "05"},
       }) {
    EXPECT_EQ(Refusal(args), "") << ::testing::PrintToString(args);
  }
}

TEST(CtlArgumentsTest, ParamsKeysAndValuesAreCheckedBeforeAnything) {
  EXPECT_EQ(Refusal({"set", "params", "offset=781"}), "offset out of range (-660..780): 781");
  EXPECT_EQ(Refusal({"set", "params", "offset=-661"}), "offset out of range (-660..780): -661");
  EXPECT_EQ(Refusal({"set", "params", "zone=65536"}), "zone out of range (0..65535): 65536");
  EXPECT_EQ(Refusal({"set", "params", "mdy=1", "12h=2"}), "12h must be 0 or 1: \"2\"");
  EXPECT_EQ(Refusal({"set", "params", "zone"}), "expected KEY=VALUE: \"zone\"");
  EXPECT_EQ(Refusal({"set", "params", "zone=x"}), "invalid zone: \"x\"");
  EXPECT_EQ(Refusal({"set", "params", "colour=1"}),
            "unknown params key: \"colour\" (keys: auto-update, summer-time, after-turn-on, "
            "after-expiration, 12h, mdy, show-time, show-date, show-temp, offset, zone)");
}

TEST(CtlArgumentsTest, HelpDocumentsEveryOptionAndCommand) {
  const std::string help = CtlHelpText();
  for (const char* item :
       {"--connection <STRING>",
        "--address <N>",
        "--timeout <MS>",
        "--retries <N>",
        "show-info, raw and set comm always go out once",
        "--json",
        "--trace",
        "--help",
        "--version",
        "ident",
        "get text",
        "get data",
        "get expiration",
        "get brightness ",
        "get brightness-auto",
        "get clock",
        "get params",
        "get temperature",
        "set text TEXT",
        "set data HEX",
        "set expiration SECONDS",
        "set brightness N",
        "set brightness-auto on|off MIN MAX GAIN",
        "set clock \"YYYY-MM-DD HH:MM:SS\"|now",
        "set params KEY=VALUE...",
        "show-info",
        "raw INST [HEX]",
        "ack=NN data=HEX",
        "get comm",
        "set comm ADDRESS BAUD",
        "ids",
        "assign-address WORD1 WORD2 ADDRESS",
        "scan [--from N] [--to N] [--bauds B,...]",
        "auto-update, summer-time, after-turn-on, after-expiration, 12h, mdy, show-time, "
        "show-date, show-temp",
        "Exit codes"}) {
    EXPECT_THAT(help, HasSubstr(item));
  }
}

// ---- Whole runs over an in-memory line ---------------------------------------------------

// A display at address 49 with fixed readings that accepts every write, unless told to answer
// an instruction with other data, an error acknowledge, not at all, with one data byte too
// many, or to lose or damage its first answers.
class CtlRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { TMemoryTransport::Register(); }
  static void TearDownTestSuite() { TMemoryTransport::Unregister(); }

  void TearDown() override { display.reset(); }

  // A display end of its own for every run: a memory line pairs its two ends once.
  std::string NewDisplayLine() {
    static std::atomic<int> lines{0};
    const std::string name = "ctl" + std::to_string(++lines);
    display.reset();
    auto displayEnd = New<TMemoryTransport>();
    displayEnd->SetConfiguration("name=" + name);
    display = std::make_unique<TScriptedPeer>(
        displayEnd, [this](const TKorvelFormat97& request) { return Respond(request); });
    return name;
  }

  TByteString Respond(const TKorvelFormat97& r) {
    if (r.Adr != 49 || silent.contains(r.Inst)) return {};
    TByteString answer = Answer(r);
    std::deque<TMiss>& missing = misses[r.Inst];
    if (missing.empty()) return answer;
    const TMiss miss = missing.front();
    missing.pop_front();
    if (miss == TMiss::kLost) return {};
    answer[answer.size() - 2] ^= '\xFF';  // the checksum
    return answer;
  }
  TByteString Answer(const TKorvelFormat97& r) {
    if (acks.contains(r.Inst)) return BuildPacket97(49, r.Sig, acks[r.Inst], "");
    TByteString data;
    if (!Reading(r.Inst, data) && !Writing(r.Inst)) return BuildPacket97(49, r.Sig, 2, "");
    if (overlong.contains(r.Inst)) data += '\0';
    return BuildPacket97(49, r.Sig, 0, data);
  }
  bool Reading(TByte inst, TByteString& data) {
    if (answers.contains(inst)) {
      data = answers[inst];
      return true;
    }
    static const std::map<TByte, TByteString> readings{
        {0xF3, "ZorvidL;v1.0;rtc"},
        {0x80, "  12 "},
        {0x81, TByteString("\x03\x3F\x06\x5B\x4F", 5)},
        {0x84, TByteString("\x00\x3C\x00\x05", 4)},
        {0x83, TByteString("\x05", 1)},
        {0x85, TByteString("\x01\x06\x24\x0A", 4)},
        {0x71, TByteString("\x0E\x05\x09\x06\x07\x03\x1A", 7)},
        {0x77, TByteString("\x02\x02\xFF\xC4\x00\x03", 6)},
        {0x51, TByteString("\x01\x00\xEB", 3)},
    };
    const auto found = readings.find(inst);
    if (found == readings.end()) return false;
    data = found->second;
    return true;
  }
  static bool Writing(TByte inst) {
    return std::set<TByte>{0x90, 0x91, 0x93, 0x94, 0x95, 0x70, 0x76, 0x78}.contains(inst);
  }

  struct TRun {
    int exitCode;
    std::string out, err;
  };
  // zorvidctl on this test's line, with a short timeout, and any further options and command;
  // `settings` go on at the end of the connection string.
  TRun Run(std::vector<std::string> args, const std::string& settings = "") {
    args.insert(args.begin(),
                {"-c", "provider=MEMORY;name=" + NewDisplayLine() + settings, "-t", "200"});
    std::ostringstream out, err;
    const int exitCode = RunZorvidCtl(args, out, err);
    return {exitCode, out.str(), err.str()};
  }
  // The requests the display saw in the last run after the identification.
  std::vector<TKorvelFormat97> CommandRequests() {
    std::vector<TKorvelFormat97> requests = display->Requests();
    if (!requests.empty() && requests.front().Inst == 0xF3) requests.erase(requests.begin());
    return requests;
  }
  // The instructions the display saw in the last run, in order.
  std::vector<int> Instructions() {
    std::vector<int> instructions;
    for (const TKorvelFormat97& request : display->Requests())
      instructions.push_back(request.Inst);
    return instructions;
  }

  std::unique_ptr<TScriptedPeer> display;
  std::map<TByte, TByteString> answers;
  std::map<TByte, TByte> acks;
  std::set<TByte> silent, overlong;
  enum class TMiss { kLost, kDamaged };
  std::map<TByte, std::deque<TMiss>> misses;  // what happens to the first answers to INST
};

TEST_F(CtlRunTest, EveryReadPrintsItsTextForm) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"ident"}, "ZorvidL;v1.0;rtc\n"},
      {{"get", "text"}, "  12 \n"},
      {{"get", "data"}, "03 3F 06 5B 4F\n"},
      {{"get", "expiration"}, "seconds=60 second=5\n"},
      {{"get", "brightness"}, "5\n"},
      {{"get", "brightness-auto"}, "auto=on min=6 max=36 gain=10\n"},
      {{"get", "clock"}, "2026-03-07 14:05:09\n"},
      {{"get", "params"},
       "auto-update=0\nsummer-time=1\nafter-turn-on=0\nafter-expiration=0\n12h=0\nmdy=0\n"
       "show-time=0\nshow-date=1\nshow-temp=0\noffset=-60\nzone=3\n"},
      {{"get", "temperature"}, "23.5\n"},
      {{"raw", "0x83"}, "ack=00 data=05\n"},
      {{"raw", "0x99", "01 02"}, "ack=02 data=\n"},
  };
  for (const auto& [args, expected] : cases) {
    const TRun run = Run(args);
    EXPECT_EQ(run.exitCode, kExitOk) << ::testing::PrintToString(args) << ": " << run.err;
    EXPECT_EQ(run.out, expected) << ::testing::PrintToString(args);
    EXPECT_THAT(run.err, IsEmpty()) << ::testing::PrintToString(args);
    const auto requests = display->Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const TKorvelFormat97& request) { return request.Inst == 0xF3; }),
              1)
        << ::testing::PrintToString(args) << ": the identification goes out once per run";
  }
}

TEST_F(CtlRunTest, WritesSendTheOperationsBytesAndPrintNothing) {
  const std::vector<std::tuple<std::vector<std::string>, TByte, TByteString>> cases{
      {{"set", "text", "12:"}, 0x90, "  12:"},
      {{"set", "text", "-1.5"}, 0x90, " -1.5"},
      {{"set", "data", "033F065B4F"}, 0x91, TByteString("\x03\x3F\x06\x5B\x4F", 5)},
      {{"set", "expiration", "300"}, 0x94, TByteString("\x01\x2C", 2)},
      {{"set", "brightness", "0x10"}, 0x93, TByteString("\x10", 1)},
      {{"set", "brightness-auto", "on", "6", "36", "0"}, 0x95, TByteString("\x01\x06\x24\x00", 4)},
      {{"set", "clock", "2026-03-07 14:05:09"}, 0x70, TByteString("\x0E\x05\x09\x07\x03\x1A", 6)},
      {{"show-info"}, 0x78, ""},
  };
  for (const auto& [args, inst, data] : cases) {
    const TRun run = Run(args);
    EXPECT_EQ(run.exitCode, kExitOk) << ::testing::PrintToString(args) << ": " << run.err;
    EXPECT_THAT(run.out, IsEmpty()) << ::testing::PrintToString(args);
    const std::vector<TKorvelFormat97> requests = display->Requests();
    ASSERT_EQ(requests.size(), 2u) << ::testing::PrintToString(args);  // identification, command
    EXPECT_EQ(requests.back().Inst, inst) << ::testing::PrintToString(args);
    EXPECT_EQ(requests.back().Data, data) << ::testing::PrintToString(args);
  }
}

TEST_F(CtlRunTest, SetParamsChangesOnlyTheGivenKeysOfWhatItReadFirst) {
  const TRun run = Run({"set", "params", "show-temp=1", "offset=120", "summer-time=0"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  const std::vector<TKorvelFormat97> requests = CommandRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Inst, 0x77);
  EXPECT_EQ(requests[1].Inst, 0x76);
  // showDate stays, showTemperature joins it; summer time off; offset 120; zone stays 3.
  EXPECT_EQ(requests[1].Data, TByteString("\x06\x00\x00\x78\x00\x03", 6));
}

TEST_F(CtlRunTest, SetParamsSendsNothingWhenTheFirstReadFails) {
  silent.insert(0x77);
  const TRun run = Run({"set", "params", "mdy=1"});
  EXPECT_EQ(run.exitCode, kExitFailed);
  EXPECT_THAT(run.err, HasSubstr("set params mdy=1: read params: no answer"));
  ASSERT_EQ(CommandRequests().size(), 1u);
}

TEST_F(CtlRunTest, RefusedArgumentsSendNothingAtAll) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"set", "params", "offset=781"}, "offset out of range (-660..780): 781"},
      {{"set", "text", "1..2"}, "invalid display text: \"1..2\""},
      {{"set", "brightness", "128"}, "brightness out of range (0..127): 128"},
      {{"bogus"}, "unknown command: \"bogus\""},
      // Every receiver refuses address 0xFF, so nothing could ever answer there.
      {{"-a", "255", "ident"},
       "address out of range (0..254): 255 (0xFF) is refused by every "
       "receiver"},
      {{"--address=0xFF", "ident"},
       "address out of range (0..254): 255 (0xFF) is refused by "
       "every receiver"},
      // A number has no sign on zero.
      {{"-a", "-0", "ident"}, "invalid address: \"-0\""},
      {{"set", "brightness", "-0"}, "invalid brightness: \"-0\""},
      {{"set", "brightness-auto", "on", "30", "10", "0"},
       "brightness-auto min above max: min=30 max=10 gain=0"},
      {{"set", "params", "offset=1", "zone=2", "offset=2"},
       "params key \"offset\" given twice: \"offset=1\" and \"offset=2\""},
      // An echoed argument: its control characters escaped, cut after 64 characters.
      {{"set", "text", "\x1B[2J" + std::string(70, '8')},
       "invalid display text: \"\\x1B[2J" + std::string(60, '8') + "…\""},
  };
  for (const auto& [args, message] : cases) {
    const TRun run = Run(args);
    EXPECT_EQ(run.exitCode, kExitUsage) << ::testing::PrintToString(args);
    EXPECT_THAT(run.out, IsEmpty());
    EXPECT_EQ(run.err, "zorvidctl: " + message + "\nTry 'zorvidctl --help'.\n");
    EXPECT_THAT(display->Requests(), IsEmpty()) << ::testing::PrintToString(args);
  }
}

TEST_F(CtlRunTest, FailuresSayWhyWithExitOne) {
  acks[0x93] = 4;
  silent.insert(0x83);
  overlong.insert(0x85);
  const TRun ack = Run({"set", "brightness", "5"});
  EXPECT_EQ(ack.exitCode, kExitFailed);
  EXPECT_EQ(ack.err, "zorvidctl: set brightness 5: acknowledge 4\n");
  const TRun silence = Run({"get", "brightness"});
  EXPECT_EQ(silence.exitCode, kExitFailed);
  EXPECT_EQ(silence.err, "zorvidctl: get brightness: no answer\n");
  const TRun invalid = Run({"get", "brightness-auto"});
  EXPECT_EQ(invalid.exitCode, kExitFailed);
  EXPECT_EQ(invalid.err, "zorvidctl: get brightness-auto: invalid answer\n");
  const TRun raw = Run({"raw", "0x83"});
  EXPECT_EQ(raw.exitCode, kExitFailed);
  EXPECT_EQ(raw.err, "zorvidctl: raw 0x83: no answer\n");
  EXPECT_THAT(ack.out + silence.out + invalid.out + raw.out, IsEmpty());
}

// Each request that got no answer goes out again, as often as --retries allows, and no more.
TEST_F(CtlRunTest, RetriesRepeatEachRequestThatGotNoAnswer) {
  using enum TMiss;
  misses = {{0xF3, {kLost}}, {0x83, {kLost, kDamaged}}};
  const TRun read = Run({"--retries", "2", "get", "brightness"});
  EXPECT_EQ(read.exitCode, kExitOk) << read.err;
  EXPECT_EQ(read.out, "5\n");
  EXPECT_THAT(read.err, IsEmpty());
  EXPECT_EQ(Instructions(), (std::vector<int>{0xF3, 0xF3, 0x83, 0x83, 0x83}));

  // Its read and its write each have their own tries; the write sends the same record each time.
  misses = {{0x77, {kDamaged}}, {0x76, {kLost, kLost}}};
  const TRun params = Run({"--retries", "2", "set", "params", "mdy=1"});
  EXPECT_EQ(params.exitCode, kExitOk) << params.err;
  EXPECT_EQ(Instructions(), (std::vector<int>{0xF3, 0x77, 0x77, 0x76, 0x76, 0x76}));
  const std::vector<TKorvelFormat97> requests = display->Requests();
  for (std::size_t i = 4; i < requests.size(); ++i)
    EXPECT_EQ(requests[i].Data, requests[3].Data);

  misses = {{0x83, {kLost, kLost, kLost}}};
  const TRun unanswered = Run({"--retries", "2", "get", "brightness"});
  EXPECT_EQ(unanswered.exitCode, kExitFailed);
  EXPECT_EQ(unanswered.err, "zorvidctl: get brightness in 3 tries: no answer\n");
  EXPECT_EQ(Instructions(), (std::vector<int>{0xF3, 0x83, 0x83, 0x83}));
}

TEST_F(CtlRunTest, WithoutRetriesEachRequestGoesOutOnce) {
  for (const std::vector<std::string>& retries : {std::vector<std::string>{}, {"--retries", "0"}}) {
    SCOPED_TRACE(::testing::PrintToString(retries));
    std::vector<std::string> args = retries;
    args.insert(args.end(), {"get", "brightness"});
    misses = {{0x83, {TMiss::kLost}}};
    const TRun read = Run(args);
    EXPECT_EQ(read.exitCode, kExitFailed);
    EXPECT_EQ(read.err, "zorvidctl: get brightness: no answer\n");
    EXPECT_EQ(Instructions(), (std::vector<int>{0xF3, 0x83}));

    misses = {{0xF3, {TMiss::kLost}}};
    EXPECT_EQ(Run(args).exitCode, kExitConnection);
    EXPECT_EQ(Instructions(), (std::vector<int>{0xF3}));
  }
}

// A refusal is the display's answer: the identification it refused goes out once, however many
// retries were given; one that got no answer goes out again.
TEST_F(CtlRunTest, ARefusedIdentificationIsSentOnce) {
  acks[0xF3] = 2;
  const TRun refused = Run({"--retries", "2", "ident"});
  EXPECT_EQ(refused.exitCode, kExitConnection);
  EXPECT_EQ(refused.err,
            "zorvidctl: connection failed: no identification from address 49 (0x31): "
            "acknowledge 2\n");
  EXPECT_EQ(Instructions(), (std::vector<int>{0xF3}));
  acks.erase(0xF3);
  misses = {{0xF3, {TMiss::kLost}}};
  EXPECT_EQ(Run({"--retries", "2", "ident"}).exitCode, kExitOk);
  EXPECT_EQ(Instructions(), (std::vector<int>{0xF3, 0xF3}));
}

// Repeated, these could act twice; an error acknowledge is the display's answer.
TEST_F(CtlRunTest, RetriesRepeatNeitherRawNorTriggersNorRefusals) {
  acks[0x93] = 4;
  const std::vector<std::tuple<std::vector<std::string>, TByte, std::string>> cases{
      {{"raw", "0x83"}, 0x83, "raw 0x83: no answer"},
      {{"show-info"}, 0x78, "show-info: no answer"},
      {{"set", "brightness", "5"}, 0x93, "set brightness 5: acknowledge 4"},
  };
  for (const auto& [command, inst, failure] : cases) {
    misses = {{0x83, {TMiss::kLost}}, {0x78, {TMiss::kLost}}};
    std::vector<std::string> args{"--retries", "2"};
    args.insert(args.end(), command.begin(), command.end());
    const TRun run = Run(args);
    EXPECT_EQ(run.exitCode, kExitFailed) << failure;
    EXPECT_EQ(run.err, "zorvidctl: " + failure + "\n");
    EXPECT_EQ(Instructions(), (std::vector<int>{0xF3, inst})) << failure;
  }
}

TEST_F(CtlRunTest, ConnectionFailuresExitThree) {
  silent.insert(0xF3);
  const TRun unanswered = Run({"ident"});
  EXPECT_EQ(unanswered.exitCode, kExitConnection);
  EXPECT_EQ(unanswered.err,
            "zorvidctl: connection failed: no identification from address 49 (0x31): no answer\n");

  std::ostringstream out, err;
  EXPECT_EQ(RunZorvidCtl({"-c", "provider=NOWHERE", "ident"}, out, err), kExitConnection);
  EXPECT_EQ(err.str(),
            "zorvidctl: connection failed: no transport for \"provider=NOWHERE\" (provider "
            "missing or unknown)\n");
  std::ostringstream out2, err2;
  EXPECT_EQ(RunZorvidCtl({"-c", "provider=MEMORY;chunk=x", "ident"}, out2, err2), kExitConnection);
  EXPECT_THAT(err2.str(), HasSubstr("zorvidctl: connection failed: "));
  EXPECT_THAT(err2.str(), HasSubstr("chunk"));
}

TEST_F(CtlRunTest, AnotherAddressIsAskedWhenGiven) {
  // 0xFE, the special address, is one to ask.
  for (const TByte address : {0x32, 0xFE}) {
    const TRun run = Run({"-a", std::to_string(address), "ident"});
    EXPECT_EQ(run.exitCode, kExitConnection);
    ASSERT_EQ(display->Requests().size(), 1u);
    EXPECT_EQ(display->Requests().front().Adr, address);
  }
}

// The answer came whole but holds what the matching setter would refuse: it is not printed as
// the display's setting.
TEST_F(CtlRunTest, InvalidAnswersExitOneNamingTheFieldTheValueAndTheRange) {
  // Each answer with the command that reads it and the failure.
  const std::vector<std::tuple<TByte, TByteString, std::string>> cases{
      {0x83, "\xC8", "get brightness: invalid answer: brightness 200 outside 0..127"},
      {0x85, TByteString("\x01\xFF\x00\xC8", 4),
       "get brightness-auto: invalid answer: min 255 outside 6..36"},
      {0x85, TByteString("\x01\x06\x25\x0A", 4),
       "get brightness-auto: invalid answer: max 37 outside 6..36"},
      {0x85, TByteString("\x00\x06\x24\x65", 4),
       "get brightness-auto: invalid answer: gain 101 outside 0..100"},
      // Each within its range, the minimum above the maximum: the range it had is the one the
      // maximum leaves.
      {0x85, TByteString("\x01\x1E\x0A\x28", 4),
       "get brightness-auto: invalid answer: min 30 outside 6..10"},
      // The broadcast and the refused address are no display's own.
      {0xF0, TByteString("\xFE\x06", 2),
       "get comm: read communication parameters (0xF0): invalid answer: address 254 outside "
       "0..253"},
      {0xF0, TByteString("\xFF\x06", 2),
       "get comm: read communication parameters (0xF0): invalid answer: address 255 outside "
       "0..253"},
      // The year's byte 156: the display would read it back as 2156.
      {0x71, TByteString("\x0E\x05\x09\x06\x07\x03\x9C", 7),
       "get clock: invalid answer: year 2156 outside 2000..2099"},
      {0x77, TByteString("\x02\x02\x03\x0D\x00\x03", 6),
       "get params: invalid answer: offset 781 outside -660..780"},
      {0x81, "", "get data: invalid answer: data bytes 0 outside 5..5"},
      {0x81, "\x03\x3F\x06", "get data: invalid answer: data bytes 3 outside 5..5"},
      {0x81, TByteString("\x03\x3F\x06\x5B\x4F\x00\x01", 7),
       "get data: invalid answer: data bytes 7 outside 5..5"},
  };
  for (const auto& [inst, answer, failure] : cases) {
    answers = {{inst, answer}};
    const std::string item = failure.substr(4, failure.find(':') - 4);
    const TRun run = Run({"get", item});
    EXPECT_EQ(run.exitCode, kExitFailed) << failure;
    EXPECT_EQ(run.err, "zorvidctl: " + failure + "\n");
    EXPECT_THAT(run.out, IsEmpty()) << failure;
  }

  // set params writes back what it read: an unsound value stops it before anything is written.
  answers = {{0x77, TByteString("\x02\x02\x03\x0D\x00\x03", 6)}};
  const TRun params = Run({"set", "params", "mdy=1"});
  EXPECT_EQ(params.exitCode, kExitFailed);
  EXPECT_EQ(params.err,
            "zorvidctl: set params mdy=1: read params: invalid answer: offset 781 outside "
            "-660..780\n");
  EXPECT_EQ(CommandRequests().size(), 1u);

  answers = {{0x83, "\xC8"}};
  const TRun json = Run({"--json", "get", "brightness"});
  EXPECT_EQ(json.exitCode, kExitFailed);
  EXPECT_EQ(json.out,
            "{\"command\":\"get brightness\",\"error\":\"get brightness: invalid answer: "
            "brightness 200 outside 0..127\",\"exit\":1,\"ok\":false,\"outcome\":{\"address\":49,"
            "\"field\":\"brightness\",\"kind\":\"invalid answer\",\"max\":127,\"min\":0,"
            "\"step\":\"read brightness\",\"tries\":1,\"value\":200}}\n");
}

// What a display sends reaches the terminal escaped, never as codes it would act on; in JSON the
// same text, as UTF-8.
TEST_F(CtlRunTest, TextFromTheDisplayIsPrintedEscaped) {
  const std::vector<std::tuple<TByte, TByteString, std::vector<std::string>, std::string>> cases{
      {0xF3,
       "Zorvid\x1B]0;owned\x07\xC2\x9B"
       "2J",
       {"ident"},
       "Zorvid\\x1B]0;owned\\x07\\xC2\\x9B"
       "2J"},
      {0xF3, "Z\xC3\xB6rvid;v1.0", {"ident"}, "Zörvid;v1.0"},
      {0xF3, "Z\xF6rvid\\", {"ident"}, "Z\\xF6rvid\\x5C"},
      {0x80, "\x1B[2J\r", {"get", "text"}, "\\x1B[2J\\x0D"},
  };
  for (const auto& [inst, answer, args, printed] : cases) {
    answers = {{inst, answer}};
    const TRun run = Run(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_EQ(run.out, printed + "\n");
  }

  answers = {{0xF3, "Z\xC3\xB6rvid;v1.0"}};
  EXPECT_EQ(Run({"--json", "ident"}).out,
            "{\"command\":\"ident\",\"ident\":\"Zörvid;v1.0\",\"ok\":true}\n");
  answers = {{0xF3, "Z\xF6rvid\x1B"}};
  EXPECT_EQ(Run({"--json", "ident"}).out,
            "{\"command\":\"ident\",\"ident\":\"Z\\\\xF6rvid\\\\x1B\",\"ok\":true}\n");
}

// The run goes on without what it cannot read, and the user learns of it.
TEST_F(CtlRunTest, ASettingWithoutEqualsIsWarnedAbout) {
  const TRun run = Run({"get", "brightness"}, ";chunk;;");
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out, "5\n");
  EXPECT_EQ(run.err,
            "zorvidctl: warning: connection string: setting \"chunk\" without \"=\" ignored\n");
}

TEST_F(CtlRunTest, JsonReportsSuccessAndFailureAsOneObject) {
  acks[0x93] = 4;
  EXPECT_EQ(Run({"--json", "get", "brightness-auto"}).out,
            "{\"auto\":true,\"command\":\"get brightness-auto\",\"gain\":10,\"max\":36,\"min\":6,"
            "\"ok\":true}\n");
  EXPECT_EQ(Run({"--json", "get", "params"}).out,
            "{\"12h\":false,\"after-expiration\":false,\"after-turn-on\":false,"
            "\"auto-update\":false,\"command\":\"get params\",\"mdy\":false,\"offset\":-60,"
            "\"ok\":true,\"show-date\":true,\"show-temp\":false,\"show-time\":false,"
            "\"summer-time\":true,\"zone\":3}\n");
  EXPECT_EQ(Run({"--json", "get", "temperature"}).out,
            "{\"command\":\"get temperature\",\"ok\":true,\"temperature\":23.5}\n");
  EXPECT_EQ(Run({"--json", "set", "text", "12"}).out, "{\"command\":\"set text\",\"ok\":true}\n");
  const TRun failed = Run({"--json", "set", "brightness", "5"});
  EXPECT_EQ(failed.exitCode, kExitFailed);
  EXPECT_EQ(failed.out,
            "{\"command\":\"set brightness\",\"error\":\"set brightness 5: acknowledge 4\","
            "\"exit\":1,\"ok\":false,\"outcome\":{\"ack\":4,\"address\":49,\"kind\":\"refused\","
            "\"step\":\"write brightness\",\"tries\":1}}\n");
  EXPECT_EQ(Run({"--json", "set", "text", "1..2"}).out,
            "{\"command\":\"set text\",\"error\":\"invalid display text: \\\"1..2\\\"\","
            "\"exit\":2,\"ok\":false}\n");
}

TEST_F(CtlRunTest, TraceShowsEveryPacketInHex) {
  const TRun run = Run({"--trace", "set", "text", "12:"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  // 0x90 to address 49 with the data "  12:".
  EXPECT_THAT(run.err, HasSubstr("> 2A 61 00 0A 31 "));
  EXPECT_THAT(run.err, HasSubstr(" 90 20 20 31 32 3A "));
  EXPECT_THAT(run.err, HasSubstr("< 2A 61 00 05 31 "));
  EXPECT_THAT(Run({"set", "text", "12:"}).err, IsEmpty());
}

TEST(CtlRunTopTest, HelpAndVersionPrintWithoutConnecting) {
  std::ostringstream out, err;
  EXPECT_EQ(RunZorvidCtl({"--help"}, out, err), kExitOk);
  EXPECT_EQ(out.str(), CtlHelpText());
  std::ostringstream versionOut, versionErr;
  EXPECT_EQ(RunZorvidCtl({"--version"}, versionOut, versionErr), kExitOk);
  EXPECT_THAT(versionOut.str(), MatchesRegex("zorvidctl [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n"));
  EXPECT_THAT(err.str() + versionErr.str(), IsEmpty());
}

}  // namespace
}  // namespace zorvid::ctl
