#include "transport/SerialPortInterface.h"

// Before any Qt header, whose keyword macros ("signals") would rewrite the driver's names.
#include "transport/serial/ComPort.h"

#include <QObject>
#include <algorithm>
#include <cctype>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

namespace zorvid {
namespace {

// The driver keeps up to this many bytes queued in each direction, far more than its own
// defaults, so that a burst of display traffic never meets a full queue.
constexpr std::int32_t kQueueSize = 10'000'000;
constexpr std::int32_t kDefaultBaudRate = 9600;
constexpr std::int32_t kHighestPortNumber = 0xFFFF;

// The component's numbers of the input lines.
constexpr int kLineCTS = 1;
constexpr int kLineDSR = 2;
constexpr int kLineRing = 3;
constexpr int kLineCarrierDetect = 4;

// Counts the component's events running on its thread. The count outlives the transport, which
// a handler may release inside such an event.
class TEventScope {
 public:
  explicit TEventScope(std::shared_ptr<std::atomic<int>> depth) : depth_(std::move(depth)) {
    ++*depth_;
  }
  ~TEventScope() { --*depth_; }
  TEventScope(const TEventScope&) = delete;
  TEventScope& operator=(const TEventScope&) = delete;

 private:
  std::shared_ptr<std::atomic<int>> depth_;
};

// Holds a component released inside one of its own events until the event loop of the thread
// that ran the event deletes it (deferred objects also go when that thread ends).
class TDeferredPortRelease final : public QObject {
 public:
  explicit TDeferredPortRelease(std::unique_ptr<TComPort> port) : port_(std::move(port)) {}

 private:
  std::unique_ptr<TComPort> port_;
};

// The port number of a connection string that is only "COM<n>" (any case).
std::optional<std::int32_t> NumberAfterCom(std::string_view text) {
  constexpr std::string_view kPrefix = "COM";
  if (text.size() < kPrefix.size() ||
      !std::equal(kPrefix.begin(), kPrefix.end(), text.begin(), [](char prefix, char c) {
        return prefix == std::toupper(static_cast<unsigned char>(c));
      }))
    return std::nullopt;
  return ParseDecimal(text.substr(kPrefix.size()));
}

}  // namespace

TSerialPortInterface::TSerialPortInterface()
    : TSerialCommunicationInterface("TSerialPortInterface"), port_(std::make_unique<TComPort>()) {
  port_->SetUserBaudRate(kDefaultBaudRate);
  port_->SetDatabits(db8);
  port_->SetStopbits(sbOne);
  port_->SetParity(paNone);
  port_->SetDTR(true);
  port_->SetRTS(true);
  port_->SetFlowControl(fwNone);
  port_->SetInBufSize(kQueueSize);
  port_->SetOutBufSize(kQueueSize);
  port_->SetEventThreadPriority(tpNormal);
  port_->SetWriteThreadPriority(tpHighest);
  ConnectPortEvents();
}

TSerialPortInterface::~TSerialPortInterface() = default;

void TSerialPortInterface::BeforeDestruction() noexcept {
  try {
    Close(false);
  } catch (...) {
    // Going away: nobody is left to tell.
  }
  ReleasePort();
  TSerialCommunicationInterface::BeforeDestruction();
}

void TSerialPortInterface::ReleasePort() noexcept {
  if (!port_) return;
  DisconnectPortEvents();
  if (*portEventDepth_ == 0) {
    port_.reset();
    return;
  }
  // Inside one of the component's own events, on its thread: it must outlive the call that
  // raised it.
  (new TDeferredPortRelease(std::move(port_)))->deleteLater();
}

// Events.

void TSerialPortInterface::ConnectPortEvents() {
  port_->OnDataRecived.Set({this, &TSerialPortInterface::OnPortData});
  port_->OnCTSChanged.Set({this, &TSerialPortInterface::OnPortLineChanged<kSignalCTS, kLineCTS>});
  port_->OnDSRChanged.Set({this, &TSerialPortInterface::OnPortLineChanged<kSignalDSR, kLineDSR>});
  port_->OnRINGDetected.Set(
      {this, &TSerialPortInterface::OnPortLineChanged<kSignalRing, kLineRing>});
  port_->OnRLSDChanged.Set(
      {this, &TSerialPortInterface::OnPortLineChanged<kSignalCarrierDetect, kLineCarrierDetect>});
}

void TSerialPortInterface::DisconnectPortEvents() {
  port_->OnDataRecived.Set({});
  port_->OnCTSChanged.Set({});
  port_->OnDSRChanged.Set({});
  port_->OnRINGDetected.Set({});
  port_->OnRLSDChanged.Set({});
}

void TSerialPortInterface::OnPortData(TComPort*, std::int32_t) {
  const TEventScope scope(portEventDepth_);
  DoDataRcv();
}

// The state passed is the line as it is when the component's thread gets to the event.
template <std::int32_t Signal, int Line>
void TSerialPortInterface::OnPortLineChanged(TComPort*) {
  const TEventScope scope(portEventDepth_);
  DoChangeSignal(Signal, ModemLine(Line));
}

// The component.

template <class TChange>
bool TSerialPortInterface::ChangePort(bool valid, TChange change) {
  if (!valid) return false;
  TWriteLocker guard(*this);
  try {
    change(*port_);
  } catch (const std::exception& error) {
    SetFailureReason(error.what());
    return false;
  }
  return true;
}

bool TSerialPortInterface::GetActive() {
  return port_ && port_->IsOpen();
}

bool TSerialPortInterface::IsLineClosed() {
  return !GetActive() || port_->HungUp();
}

void TSerialPortInterface::SetPortEnabled(bool value) {
  TSerialCommunicationInterface::SetPortEnabled(value);
  if (!value) Close(true);
}

bool TSerialPortInterface::InternalOpen() {
  TWriteLocker guard(*this);
  // Fresh character time, and the rate announced, for every open.
  SetBaudRate(GetBaudRate());
  try {
    port_->OpenPort();
  } catch (const std::exception& error) {
    // The device's own account names the path and the system's error; the driver's text puts
    // its fixed words and a port number in front, and a device given by path has no number.
    const std::string& detail = port_->OpenFailure();
    SetFailureReason(detail.empty() ? error.what() : detail);
    return false;
  }
  return port_->IsOpen();
}

bool TSerialPortInterface::InternalClose(bool) {
  TWriteLocker guard(*this);
  if (!port_->IsOpen()) return false;
  return ChangePort(true, [](TComPort& port) { port.ClosePort(); }) && !port_->IsOpen();
}

std::int32_t TSerialPortInterface::InternalWrite(const TByteString& data) {
  TWriteLocker guard(*this);
  port_->WriteBytes(data);
  return static_cast<std::int32_t>(data.size());
}

TByteString TSerialPortInterface::InternalRead() {
  TWriteLocker guard(*this);
  return port_->ReadAll();
}

std::int32_t TSerialPortInterface::InBuffUsed() {
  try {
    return port_->InputCount();
  } catch (const std::exception& error) {
    SetFailureReason(error.what());
    ReportError("InBuffUsed", {}, 0);
    return 0;
  }
}

bool TSerialPortInterface::WaitForData(std::int32_t timeoutMs) {
  if (InBuffUsed() != 0) return true;
  try {
    if (port_->WaitForInput(timeoutMs)) return true;
    if (port_->HungUp())
      SetFailureReason(port_->DevicePath() + " hung up: the other side closed the line");
    return false;
  } catch (const std::exception& error) {
    SetFailureReason(error.what());
    ReportError("WaitForData", {std::to_string(timeoutMs)}, 0);
    return false;
  }
}

void TSerialPortInterface::PurgeInput() {
  TWriteLocker guard(*this);
  port_->DiscardInput();
}

void TSerialPortInterface::PurgeOutput() {
  TWriteLocker guard(*this);
  port_->DiscardOutput();
}

bool TSerialPortInterface::Setup() {
  std::optional<TComPort::TSettingsDialogRequest> request;
  {
    TReadLocker guard(*this);
    request = port_->SettingsForDialog();
  }
  // Not under the lock: the modal dialog runs the event loop, and whatever runs in it (a
  // received-data notification, the window's poll) may need the line.
  if (!request || !TComPort::RunSettingsDialog(*request)) return false;
  if (!ChangePort(true,
                  [&request](TComPort& port) { port.ApplyDialogSettings(request->settings); }))
    return false;
  DoConfigurationChanged();
  return true;
}

// Settings.

bool TSerialPortInterface::ApplyBaudRate(std::int32_t value) {
  return ChangePort(ValidBaudRate(value),
                    [value](TComPort& port) { port.SetUserBaudRate(value); }) &&
         TSerialCommunicationInterface::ApplyBaudRate(value);
}

bool TSerialPortInterface::ApplyParity(TParity value) {
  return ChangePort(ValidParity(value),
                    [value](TComPort& port) { port.SetParity(static_cast<TComParity>(value)); });
}

bool TSerialPortInterface::ApplyStopBits(TStopBits value) {
  return ChangePort(ValidStopBits(value), [value](TComPort& port) {
    port.SetStopbits(static_cast<TComStopbits>(value));
  });
}

bool TSerialPortInterface::ApplyDatabits(std::uint8_t value) {
  // The component counts from 4 data bits.
  return ChangePort(ValidDatabits(value), [value](TComPort& port) {
    port.SetDatabits(static_cast<TComDatabits>(value - 4));
  });
}

bool TSerialPortInterface::ApplyDTR(bool value) {
  return ChangePort(true, [value](TComPort& port) { port.SetDTR(value); });
}

bool TSerialPortInterface::ApplyRTS(bool value) {
  return ChangePort(true, [value](TComPort& port) { port.SetRTS(value); });
}

bool TSerialPortInterface::SetComNumber(std::int32_t value) {
  return ChangePort(value >= 0 && value <= kHighestPortNumber, [value](TComPort& port) {
    port.SetComNumber(static_cast<std::uint16_t>(value));
  });
}

bool TSerialPortInterface::SetDevicePath(const std::string& path) {
  return ChangePort(true, [&path](TComPort& port) { port.SetDevicePath(path); });
}

std::int32_t TSerialPortInterface::GetBaudRate() {
  TReadLocker guard(*this);
  const TComBaudrate rate = port_->GetBaudRate();
  return rate == brUser ? port_->GetUserBaudRate() : FixedBaudRate(rate);
}

TParity TSerialPortInterface::GetParity() {
  TReadLocker guard(*this);
  return static_cast<TParity>(port_->GetParity());
}

TStopBits TSerialPortInterface::GetStopBits() {
  TReadLocker guard(*this);
  return static_cast<TStopBits>(port_->GetStopbits());
}

std::uint8_t TSerialPortInterface::GetDatabits() {
  TReadLocker guard(*this);
  return static_cast<std::uint8_t>(port_->GetDatabits() + 4);
}

bool TSerialPortInterface::GetDTR() {
  TReadLocker guard(*this);
  return port_->GetDTR();
}

bool TSerialPortInterface::GetRTS() {
  TReadLocker guard(*this);
  return port_->GetRTS();
}

bool TSerialPortInterface::ModemLine(int line) {
  TWriteLocker guard(*this);
  return port_->ModemLine(line);
}

bool TSerialPortInterface::ReadCTS() {
  return ModemLine(kLineCTS);
}

bool TSerialPortInterface::ReadDSR() {
  return ModemLine(kLineDSR);
}

std::int32_t TSerialPortInterface::GetOutBufSize() {
  TReadLocker guard(*this);
  return port_->GetOutBufSize();
}

void TSerialPortInterface::SetOutBufSize(std::int32_t value) {
  TWriteLocker guard(*this);
  port_->SetOutBufSize(value);
}

std::int32_t TSerialPortInterface::GetInBufSize() {
  TReadLocker guard(*this);
  return port_->GetInBufSize();
}

void TSerialPortInterface::SetInBufSize(std::int32_t value) {
  TWriteLocker guard(*this);
  port_->SetInBufSize(value);
}

// The connection string.

std::string TSerialPortInterface::GetConnectionName() {
  TReadLocker guard(*this);
  const std::uint16_t number = port_->GetComNumber();
  return number == 0 ? "COM unknown" : "COM" + std::to_string(number);
}

std::string TSerialPortInterface::GetConfiguration() {
  TReadLocker guard(*this);
  std::string text = TSerialCommunicationInterface::GetConfiguration();
  text += ";comport=" + std::to_string(port_->GetComNumber());
  if (!port_->GetDevicePath().empty()) text += ";device=" + port_->GetDevicePath();
  return text;
}

bool TSerialPortInterface::ApplyConfiguration(const std::string& text) {
  const TConnectionSettings settings(text);
  CheckLineSettings(settings);
  SelectPort(settings, text);
  ApplyLineSettings(settings);
  return true;
}

void TSerialPortInterface::SelectPort(const TConnectionSettings& settings,
                                      const std::string& text) {
  // The device first: it overrides the number's device, so that an open port whose number
  // changes as well reopens on the new device.
  if (const auto device = settings.Find("device")) SetDevicePath(*device);
  const auto number = settings.Has("comport") ? settings.Int("comport") : NumberAfterCom(text);
  if (number) SetComNumber(*number);
}

void RegisterSerialPortTransport() {
  std::vector<std::string> keys = TSerialCommunicationInterface::LineKeys();
  keys.insert(keys.begin(), {"comport", "device"});
  RegisterTransport(&ConstructTransport<TSerialPortInterface>, "SERIAL_PORT", std::move(keys));
}

void UnregisterSerialPortTransport() {
  UnregisterTransport(&ConstructTransport<TSerialPortInterface>);
}

}  // namespace zorvid
