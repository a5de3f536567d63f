#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace zorvid::test {

// A pseudo-terminal pair standing in for a serial line: the driver opens the slave by its
// path, the test plays the device at the other end on the master. Both ends are raw, so
// nothing is echoed or translated.
class TPseudoTerminal {
 public:
  TPseudoTerminal();
  ~TPseudoTerminal();
  TPseudoTerminal(const TPseudoTerminal&) = delete;
  TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

  const std::string& SlavePath() const { return slavePath_; }

  // Sends the bytes from the device's side; false when the line did not take them all within
  // the time-out.
  bool Send(std::string_view bytes,
            std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // What the device receives: up to `count` bytes, waiting at most `timeout` for them.
  std::string Receive(std::size_t count, std::chrono::milliseconds timeout);
  // Bytes sent that wait on the driver's side.
  int SlaveInputCount() const;
  // Holds back what the driver's side writes, as an XOFF would: while held, the terminal takes
  // none of it (its writes wait, and it is never reported writable), so whatever the driver
  // queues stays queued; let go, it flows again.
  void HoldOutput(bool held);
  // The device hangs up: the master goes.
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_ = -1;  // kept open so the line outlives the driver's closes
  std::string slavePath_;
};

// Maps COM<number> to a device path through $ZORVID_COM<number> while it lives.
class TPortMapping {
 public:
  TPortMapping(int number, const std::string& path);
  ~TPortMapping();
  TPortMapping(const TPortMapping&) = delete;
  TPortMapping& operator=(const TPortMapping&) = delete;

 private:
  std::string variable_;
};

}  // namespace zorvid::test
