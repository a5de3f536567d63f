#pragma once

#include <cstdint>
#include <string>

#include "transport/CommunicationInterfaceDataSpy.h"

namespace zorvid {

// A transport that reaches the display through a network socket as a client.
class ISockClientInterface : public virtual ICommunicationInterface {
 public:
  virtual std::string GetHost() = 0;
  virtual void SetHost(const std::string& host) = 0;
  virtual std::uint16_t GetPort() = 0;
  virtual void SetPort(std::uint16_t port) = 0;
  // The local port of the connection; 0 without one.
  virtual std::int32_t GetLocalPort() = 0;
};

inline constexpr TInterfaceId IID_ISockClientInterface =
    MakeInterfaceId<ISockClientInterface>("{0BEEB427-CA65-4A48-BF7F-EE22465C2164}");

// The base of socket transports: a socket has no buffer to purge.
class TSockClientCoreInterface : public TCommunicationInterfaceDataSpy,
                                 public virtual ISockClientInterface {
 public:
  void PurgeInput() override {}
  void PurgeOutput() override {}
  std::int32_t GetLocalPort() override { return 0; }

 protected:
  using TCommunicationInterfaceDataSpy::TCommunicationInterfaceDataSpy;
};

}  // namespace zorvid
