#pragma once

// The simulator's lines: a TCP listener serving one client after another and a pseudo-terminal,
// both feeding the same responder. This layer only moves bytes: it cuts what arrives into
// packets, sends back what the responder answers (after the configured delay), sends the
// unsolicited packet on its timer, logs the traffic and records it in the capture file. The
// pseudo-terminal has a speed, as a serial line has: it starts at the first display's, and
// whatever the other side sets is read back with each chunk that arrives, so that a display
// hears only the packets sent at its own speed.
//
// Single-threaded: one poll loop (Step/Run) does all of it. Only StopFd may be written from
// elsewhere, for example from a signal handler.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "capture/PcapngWriter.h"
#include "capture/TrafficCutter.h"
#include "core/Types.h"
#include "tools/sim/SimResponder.h"

namespace zorvid::sim {

struct TTcpEndpoint {
  std::string host = "127.0.0.1";
  std::uint16_t port = 10001;  // 0: any free port
};

struct TSimLinesConfig {
  std::optional<TTcpEndpoint> tcp;
  std::optional<std::string> pty;  // the path of a symbolic link to it; empty: no link
  int delayMs = 0;                 // before each answer goes out
  int unsolicitedMs = 0;           // period of the unsolicited packet; 0: never
  bool log = false;                // one line per packet: "< " received, "> " sent
  // The pcapng file that gets the traffic of every line: what arrives (packets and the bytes
  // that are none) as outbound, what is sent as inbound, as a capture made by the display's
  // master would have them.
  std::optional<std::string> pcap{};
};

class TSimLines {
 public:
  // `out` gets the "TCP"/"PTY" lines and the log, each line flushed.
  TSimLines(TSimResponder& responder, TSimLinesConfig config, std::ostream& out);
  ~TSimLines();
  TSimLines(const TSimLines&) = delete;
  TSimLines& operator=(const TSimLines&) = delete;

  // Opens the configured lines and the capture file and announces the lines; throws
  // std::runtime_error naming what failed.
  void Open();
  std::uint16_t TcpPort() const { return tcpPort_; }
  const std::string& PtyPath() const { return ptyPath_; }

  // Waits up to `maxWaitMs` for traffic or a timer and handles it; false once a stop came.
  bool Step(int maxWaitMs);
  void Run();
  // One byte written here ends the loop; safe from a signal handler.
  int StopFd() const { return stopPipe_[1]; }

 private:
  using TClock = std::chrono::steady_clock;
  struct TLine {
    int fd = -1;
    bool socket = false;
    // Cuts what arrives into packets and noise; the simulator receives what goes to the display.
    TTrafficCutter cutter{TTrafficDirection::kToDisplay};
    std::deque<std::pair<TClock::time_point, TByteString>> delayed;
    TByteString output;
  };

  void OpenTcp(const TTcpEndpoint& endpoint);
  void OpenPty(const std::string& link);
  void Announce(const std::string& line);
  int PollTimeout(int maxWaitMs, TClock::time_point now) const;
  void AcceptClient();
  void Receive(TLine& line);
  void Hangup(TLine& line);
  void Schedule(TLine& line, TByteString packet, TClock::time_point now);
  void Send(TLine& line, const TByteString& packet);
  void Flush(TLine& line);
  void ReleaseDue(TClock::time_point now);
  void Log(const char* direction, std::string_view packet);
  void Record(const std::vector<TTrafficRecord>& records);
  void RecordWaiting(TLine& line);

  TSimResponder& responder_;
  const TSimLinesConfig config_;
  std::ostream& out_;

  int stopPipe_[2] = {-1, -1};
  bool stopping_ = false;
  int listener_ = -1;
  std::uint16_t tcpPort_ = 0;
  TLine client_;
  TLine pty_;
  int ptySlave_ = -1;  // held open so that the line stays up between clients
  std::string ptyPath_;
  std::string ptyLink_;  // created by Open, removed again on destruction
  std::optional<TClock::time_point> nextUnsolicited_;
  std::optional<TPcapngFile> capture_;
};

}  // namespace zorvid::sim
