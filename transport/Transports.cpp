#include "transport/Transports.h"

#include "transport/FTDIDirect.h"
#include "transport/SerialPortInterface.h"
#include "transport/TCPClientInterface.h"

namespace zorvid {

void RegisterStandardTransports() {
  RegisterTcpClientTransport();
  RegisterSerialPortTransport();
  RegisterFTDITransport();
}

void UnregisterStandardTransports() {
  UnregisterFTDITransport();
  UnregisterSerialPortTransport();
  UnregisterTcpClientTransport();
}

}  // namespace zorvid
