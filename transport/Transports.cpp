#include "transport/Transports.h"

#include "transport/SerialPortInterface.h"
#include "transport/TCPClientInterface.h"

namespace zorvid {

void RegisterStandardTransports() {
  RegisterTcpClientTransport();
  RegisterSerialPortTransport();
}

void UnregisterStandardTransports() {
  UnregisterSerialPortTransport();
  UnregisterTcpClientTransport();
}

}  // namespace zorvid
