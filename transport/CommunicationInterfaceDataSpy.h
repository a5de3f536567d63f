#pragma once

#include <string>
#include <string_view>

#include "transport/CommunicationInterface.h"

namespace zorvid {

// Direction codes of spied traffic.
inline constexpr TByte kSpySent = 1;      // bytes written to the line
inline constexpr TByte kSpyReceived = 2;  // bytes read from the line

// The process-wide traffic sink: (transport, data, direction). It is called on whichever
// thread reads or writes, so it must be thread-safe.
using TSpySink = THandler<TCiRef, const TByteString&, TByte>;

// Installs the sink, replacing any previous one; an empty handler removes it.
void SetSpySink(const TSpySink& sink);
TSpySink GetSpySink();

// The base of every concrete transport: copies every chunk that Read, Write and Query move to
// the installed sink. Errors of the sink are swallowed: they never disturb the transport.
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
// Installs the forwarder when the switch is given; true when it did.
bool InstallDstForwarderIfRequested(int argc, const char* const* argv);

}  // namespace zorvid
