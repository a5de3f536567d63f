#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/HandlerSlot.h"
#include "transport/CommunicationInterface.h"

namespace zorvid {

// Direction codes of spied traffic.
inline constexpr TByte kSpySent = 1;      // bytes written to the line
inline constexpr TByte kSpyReceived = 2;  // bytes read from the line

// A traffic sink: (transport, data, direction). It is called on whichever thread reads or
// writes, so it must be thread-safe.
using TSpySink = THandler<TCiRef, const TByteString&, TByte>;

// Installs a sink for as long as this object lives, in front of the sinks installed before it:
// every chunk goes to the newest sink first, then on to each older one. Sinks may come and go
// in any order, on any thread.
// Removing the sink (destroying this object) lets no new call into it and waits until the
// calls inside it on other threads have returned, so the object behind the sink may go right
// after; a call on the removing thread itself (a sink that removes itself) is not waited for.
class TInstalledSpySink {
 public:
  explicit TInstalledSpySink(const TSpySink& sink);
  ~TInstalledSpySink();
  TInstalledSpySink(const TInstalledSpySink&) = delete;
  TInstalledSpySink& operator=(const TInstalledSpySink&) = delete;

 private:
  using TSlot = THandlerSlot<TCiRef, const TByteString&, TByte>;
  std::shared_ptr<TSlot> slot_;
};

// Passes a chunk to every installed sink, newest first, on the calling thread. Errors of a sink
// are swallowed: they disturb neither the transport nor the other sinks.
void SpyTraffic(const TCiRef& sender, const TByteString& data, TByte direction);

// The base of every concrete transport: copies every chunk that Read, Write and Query move to
// the installed sinks.
class TCommunicationInterfaceDataSpy : public TCommunicationInterface {
 protected:
  using TCommunicationInterface::TCommunicationInterface;

  void SpySent(const TByteString& data) override;
  void SpyReceived(const TByteString& data) override;
  virtual void Spy(TByte direction, const TByteString& data);
};

// True when `argument`, trimmed and without a leading "/" or "-", is "DST" in any case.
bool IsDstSwitch(std::string_view argument);
// True when one of the program's arguments (position 0 included) is the switch.
bool HasDstSwitch(int argc, const char* const* argv);

// The sink that forwards traffic to a terminal program listening on a Unix-domain datagram
// socket: one datagram per chunk, the direction byte followed by the data.
TSpySink DstForwarderSink();
// Where the terminal program listens.
std::string DstSocketPath();
// Installs the forwarder for the rest of the run when the switch is given; true when it did.
bool InstallDstForwarderIfRequested(int argc, const char* const* argv);

}  // namespace zorvid
