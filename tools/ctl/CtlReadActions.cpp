#include "tools/ctl/CtlCommandTable.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/DateTime.h"
#include "core/EchoText.h"
#include "core/HexText.h"
#include "core/Types.h"
#include "device/ZorvidCodec.h"
#include "device/ZorvidRules.h"
#include "link/Commissioning.h"
#include "link/DisplayConnection.h"
#include "link/Outcome.h"
#include "link/SettingsSnapshot.h"
#include "protocol/Korvel97.h"
#include "tools/ctl/CtlArguments.h"
#include "tools/ctl/CtlOutput.h"
#include "tools/ctl/CtlText.h"

namespace zorvid::ctl {
namespace {

TCtlResult Bare(TCtlField field) {
  return {TLayout::kBare, {std::move(field)}};
}

std::vector<std::int32_t> ScanBauds(const QString& list) {
  std::vector<std::int32_t> bauds;
  for (const QString& baud : list.split(','))
    bauds.push_back(DisplayBaud(baud.toStdString()));
  return bauds;
}

}  // namespace

void ExpectSound(const std::optional<TInvalidValue>& invalid) {
  if (invalid) throw TOutcomeError(InvalidAnswer(TStep::kNone, 0, *invalid));
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
  ExpectSound(CheckSegments(data));
  result = Bare(HexSpacedField("data", data));
  return true;
}

bool RunGetExpiration(IZorvid& device, TCtlResult& result) {
  TDataExpiration expiration;
  if (!device.GetDisplayDataExpiration(expiration)) return false;
  ExpectSound(CheckDataExpiration(expiration.seconds));
  result = {
      TLayout::kInline,
      {IntegerField("seconds", expiration.seconds), IntegerField("second", expiration.second)}};
  return true;
}

bool RunGetBrightness(IZorvid& device, TCtlResult& result) {
  std::int32_t value = 0;
  if (!device.GetDisplayBrightness(value)) return false;
  ExpectSound(CheckBrightness(value));
  result = Bare(IntegerField("brightness", value));
  return true;
}

bool RunGetBrightnessAuto(IZorvid& device, TCtlResult& result) {
  TBrightnessAuto s;
  if (!device.GetDisplayBrightnessAuto(s)) return false;
  ExpectSound(CheckBrightnessAuto(s));
  result = {TLayout::kInline,
            {OnOffField("auto", s.automatic), IntegerField("min", s.min),
             IntegerField("max", s.max), IntegerField("gain", s.gain)}};
  return true;
}

bool RunGetClock(IZorvid& device, TCtlResult& result) {
  TDateTime clock = 0;
  if (!device.GetDateTime(clock)) return false;
  ExpectSound(CheckClock(clock));
  result = Bare(TextField("clock", FormatClock(clock)));
  return true;
}

bool RunGetParams(IZorvid& device, TCtlResult& result) {
  TDateTimeParams params;
  if (!device.GetDateTimeParams(params)) return false;
  ExpectSound(CheckDateTimeParams(params));
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

bool RunGetComm(TZorvid& device, TCtlResult& result) {
  TByte address = 0;
  std::int32_t baud = 0;
  const TByte asked = device.GetAddress();
  if (!device.ReadCommParams(address, baud)) return false;
  if (const std::optional<TOutcome> fault = CommParamsFault({address, baud}, asked))
    throw TOutcomeError(*fault);
  result = {TLayout::kInline, {AddressField("address", address), IntegerField("baud", baud)}};
  return true;
}

bool RunIds(TZorvid& device, TCtlResult& result) {
  std::uint16_t word1 = 0, word2 = 0;
  std::uint32_t value = 0;
  if (!device.ReadIdentifiers(word1, word2, value)) return false;
  result = {
      TLayout::kInline,
      {IntegerField("word1", word1), IntegerField("word2", word2), IntegerField("value", value)}};
  return true;
}

TCtlAction PrepareRaw(const TCommandArgs& args) {
  ExpectCount(args, 1, kAnyCount);
  const auto inst = static_cast<TByte>(NumberInRange("instruction", args.Value(0), 0, 255));
  const std::string given = args.Joined(1);
  const auto data = ParseHex(given);
  if (!data) Refuse("invalid hex data: " + Quoted(given));
  if (data->size() > kPacket97MaxData)
    Refuse("raw data too long: " + std::to_string(data->size()) +
           " bytes, a packet carries at most " + std::to_string(kPacket97MaxData) + ": " +
           Quoted(given));
  return {
      {args.command.step, [inst, bytes = *data](TZorvid& device, TCtlResult& result) {
         std::int32_t ack = -1;
         TByteString answer;
         if (!device.Query(inst, bytes, -1, ack, answer)) return false;
         result = {TLayout::kInline, {HexByteField("ack", ack), HexPackedField("data", answer)}};
         return true;
       }}};
}

// The command's own options, read by a parser of its own; no other argument.
TScanOptions ParseScan(const TCommandArgs& args) {
  QCommandLineParser parser;
  const QCommandLineOption from("from", "", "N"), to("to", "", "N"), bauds("bauds", "", "LIST");
  parser.addOptions({from, to, bauds});
  if (!parser.parse(QStringList{"scan"} + args.values)) Refuse(ParserError(parser));
  if (!parser.positionalArguments().isEmpty())
    ExpectCount({args.command, parser.positionalArguments(), args.options, args.requestTries}, 0,
                0);
  TScanOptions scan;
  scan.connection = args.options.connection;
  if (parser.isSet(from))
    scan.first = Address(parser.value(from).toStdString(), kHighestOwnAddress);
  if (parser.isSet(to)) scan.last = Address(parser.value(to).toStdString(), kHighestOwnAddress);
  if (scan.first > scan.last)
    Refuse("scan range empty: --from " + AddressText(scan.first) + " above --to " +
           AddressText(scan.last));
  if (parser.isSet(bauds)) scan.bauds = ScanBauds(parser.value(bauds));
  return scan;
}

}  // namespace zorvid::ctl
