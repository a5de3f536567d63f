#pragma once

namespace zorvid {

// Lets the transports' settings operations show this program's dialogs: the TCP settings
// dialog, the USB settings window and the serial port settings dialog. Each is shown modally
// over the active window, on the user-interface thread (where the transports' Setup runs).
void InstallSetupHooks();
// Takes the hooks away again (the transports' Setup then returns false).
void RemoveSetupHooks();

}  // namespace zorvid
