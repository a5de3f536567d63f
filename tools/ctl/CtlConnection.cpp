#include "tools/ctl/CtlConnection.h"

#include <exception>

#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlText.h"
#include "transport/ConnectionString.h"

namespace zorvid::ctl {
namespace {

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

std::string AddressText(TByte address) {
  return std::to_string(address) + " (0x" +
         FormatHexPacked(std::string(1, static_cast<char>(address))) + ")";
}

}  // namespace

std::optional<std::string> TDisplayConnection::Connect(const std::string& connectionString,
                                                       TByte address, std::int32_t timeoutMs) {
  Disconnect();
  try {
    return Establish(connectionString, address, timeoutMs);
  } catch (const std::exception& error) {
    return std::string(error.what()) + " (connection " + Quoted(connectionString) + ")";
  }
}

// The steps of the main window's connect; the first that fails ends it.
std::optional<std::string> TDisplayConnection::Establish(const std::string& connectionString,
                                                         TByte address, std::int32_t timeoutMs) {
  if (!CreateTransport(connectionString, ci_))
    return "no transport for " + Quoted(connectionString) + " (provider missing or unknown)";
  if (!ci_->Open())
    return "cannot open " + Quoted(connectionString) + ": " + ci_->GetFailureReason();
  device_ = New<TZorvid>(address);
  device_->SetTimeout(timeoutMs);
  stack_ = New<TKorvelStack>();
  stack_->AddDevice(device_);
  stack_->SetCommunicationInterface(ci_);
  if (!device_->LoadIdentification())
    return "no identification from address " + AddressText(address) + ": " +
           LastResultText(*device_);
  return std::nullopt;
}

void TDisplayConnection::Disconnect() noexcept {
  try {
    if (stack_) stack_->SetCommunicationInterface(nullptr);
    if (ci_) ci_->Close(false);
    if (stack_ && device_) stack_->RemoveDevice(device_);
  } catch (...) {
    // Going away regardless: a transport that fails to close is released all the same.
  }
  device_.Reset();
  stack_.Reset();
  ci_.Reset();
}

int FailureExitCode(IKorvelStackDevice& device) {
  if (device.GetLastResult() == kResultNone) return kExitUsage;
  const TRef<IKorvelStack> stack = device.GetStack();
  const TCiRef line = stack ? stack->GetCommunicationInterface() : TCiRef();
  return line && line->IsLineClosed() ? kExitConnection : kExitFailed;
}

}  // namespace zorvid::ctl
