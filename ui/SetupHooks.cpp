#include "ui/SetupHooks.h"

#include <QApplication>
#include <QCoreApplication>

#include "transport/FTDIDirect.h"
#include "transport/TCPClientInterface.h"
#include "transport/serial/ComPort.h"
#include "ui/FTDISetup.h"
#include "ui/SerialSetup.h"
#include "ui/TCPSetup.h"

namespace zorvid {
namespace {

bool ShowTcpSetup(std::string& host, std::uint16_t& port) {
  return ExecuteTcpDialog(QApplication::activeWindow(),
                          QCoreApplication::translate("zorvid::SetupHooks", "Nastavení TCP"), host,
                          port);
}

bool ShowUsbSetup(std::int32_t baudRate) {
  return ExecuteUsbDialog(QApplication::activeWindow(), baudRate);
}

bool ShowPortSetup(const std::string& portName, TComSettings& settings) {
  return ExecuteSerialSetupDialog(QApplication::activeWindow(), QString::fromStdString(portName),
                                  settings);
}

}  // namespace

void InstallSetupHooks() {
  SetTcpSetupHook(&ShowTcpSetup);
  SetUsbSetupHook(&ShowUsbSetup);
  SetPortSettingsHook(&ShowPortSetup);
}

void RemoveSetupHooks() {
  SetTcpSetupHook(nullptr);
  SetUsbSetupHook(nullptr);
  SetPortSettingsHook(nullptr);
}

}  // namespace zorvid
