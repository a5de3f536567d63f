#pragma once

// Traffic as comma-separated values (RFC 4180: CRLF line ends, fields with a comma, a quote or
// a line break quoted, quotes doubled), one row per record, for spreadsheets and scripts.

#include <optional>
#include <string>

#include "capture/Traffic.h"

namespace zorvid {

// "time,direction,address,sig,code,data,decoded" and CRLF.
std::string CsvHeader();

// One row: the time in ISO 8601 local time with milliseconds and the UTC offset
// (2026-12-09T17:05:09.123+01:00), "sent" or "received", the address and SIG as two hex digits,
// the instruction or acknowledge code as two hex digits, the data in hex pairs separated by
// spaces, and the decoded text (DecodingText); a record that is no readable packet has its
// bytes in the data column, empty address, SIG and code, and "no packet" or "damaged packet"
// as its decoded text. `requestInstruction` as for DecodePacket.
std::string CsvRow(const TTrafficRecord& record, std::optional<TByte> requestInstruction);

}  // namespace zorvid
