#pragma once

// Finding the displays on a line: each address in a range is asked for its identification, at
// each speed the line may run at, and every display that answers is reported as it is found.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/Types.h"
#include "link/DisplayConnection.h"
#include "protocol/KorvelStack.h"

namespace zorvid {

class TLateAnswers;

// The speeds a scan tries when it is given none: the usual settings of a display, the most
// common first.
inline constexpr std::array<std::int32_t, 5> kDefaultScanBauds{9600, 19200, 38400, 57600, 115200};

struct TScanOptions {
  // As for a connect. A line with a speed (serial, USB) is opened once per speed of `bauds`;
  // one without (TCP) once, and `bauds` does not matter.
  std::string connection;
  TByte first = 0;                  // the addresses asked: first..last
  TByte last = kHighestOwnAddress;  // a higher one is taken as this one
  // Empty: the speed the connection string gives (or the transport's default).
  std::vector<std::int32_t> bauds{kDefaultScanBauds.begin(), kDefaultScanBauds.end()};
};

struct TFoundDisplay {
  TByte address = 0;
  std::int32_t baud = 0;       // 0 on a line without a speed (TCP)
  TByteString identification;  // as the display sent it
  bool operator==(const TFoundDisplay&) const = default;
};

struct TScanResult {
  // Each display once, by speed in the order scanned, then by address.
  std::vector<TFoundDisplay> found;
  // Why the scan ended before it had tried every speed: the transport could not be made or
  // opened, or the line closed under it (with the connection string, the speed and the
  // transport's reason). Empty otherwise, also after a stop.
  std::string failure;
  bool stopped = false;  // Stop ended it early
};

// One scan of one line. At each speed it first asks the broadcast address: a single display
// answers at once and is found at its own address; several answer together and collide, which
// (like silence) only means the addresses must be asked one by one, as they are then. Each
// address gets AddressTimeout of the line's character time to answer; an answer that comes
// later still counts when it arrives before the speed is done. The same display found through
// the broadcast and through its own address is one display.
//
// Threads: the object may be made on any thread. Run runs the whole scan on the thread that
// calls it (the scanning thread: zorvidctl's main thread, the window's link thread, whose own
// connection must have let the line go first); it makes, opens and closes the transport there,
// so the transport belongs to that thread as it would for a connect (a serial port hands its
// events to that thread's event loop, which the scan does not need meanwhile). The callbacks run on
// the scanning thread inside Run, as things happen, with no lock of the scan held; they may call
// Stop but must not call Run. Stop may be called from any thread at any time and never waits: the
// request in flight is abandoned and Run returns within 100 ms (a TCP connect under way may hold it
// up to its own time-out). A scan runs once: its stack stays abandoned after a stop, and a second
// Run finds nothing.
class TDisplayScan {
 public:
  // After each request: the address just asked (kBroadcastAddress for everyone), the speed
  // (0 without one), the requests done and the requests of the whole scan.
  using TProgress = std::function<void(TByte address, std::int32_t baud, int done, int total)>;
  // Each display when it is first found.
  using TFound = std::function<void(const TFoundDisplay& display)>;

  explicit TDisplayScan(TScanOptions options, TProgress progress = {}, TFound found = {});
  ~TDisplayScan();
  TDisplayScan(const TDisplayScan&) = delete;
  TDisplayScan& operator=(const TDisplayScan&) = delete;

  // The scanning thread. An error raised while the transport is made (a malformed number in
  // the connection string) passes to the caller.
  TScanResult Run();
  // Any thread.
  void Stop();

  // How long one address is given to answer on a line with this character time (ms per
  // byte): the request and an answer with a typical identification on the wire, plus what
  // both ends take beyond the wire, never under 20 ms.
  static std::chrono::milliseconds AddressTimeout(double charTimeMs);

 private:
  struct TPass;

  // The addresses of the range that a display can have.
  int AddressCount() const;
  // One speed on the open line: the broadcast, then every address, then a last look for late
  // answers.
  void ScanPass(const TCiRef& line, std::int32_t baud, TScanResult& result);
  void Ask(TByte address, TPass& pass, TScanResult& result);
  // The late answers that came so far, each counted when it answers a request of this speed.
  void TakeLateAnswers(const TPass& pass, TScanResult& result);
  void WaitForLateAnswers(const TCiRef& line, std::chrono::milliseconds wait);
  // Records an identification answer unless its display is known already.
  void Accept(const TKorvelFormat97& answer, std::int32_t baud, TScanResult& result);

  const TScanOptions options_;
  const TProgress progress_;
  const TFound found_;
  const TRef<TKorvelStack> stack_;
  const TRef<TLateAnswers> late_;
  std::atomic<bool> stopped_{false};
  // The scanning thread's alone: requests done and to do in the whole scan.
  int done_ = 0;
  int total_ = 0;
};

}  // namespace zorvid
