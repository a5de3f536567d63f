#pragma once

// What one command reports and the two ways of printing it: text for people and shell
// scripts, one JSON object for programs.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/Outcome.h"

namespace zorvid::ctl {

// How a value is written. Text form / JSON form:
enum class TFieldKind {
  kText,       // EscapeControls of the bytes / the same as a string
  kHexSpaced,  // "03 3F 06" / a string
  kHexPacked,  // "033F06" / a string
  kInteger,    // decimal / a number
  kHexByte,    // two hex digits ("02") / a number
  kBit,        // 0 or 1 / true or false
  kOnOff,      // on or off / true or false
  kTenths,     // one decimal place ("23.5") / a number
  kAddress,    // "0x" and two hex digits ("0x42") / a number
  kGroup,      // the parts as KEY=VALUE pairs separated by one space / an object of the parts
  kRecord,     // the parts' values separated by one space / an object of the parts
  kList,       // each part on a line of its own / an array of the parts
  kDocument,   // a JSON document's text as it is / the document's object
};

struct TCtlField {
  std::string key;
  TFieldKind kind = TFieldKind::kText;
  std::string bytes;             // the text kinds
  std::int64_t number = 0;       // the integer and flag kinds
  double real = 0;               // kTenths
  std::vector<TCtlField> parts;  // kGroup
};

TCtlField TextField(std::string key, std::string bytes);
TCtlField HexSpacedField(std::string key, std::string bytes);
TCtlField HexPackedField(std::string key, std::string bytes);
TCtlField IntegerField(std::string key, std::int64_t number);
TCtlField HexByteField(std::string key, std::int64_t number);
TCtlField BitField(std::string key, bool flag);
TCtlField OnOffField(std::string key, bool flag);
TCtlField TenthsField(std::string key, double real);
TCtlField AddressField(std::string key, std::int64_t address);
TCtlField GroupField(std::string key, std::vector<TCtlField> parts);
TCtlField RecordField(std::string key, std::vector<TCtlField> parts);
// The parts' own keys count only in their JSON form, where the list is an array.
TCtlField ListField(std::string key, std::vector<TCtlField> parts);
// `json`: the text of a JSON object; its last line feed is the layout's.
TCtlField DocumentField(std::string key, std::string json);

// How the fields are laid out in text form.
enum class TLayout {
  kSilent,  // nothing (commands that only change the display)
  kBare,    // the value of the one field, without its key
  kInline,  // KEY=VALUE pairs separated by one space on one line
  kLines,   // one KEY=VALUE per line
  kRows,    // one "KEY VALUE" per line; nothing without fields
  kList,    // the one field, a list: each part on a line of its own; nothing when it is empty
};

struct TCtlResult {
  TLayout layout = TLayout::kSilent;
  std::vector<TCtlField> fields;
  int exitCode = 0;  // a result can still answer "some" (diff: 1)
};

std::string FieldText(const TCtlField& field);

// The text form, every line ended by a line feed; empty when silent.
std::string FormatText(const TCtlResult& result);
// The JSON form: one compact object and a line feed, its keys in the JSON object's own
// (alphabetical) order. Strings are UTF-8 (Utf8Text: a byte that is not part of well-formed
// UTF-8 as "\xNN").
// {"command":COMMAND,"ok":true} with every field as KEY:VALUE.
std::string FormatJson(std::string_view command, const TCtlResult& result);
// {"command":COMMAND,"error":MESSAGE,"exit":CODE,"ok":false}, with "outcome" for a failure of
// the display or the line: {"kind":…,"step":…,"address":N} and, where they apply, "ack",
// "field", "value", "min", "max", "tries" and "reason".
std::string FormatJsonFailure(std::string_view command, int exitCode, std::string_view message,
                              const std::optional<TOutcome>& outcome = {});

}  // namespace zorvid::ctl
