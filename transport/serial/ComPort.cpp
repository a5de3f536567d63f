#include "transport/serial/ComPort.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

namespace zorvid {
namespace {

constexpr std::chrono::milliseconds kHandOffWait{2000};

constexpr std::array<std::int32_t, brUser> kFixedBaudRates{110,   300,   600,    1200,   2400,
                                                           4800,  9600,  14400,  19200,  38400,
                                                           56000, 57600, 115200, 128000, 256000};

std::atomic<TPortSettingsHook> portSettingsHook{nullptr};

TSyncId RegisterHandOff(void (*procedure)(void*), void* component, const std::string& name) {
  const TSyncId id = SafeSyncRegister(procedure, component);
  if (id == 0)
    throw EComPortError("No free hand-off to the owner's thread for the port (all " +
                        std::to_string(kSafeSyncEntries) + " in use) - " + name + " ");
  return id;
}

// The value of an enumeration property, refused when outside its list.
template <class TEnum>
TEnum CheckedEnum(TEnum value, TEnum last, const char* property, const std::string& name) {
  if (value > last)
    throw EComPortError(std::string(property) + " value " + std::to_string(value) +
                        " is out of range (0.." + std::to_string(last) + ") - " + name + " ");
  return value;
}

TComOptions DecodeOptions(const TComSettings& settings) {
  TComOptions options;
  if (settings.parityCheck) options.Include(coParityCheck);
  if (settings.dsrSensitivity) options.Include(coDsrSensitivity);
  if (settings.txContinueOnXoff) options.Include(coIgnoreXOff);
  if (settings.errorChar) options.Include(coErrorChar);
  if (settings.stripNull) options.Include(coStripNull);
  return options;
}

}  // namespace

TPortPresence ProbeComPort(int portNumber) {
  const std::string path = DevicePathForPort(portNumber);
  if (path.empty()) return TPortPresence::Absent;
  TSerialDevice device;  // closes the device as it goes
  switch (device.Open(path)) {
    case TOpenOutcome::Opened:
      return device.IsEmptyLegacySlot() ? TPortPresence::Absent : TPortPresence::Free;
    case TOpenOutcome::NoDevice:
    case TOpenOutcome::NotSerialDevice:
      return TPortPresence::Absent;
    case TOpenOutcome::Refused:
      break;
  }
  return TPortPresence::Busy;
}

std::int32_t FixedBaudRate(TComBaudrate rate) {
  return rate < brUser ? kFixedBaudRates[rate] : 0;
}

void SetPortSettingsHook(TPortSettingsHook hook) {
  portSettingsHook = hook;
}

TComFlowControl DecodeFlowControl(const TComSettings& settings) {
  if (settings.outxDsrFlow && settings.dtrControl == TDtrControl::Handshake) return fwDtrDsr;
  if (settings.outxCtsFlow && settings.rtsControl == TRtsControl::Handshake) return fwRtsCts;
  if (settings.outX && settings.inX) return fwXOnXOff;
  return fwNone;
}

void EncodeFlowControl(TComFlowControl flow, TComSettings& settings) {
  settings.outX = settings.inX = flow == fwXOnXOff;
  settings.outxCtsFlow = flow == fwRtsCts;
  settings.outxDsrFlow = flow == fwDtrDsr;
  // A line that stops being a handshake line stays asserted, as it is after opening.
  if (flow == fwDtrDsr)
    settings.dtrControl = TDtrControl::Handshake;
  else if (settings.dtrControl == TDtrControl::Handshake)
    settings.dtrControl = TDtrControl::Enable;
  if (flow == fwRtsCts)
    settings.rtsControl = TRtsControl::Handshake;
  else if (settings.rtsControl == TRtsControl::Handshake)
    settings.rtsControl = TRtsControl::Enable;
}

TComPort::TComPort(std::string name)
    : name_(std::move(name)),
      syncId_(RegisterHandOff(&TComPort::RunOnOwnerThread, this, name_)),
      core_(std::make_unique<TComPortCore>(TComCoreCallback(this, &TComPort::HandleCoreEvent))) {
  settings_ = BuildSettings();
  core_->SetSettings(settings_);
}

TComPort::~TComPort() {
  destroying_ = true;
  SafeSyncUnregister(syncId_);
  core_.reset();  // closes an open port; its threads end before the members they use go
}

EComPortError TComPort::Error(const std::string& text) const {
  return EComPortError(text + " - " + name_ + " ");
}

std::string TComPort::PortText() const {
  const std::string path = DevicePath();
  return path.empty() ? "COM" + std::to_string(comNumber_) : path;
}

std::string TComPort::PortStateText() const {
  return PortText() + (IsOpen() ? "" : " is not open");
}

void TComPort::Loaded() {
  if (autoOpen_) OpenPort();
}

void TComPort::OpenPort() {
  if (core_->IsActive()) return;
  SafeSyncEnable(syncId_, true);
  settings_ = BuildSettings();
  core_->SetSettings(settings_);
  core_->SetQueueSizes(properties_.inBufSize, properties_.outBufSize);
  core_->SetThreadPriorities(eventThreadPriority_, writeThreadPriority_);
  closing_ = false;
  try {
    core_->Open(comNumber_, devicePath_);
  } catch (...) {
    SafeSyncEnable(syncId_, false);
    throw;
  }
  OnPortOpen.Call(this);
}

void TComPort::ClosePort() {
  struct TClosingScope {
    std::atomic<bool>& flag;
    explicit TClosingScope(std::atomic<bool>& closing) : flag(closing) { flag = true; }
    ~TClosingScope() { flag = false; }
  } closing(closing_);
  // Disabled first: an event thread waiting for the owner's thread is released at once.
  SafeSyncEnable(syncId_, false);
  if (core_->IsActive()) core_->Close();
  DropPendingEvents();
  OnPortClose.Call(this);
}

void TComPort::Reopen(std::uint16_t comNumber, const std::string& devicePath) {
  const bool wasOpen = IsOpen();
  if (wasOpen) ClosePort();
  comNumber_ = comNumber;
  devicePath_ = devicePath;
  if (wasOpen) OpenPort();
}

void TComPort::SetComNumber(std::uint16_t value) {
  if (value != comNumber_) Reopen(value, devicePath_);
}

void TComPort::SetDevicePath(const std::string& value) {
  if (value != devicePath_) Reopen(comNumber_, value);
}

void TComPort::WriteBytes(const char* data, std::int32_t count) {
  if (closing_ || count <= 0) return;
  if (!core_->Write(data, static_cast<std::size_t>(count)))
    throw Error("Write data error [requested: " + std::to_string(count) +
                ", free: " + std::to_string(OutputFree()) + "]: " + PortStateText());
}

void TComPort::WriteBytes(const TByteString& data) {
  WriteBytes(data.data(), static_cast<std::int32_t>(data.size()));
}

TByteString TComPort::ReadBytes(std::int32_t count) {
  if (closing_ || count <= 0) return {};
  TByteString bytes(static_cast<std::size_t>(count), '\0');
  const std::int32_t read = core_->Read(bytes.data(), count);
  if (read != count)
    throw Error("Read data error [requested: " + std::to_string(count) +
                ", read: " + std::to_string(read) + "]: " + PortStateText());
  return bytes;
}

TByteString TComPort::ReadAll() {
  if (closing_) return {};
  TByteString bytes(static_cast<std::size_t>(InputCount()), '\0');
  const std::int32_t read = core_->Read(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(read));  // a purge may have taken some meanwhile
  return bytes;
}

std::int32_t TComPort::InputCount() {
  return core_->QueryStatus().input;
}

bool TComPort::WaitForInput(std::int32_t timeoutMs) {
  if (closing_) return false;
  return core_->WaitForInput(std::chrono::milliseconds(std::max(timeoutMs, 0)));
}

std::int32_t TComPort::OutputFree() {
  return static_cast<std::int32_t>(core_->OutputFree());
}

void TComPort::DiscardInput() {
  if (!closing_) core_->PurgeInput();
}

void TComPort::DiscardOutput() {
  if (!closing_) core_->PurgeOutput();
}

bool TComPort::ModemLine(int line) {
  constexpr std::array<std::uint32_t, 4> kLineBits{kMsCtsOn, kMsDsrOn, kMsRingOn, kMsRlsdOn};
  if (line < 1 || line > static_cast<int>(kLineBits.size()) || !IsOpen()) return false;
  return (core_->ModemStatus() & kLineBits[static_cast<std::size_t>(line - 1)]) != 0;
}

// Settings.

TComSettings TComPort::BuildSettings() const {
  const TProperties& p = properties_;
  TComSettings settings;
  settings.baudRate = p.baudRate == brUser ? p.userBaudRate : FixedBaudRate(p.baudRate);
  settings.byteSize = static_cast<std::uint8_t>(4 + p.databits);
  settings.parity = p.parity;
  settings.stopBits = p.stopbits;
  settings.xonChar = p.xonChar;
  settings.xoffChar = p.xoffChar;
  settings.xonLim = p.xonLim;
  settings.xoffLim = p.xoffLim;
  settings.binary = true;
  settings.parityCheck = p.options.Contains(coParityCheck);
  settings.dsrSensitivity = p.options.Contains(coDsrSensitivity);
  settings.txContinueOnXoff = p.options.Contains(coIgnoreXOff);
  settings.errorChar = p.options.Contains(coErrorChar);
  settings.stripNull = p.options.Contains(coStripNull);
  settings.dtrControl = p.dtr ? TDtrControl::Enable : TDtrControl::Disable;
  settings.rtsControl = p.rts ? TRtsControl::Enable : TRtsControl::Disable;
  EncodeFlowControl(p.flowControl, settings);
  return settings;
}

// Applies `change` to the properties and the rebuilt record to an open port; when the port
// refuses it, the properties and the record stay as they were.
template <class TChange>
void TComPort::ChangeSettings(TChange change) {
  const TProperties previous = properties_;
  change(properties_);
  const TComSettings rebuilt = BuildSettings();
  if (!core_->ApplySettings(rebuilt)) {
    properties_ = previous;
    throw Error("Error setting parameters from DCB: " + core_->Failure());
  }
  settings_ = rebuilt;
}

void TComPort::RecomputeThresholds(TProperties& properties) {
  const std::int32_t size = properties.inBufSize;
  const bool flowControl = properties.flowControl != fwNone;
  properties.xonLim = flowControl ? static_cast<std::uint16_t>(size / 4) : 0;
  properties.xoffLim = flowControl ? static_cast<std::uint16_t>(size - size / 4) : 0;
}

void TComPort::CheckClosed(const char* property) const {
  if (IsOpen())
    throw Error("Port is not closed: " + std::string(property) + " cannot change while " +
                PortText() + " is open");
}

void TComPort::SetBaudRate(TComBaudrate value) {
  CheckedEnum(value, brUser, "BaudRate", name_);
  ChangeSettings([value](TProperties& p) {
    p.baudRate = value;
    if (value != brUser) p.userBaudRate = 0;
  });
}

void TComPort::SetUserBaudRate(std::int32_t value) {
  ChangeSettings([value](TProperties& p) {
    p.userBaudRate = value;
    p.baudRate = brUser;
  });
}

void TComPort::SetDatabits(TComDatabits value) {
  CheckedEnum(value, db8, "Databits", name_);
  ChangeSettings([value](TProperties& p) { p.databits = value; });
}

void TComPort::SetParity(TComParity value) {
  CheckedEnum(value, paSpace, "Parity", name_);
  ChangeSettings([value](TProperties& p) { p.parity = value; });
}

void TComPort::SetStopbits(TComStopbits value) {
  CheckedEnum(value, sbTwo, "Stopbits", name_);
  ChangeSettings([value](TProperties& p) { p.stopbits = value; });
}

void TComPort::SetFlowControl(TComFlowControl value) {
  CheckedEnum(value, fwDtrDsr, "FlowControl", name_);
  ChangeSettings([value](TProperties& p) {
    p.flowControl = value;
    RecomputeThresholds(p);
  });
}

void TComPort::SetOptions(TComOptions value) {
  ChangeSettings([value](TProperties& p) { p.options = value; });
}

void TComPort::SetXOnChar(char value) {
  ChangeSettings([value](TProperties& p) { p.xonChar = value; });
}

void TComPort::SetXOffChar(char value) {
  ChangeSettings([value](TProperties& p) { p.xoffChar = value; });
}

void TComPort::SetXOnLim(std::uint16_t value) {
  properties_.xonLim = value;
  properties_.xoffLim = static_cast<std::uint16_t>(properties_.inBufSize - value);
}

void TComPort::SetXOffLim(std::uint16_t value) {
  properties_.xoffLim = value;
  properties_.xonLim = static_cast<std::uint16_t>(properties_.inBufSize - value);
}

void TComPort::SetInBufSize(std::int32_t value) {
  CheckClosed("InBufSize");
  properties_.inBufSize = value;
  RecomputeThresholds(properties_);
}

void TComPort::SetOutBufSize(std::int32_t value) {
  CheckClosed("OutBufSize");
  properties_.outBufSize = value;
}

void TComPort::SetDTR(bool value) {
  properties_.dtr = value;
  core_->SetLine(TSerialDevice::TOutputLine::DTR, value);
}

void TComPort::SetRTS(bool value) {
  properties_.rts = value;
  core_->SetLine(TSerialDevice::TOutputLine::RTS, value);
}

void TComPort::DecodeSettings(const TComSettings& settings) {
  ChangeSettings([&settings](TProperties& p) {
    const auto* fixed =
        std::find(kFixedBaudRates.begin(), kFixedBaudRates.end(), settings.baudRate);
    p.baudRate = fixed == kFixedBaudRates.end()
                     ? brUser
                     : static_cast<TComBaudrate>(fixed - kFixedBaudRates.begin());
    p.userBaudRate = p.baudRate == brUser ? settings.baudRate : 0;
    const bool knownSize = settings.byteSize >= 4 && settings.byteSize <= 8;
    p.databits = knownSize ? static_cast<TComDatabits>(settings.byteSize - 4) : db8;
    p.parity = settings.parity <= paSpace ? static_cast<TComParity>(settings.parity) : paNone;
    p.stopbits = settings.stopBits <= sbTwo ? static_cast<TComStopbits>(settings.stopBits) : sbOne;
    p.flowControl = DecodeFlowControl(settings);
    p.options = DecodeOptions(settings);
    p.xonChar = settings.xonChar;
    p.xoffChar = settings.xoffChar;
    p.xonLim = settings.xonLim;
    p.xoffLim = settings.xoffLim;
  });
}

bool TComPort::CanFetchConfiguration() {
  if (IsOpen()) return core_->FetchSettings().has_value();
  return DeviceExists(DevicePath());
}

std::string TComPort::DevicePath() const {
  return devicePath_.empty() ? DevicePathForPort(comNumber_) : devicePath_;
}

bool TComPort::ShowSettingsDialog() {
  auto request = SettingsForDialog();
  if (!request || !RunSettingsDialog(*request)) return false;
  ApplyDialogSettings(request->settings);
  return true;
}

std::optional<TComPort::TSettingsDialogRequest> TComPort::SettingsForDialog() {
  if (!portSettingsHook || !CanFetchConfiguration()) return std::nullopt;
  return TSettingsDialogRequest{"COM" + std::to_string(comNumber_), settings_};
}

bool TComPort::RunSettingsDialog(TSettingsDialogRequest& request) {
  const TPortSettingsHook hook = portSettingsHook;
  return hook && hook(request.portName, request.settings);
}

// Events.

void TComPort::HandleCoreEvent(TComCoreEvent kind, const TComEventData& data) {
  if (closing_ || destroying_) return;
  if (kind != ceException && OnNonSyncEvent.Call(this, kind, data)) return;
  {
    std::lock_guard lock(pendingMutex_);
    pending_.push_back({kind, data});
  }
  // Refused only while the port closes, which drops what is pending.
  SafeSyncCall(syncId_, kHandOffWait);
}

void TComPort::RunOnOwnerThread(void* self) {
  static_cast<TComPort*>(self)->HandleNextEvent();
}

void TComPort::HandleNextEvent() {
  TPendingEvent event;
  {
    std::lock_guard lock(pendingMutex_);
    if (pending_.empty()) return;  // taken by an earlier turn whose hand-off had timed out
    event = std::move(pending_.front());
    pending_.pop_front();
  }
  if (closing_) return;
  OnSyncEvent.Call(this, event.kind, event.data);
  switch (event.kind) {
    case ceOutFree:
      OnOutBufFree.Call(this);
      break;
    case ceLineEvent:
      RaiseLineEvents(event.data.value);
      break;
    case ceNeedReadData:
      OnDataRecived.Call(this, static_cast<std::int32_t>(event.data.value));
      break;
    case ceException:
      std::rethrow_exception(event.data.error);
  }
}

void TComPort::RaiseLineEvents(std::uint32_t mask) {
  // The query also gathers the line errors that this event takes.
  const TQueueCounts counts = core_->QueryStatus();
  const std::uint32_t errors = core_->TakeLineErrors();
  if (mask & kEvRxChar) OnDataRecived.Call(this, counts.input);
  if (mask & kEvErr) OnLineError.Call(this, errors);
  if (mask & kEvCts) OnCTSChanged.Call(this);
  if (mask & kEvDsr) OnDSRChanged.Call(this);
  if (mask & kEvRing) OnRINGDetected.Call(this);
  if (mask & kEvRlsd) OnRLSDChanged.Call(this);
}

void TComPort::DropPendingEvents() {
  std::lock_guard lock(pendingMutex_);
  pending_.clear();
}

}  // namespace zorvid
