#include "link/DisplayConnection.h"

#include "core/EchoText.h"
#include "core/HexText.h"
#include "core/NumberText.h"
#include "transport/ConnectionString.h"

namespace zorvid {
namespace {

// The connection string as given, which may be long: the user needs all of it to find a fault.
std::string QuotedWhole(const std::string& text) {
  return InQuotes(EscapeControls(text));
}

std::string CannotOpen(const std::string& connectionString, ICommunicationInterface& line) {
  return "cannot open " + QuotedWhole(connectionString) + ": " + line.GetFailureReason();
}

}  // namespace

std::string AddressText(TByte address) {
  return std::to_string(address) + " (0x" +
         FormatHexPacked(std::string(1, static_cast<char>(address))) + ")";
}

TParsedAddress ParseDisplayAddress(std::string_view text, TByte highest) {
  const std::optional<std::int64_t> value = ParseInteger(text);
  if (!value) return {0, TAddressFault::kNotANumber};
  // Every receiver refuses it: no display could answer there.
  if (*value == kRefusedAddress) return {0, TAddressFault::kRefused};
  if (*value < 0 || *value > highest) return {0, TAddressFault::kOutOfRange};
  return {static_cast<TByte>(*value), TAddressFault::kNone};
}

std::string TriesText(int tried) {
  return tried > 1 ? " in " + std::to_string(tried) + " tries" : "";
}

TDisplayConnection::TDisplayConnection()
    : stack_(New<TKorvelStack>()), device_(New<TZorvid>(kZorvidDefaultAddress)) {
  device_->SetStack(stack_);
}

TDisplayConnection::~TDisplayConnection() {
  Disconnect();
  device_->SetStack(nullptr);
}

bool TDisplayConnection::Connect(const std::string& connectionString, TByte address,
                                 int identificationTries) {
  Disconnect();
  failureReason_.clear();
  identification_ = {};
  if (Establish(connectionString, address, identificationTries)) return true;
  Disconnect();
  return false;
}

// The steps of a connect; the first that fails names itself in the failure reason.
bool TDisplayConnection::Establish(const std::string& connectionString, TByte address,
                                   int identificationTries) {
  TCiRef line;
  if (!CreateTransport(connectionString, line)) {
    failureReason_ =
        "no transport for " + QuotedWhole(connectionString) + " (provider missing or unknown)";
    return false;
  }
  // A line that did not open fails the identification below; its own reason says more.
  const bool opened = line->Open();
  device_->SetAddress(address);
  device_->GetStack()->SetCommunicationInterface(line);
  if (!opened) failureReason_ = CannotOpen(connectionString, *line);
  if (identificationTries == 0) return opened;
  // Repeated only as the retry rule allows: never after a refusal or once the line has closed.
  identification_ = SendStep(*device_, TStep::kIdentify, identificationTries,
                             [this] { return device_->LoadIdentification(); });
  if (!identification_.Ok()) {
    if (opened)
      failureReason_ = "no identification from address " + AddressText(address) +
                       TriesText(identification_.tries) + ": " + identification_.Text(false);
    return false;
  }
  capabilities_ = CapabilitiesOf(device_->GetIdentificationText());
  return true;
}

void TDisplayConnection::Disconnect() noexcept {
  const TRef<IKorvelStack> stack = device_->GetStack();
  const TCiRef line = stack->GetCommunicationInterface();
  if (!line) return;
  try {
    line->Close(false);
  } catch (...) {
    // Going away regardless: a transport that fails to close is released all the same.
  }
  stack->SetCommunicationInterface(nullptr);
}

bool TDisplayConnection::IsConnected() const {
  const TCiRef line = Line();
  return line && line->GetActive();
}

std::optional<std::string> TDisplayConnection::TakeLineLoss() {
  const TCiRef line = Line();
  if (!line || !line->IsLineClosed()) return std::nullopt;
  std::string reason = line->GetFailureReason();
  Disconnect();
  return reason.empty() ? "the line was closed" : reason;
}

void TDisplayConnection::Abandon() {
  stack_->Abandon();
}

void TDisplayConnection::Resume() {
  stack_->Resume();
}

TCiRef TDisplayConnection::Line() const {
  return device_->GetStack()->GetCommunicationInterface();
}

}  // namespace zorvid
