#pragma once

namespace zorvid {

// Registers every transport of the program with the factory under its provider name
// ("TCP_CLIENT", "SERIAL_PORT", "FTD_USB"); call once at start-up, before the first
// CreateTransport, and UnregisterStandardTransports at the end.
void RegisterStandardTransports();
void UnregisterStandardTransports();

// The program's transports, known to the factory while it lives.
class TStandardTransports {
 public:
  TStandardTransports() { RegisterStandardTransports(); }
  ~TStandardTransports() { UnregisterStandardTransports(); }
  TStandardTransports(const TStandardTransports&) = delete;
  TStandardTransports& operator=(const TStandardTransports&) = delete;
};

}  // namespace zorvid
