#include "transport/Transports.h"

#include "transport/TCPClientInterface.h"

namespace zorvid {

void RegisterStandardTransports() {
  RegisterTcpClientTransport();
}

void UnregisterStandardTransports() {
  UnregisterTcpClientTransport();
}

}  // namespace zorvid
