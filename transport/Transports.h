#pragma once

namespace zorvid {

// Registers every transport of the program with the factory under its provider name
// ("TCP_CLIENT", "SERIAL_PORT", "FTD_USB"); call once at start-up, before the first
// CreateTransport, and UnregisterStandardTransports at the end.
void RegisterStandardTransports();
void UnregisterStandardTransports();

}  // namespace zorvid
