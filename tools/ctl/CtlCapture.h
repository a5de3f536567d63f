#pragma once

// zorvidctl's --pcap: the run's traffic as a pcapng capture file.

#include <mutex>
#include <string>

#include "capture/PcapngWriter.h"
#include "capture/TrafficCutter.h"
#include "core/ICommunicationInterface.h"
#include "transport/CommunicationInterfaceDataSpy.h"

namespace zorvid::ctl {

// While it lives, every chunk of traffic on any transport is cut into packets and noise and
// written to the file at once: what zorvidctl sends as outbound (to the display), what it
// receives as inbound. Sinks installed before it still get the traffic. Its destruction waits
// for a chunk being written on a transport's thread.
class TCaptureToFile {
 public:
  // Creates (or empties) the file and writes the capture's header; throws std::runtime_error
  // naming the file and the system's reason when it cannot.
  explicit TCaptureToFile(const std::string& path);
  TCaptureToFile(const TCaptureToFile&) = delete;
  TCaptureToFile& operator=(const TCaptureToFile&) = delete;

  // Writes the received bytes still waiting for the rest of a packet as noise: the line is
  // closed, they will not be completed. Returns why a write failed, naming the file; empty when
  // every write went through.
  std::string Finish();

 private:
  // Called on whichever thread moves the bytes.
  void Spy(TCiRef sender, const TByteString& data, TByte direction);

  std::mutex mutex_;  // guards file_ and cutter_: transports call Spy on their own threads
  TPcapngFile file_;
  TTrafficCutter cutter_;
  // Last, so that it is removed before what the sink uses goes.
  TInstalledSpySink sink_;
};

}  // namespace zorvid::ctl
