#pragma once

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "capture/Traffic.h"

namespace zorvid {

// The link type of a Korvel capture: the first of the user link types (DLT_USER0).
inline constexpr std::uint16_t kKorvelLinkType = 147;

// The direction bits of an enhanced packet block's flags option.
inline constexpr std::uint32_t kPcapngInbound = 1;
inline constexpr std::uint32_t kPcapngOutbound = 2;

// The most bytes one block carries: Wireshark refuses a larger packet, so a longer record (a
// long run of noise) goes as several blocks of the same time and direction.
inline constexpr std::size_t kPcapngMaxPacket = 0x40000;

// Writes traffic as a pcapng capture: a section header, one interface of link type
// kKorvelLinkType named "korvel" with microsecond times, and one enhanced packet block per
// record carrying its bytes, its time and its direction in the flags option (inbound: from the
// display, outbound: to the display, whichever end recorded it). So a request is always
// outbound and an answer or unsolicited packet always inbound, also in the file of the
// simulator, which receives the requests. Fields are written little-endian, as the section
// header's byte-order magic says. Not thread-safe.
class TPcapngWriter {
 public:
  // Writes the section header and the interface description at once.
  explicit TPcapngWriter(std::ostream& out);
  void Write(const TTrafficRecord& record);
  // False once a write to the stream failed.
  bool Good() const { return out_.good(); }

 private:
  std::ostream& out_;
};

// A capture file being written: created (or emptied) at once, each batch of records flushed to
// it as it comes, so that what was recorded is in the file even when the program is killed. Not
// thread-safe.
class TPcapngFile {
 public:
  // Throws std::runtime_error naming the file and the system's reason when it cannot be
  // created.
  explicit TPcapngFile(std::string path);
  // False once a write failed; from then on nothing more is written.
  bool Write(const std::vector<TTrafficRecord>& records);
  // What failed, with the file's name and the system's reason; empty while nothing did.
  const std::string& Failure() const { return failure_; }
  const std::string& Path() const { return path_; }

 private:
  void CheckWritten(const char* what);

  std::string path_;
  std::ofstream file_;
  TPcapngWriter writer_;
  std::string failure_;
};

}  // namespace zorvid
