#pragma once

#include <cstdint>
#include <ostream>

#include "capture/Traffic.h"

namespace zorvid {

// The link type of a Korvel capture: the first of the user link types (DLT_USER0).
inline constexpr std::uint16_t kKorvelLinkType = 147;

// Writes traffic as a pcapng capture: a section header, one interface of link type
// kKorvelLinkType named "korvel" with microsecond times, and one enhanced packet block per
// record carrying its bytes, its time and its direction in the flags option (inbound: from the
// display, outbound: to the display, whichever end recorded it). Not thread-safe.
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

}  // namespace zorvid
