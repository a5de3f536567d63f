#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QObject;

namespace zorvid {

// The state of one port number in a scan.
enum TComPortState : std::uint8_t {
  cpsNotProbed = 0,  // not yet probed in the current scan
  cpsFree = 1,       // present and free: it could be opened
  cpsBusy = 2,       // present but cannot be opened: in use, or access refused
  cpsAbsent = 3,
  cpsProbing = 4,  // being probed now
};

inline constexpr int kFirstComPort = 1;
inline constexpr int kLastComPort = 255;

// Decides the state of one port number (free, busy or absent); called on the scanner's worker
// threads, several at a time.
using TComPortProbe = std::function<TComPortState(int portNumber)>;
using TPortStateHandler = std::function<void(int portNumber, TComPortState state)>;

// The real probe: opens the port's device exclusively and closes it at once. Any thread.
TComPortState ProbeComPortState(int portNumber);

class TComPortThreadSharedData;
class TScanThread;

// Finds which of the port numbers 1..255 have a device and whether it is free, without
// blocking the user interface: 8 worker threads probe the numbers in parallel and every change
// of a port's state reaches OnPortState on the user-interface thread, in the order the changes
// happened (per port "being probed" always comes before its result).
//
// Threads: created, used and destroyed on the user-interface thread. The workers touch only
// the shared data (under its lock) and the probe (outside it).
class TComPortScanner {
 public:
  // An empty probe means the real one.
  explicit TComPortScanner(TComPortProbe probe = &ProbeComPortState);
  // Ends all 8 workers (a probe under way is waited for) before the shared data goes; state
  // changes still queued for OnPortState are dropped.
  ~TComPortScanner();
  TComPortScanner(const TComPortScanner&) = delete;
  TComPortScanner& operator=(const TComPortScanner&) = delete;

  // Starts a scan of all 255 numbers; during a scan it starts over, and the results of the
  // probes under way are dropped.
  void Scan();
  // Lets every worker pause at its next pause point; the states found so far stay. It does not
  // wait: a probe under way finishes and still reports its result.
  void Stop();
  // Called on the user-interface thread, in posting order.
  void SetOnPortState(TPortStateHandler handler);
  // Every one of the 255 numbers has its result in the current scan.
  bool ScanComplete();
  // The state of a port number in the current scan (cpsNotProbed outside 1..255).
  TComPortState PortState(int portNumber);

 private:
  // A worker thread, under the shared data's lock: only queues the change for the
  // user-interface thread.
  void PostPortState(int portNumber, TComPortState state);
  // The user-interface thread: one queued change.
  void HandlePortState(int portNumber, TComPortState state);

  TPortStateHandler OnPortState;  // user-interface thread
  const TComPortProbe probe_;     // called by the workers; unchanged while they live
  // The hidden receiver of the queued changes, living in the user-interface thread. It goes
  // last, after the workers: its destruction drops the changes still queued for it, so none
  // reaches a destroyed scanner.
  const std::unique_ptr<QObject> receiver_;
  const std::unique_ptr<TComPortThreadSharedData> shared_;
  std::vector<std::unique_ptr<TScanThread>> threads_;  // user-interface thread
};

}  // namespace zorvid
