#include "transport/FTDIDirect.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <utility>

namespace zorvid {
namespace {

using namespace std::chrono_literals;

constexpr auto kSignalWait = 100ms;  // longest wait of an attached reader for a signal
// Longest wait of WaitForData between two looks at the queue: the library's signal can fall
// between the look and the wait, which cannot be one step.
constexpr auto kQueueRecheck = 5ms;

std::atomic<TUsbSetupHook> usbSetupHook{nullptr};

const TFtd2xxEntryPoints& Entry() {
  return Ftd2xx().entry;
}

// `wait` from now on the monotonic clock, as pthread_cond_timedwait takes it.
timespec MonotonicDeadline(std::chrono::nanoseconds wait) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto total =
      std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) + wait;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(total);
  return {static_cast<time_t>(seconds.count()), static_cast<long>((total - seconds).count())};
}

}  // namespace

void SetUsbSetupHook(TUsbSetupHook hook) {
  usbSetupHook = hook;
}

// ---- The reader thread ------------------------------------------------------------------

// The library signals `signal` (holding its mutex) when bytes arrive; the same condition variable
// wakes the reader for the transport's own signals. signal.eMutex guards every field below.
struct TFTDIDeviceThread::TState {
  TState() {
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&signal.eCondVar, &attributes);
    pthread_condattr_destroy(&attributes);
    pthread_mutex_init(&signal.eMutex, nullptr);
  }
  ~TState() {
    pthread_cond_destroy(&signal.eCondVar);
    pthread_mutex_destroy(&signal.eMutex);
  }
  TState(const TState&) = delete;
  TState& operator=(const TState&) = delete;

  // Runs `change` under the mutex and wakes every waiter.
  template <class TChange>
  void Change(TChange change) {
    pthread_mutex_lock(&signal.eMutex);
    change();
    pthread_cond_broadcast(&signal.eCondVar);
    pthread_mutex_unlock(&signal.eMutex);
  }
  bool IsCurrent(std::uint64_t run) {
    pthread_mutex_lock(&signal.eMutex);
    const bool current = run == currentRun;
    pthread_mutex_unlock(&signal.eMutex);
    return current;
  }
  // Up to kSignalWait for either signal, unless `run` has been stopped. A wake-up without a
  // flag set is the library's data signal: the library only signals the condition variable. The
  // data signal resets itself. The library may wake only one waiter; a thread waiting in
  // WaitForData hears of the data too, as the wake-up is passed on to every waiter.
  void WaitForSignal(std::uint64_t run) {
    pthread_mutex_lock(&signal.eMutex);
    if (!dataSignalled && run == currentRun) {
      const timespec deadline = MonotonicDeadline(kSignalWait);
      if (pthread_cond_timedwait(&signal.eCondVar, &signal.eMutex, &deadline) == 0)
        pthread_cond_broadcast(&signal.eCondVar);
    }
    dataSignalled = false;
    pthread_mutex_unlock(&signal.eMutex);
  }
  // Up to `wait` for any wake-up of the condition variable; no flag is touched.
  void WaitForWake(std::chrono::nanoseconds wait) {
    pthread_mutex_lock(&signal.eMutex);
    const timespec deadline = MonotonicDeadline(wait);
    pthread_cond_timedwait(&signal.eCondVar, &signal.eMutex, &deadline);
    pthread_mutex_unlock(&signal.eMutex);
  }

  EVENT_HANDLE signal{};
  bool dataSignalled = false;
  // The run that may go on; every start and every stop moves it on, so stopped runs never match.
  std::uint64_t currentRun = 0;
};

TFTDIDeviceThread::TFTDIDeviceThread() : state_(std::make_shared<TState>()) {}

TFTDIDeviceThread::~TFTDIDeviceThread() {
  Stop();
  JoinStopped();
  // Left only when this is the reader itself: it ends on its own with the state it holds.
  std::lock_guard guard(threadsMutex_);
  for (std::thread& self : stopped_)
    self.detach();
}

EVENT_HANDLE* TFTDIDeviceThread::DataSignal() {
  return &state_->signal;
}

void TFTDIDeviceThread::Start(TFTDIDevice* device) {
  Stop();
  std::uint64_t run = 0;
  state_->Change([&] {
    run = ++state_->currentRun;
    state_->dataSignalled = false;
  });
  // Threads of an unprivileged process cannot be raised above the normal priority here; the
  // reader's latency rests on the library's signal instead.
  std::lock_guard guard(threadsMutex_);
  running_ = std::thread(&TFTDIDeviceThread::Run, state_, run, device);
}

void TFTDIDeviceThread::Stop() {
  std::lock_guard guard(threadsMutex_);
  if (!running_.joinable()) return;
  state_->Change([this] { ++state_->currentRun; });
  stopped_.push_back(std::move(running_));
}

std::vector<std::thread> TFTDIDeviceThread::TakeJoinable(std::vector<std::thread>& threads) {
  std::vector<std::thread> joinable;
  const auto self = std::this_thread::get_id();
  for (auto it = threads.begin(); it != threads.end();) {
    if (it->get_id() == self) {
      ++it;
      continue;
    }
    joinable.push_back(std::move(*it));
    it = threads.erase(it);
  }
  return joinable;
}

void TFTDIDeviceThread::JoinStopped() {
  std::vector<std::thread> joinable;
  {
    std::lock_guard guard(threadsMutex_);
    joinable = TakeJoinable(stopped_);
  }
  for (std::thread& thread : joinable)
    thread.join();
}

std::thread::id TFTDIDeviceThread::ThreadId() const {
  std::lock_guard guard(threadsMutex_);
  return running_.get_id();
}

void TFTDIDeviceThread::WaitForDataSignal(std::chrono::nanoseconds wait) {
  state_->WaitForWake(wait);
}

void TFTDIDeviceThread::SetDataSignal() {
  state_->Change([this] { state_->dataSignalled = true; });
}

void TFTDIDeviceThread::Run(std::shared_ptr<TState> state, std::uint64_t run, TFTDIDevice* device) {
  // A stopped run never touches the device again: it may be gone by then.
  while (state->IsCurrent(run)) {
    try {
      device->ReaderPass();
    } catch (...) {
      // An error report handler that raises must not end the reader.
    }
    state->WaitForSignal(run);
  }
}

// ---- The transport ------------------------------------------------------------------------

TFTDIDevice::TFTDIDevice() : TSerialCommunicationInterface("TFTDIDevice") {}

TFTDIDevice::~TFTDIDevice() = default;

void TFTDIDevice::BeforeDestruction() noexcept {
  reader_.Stop();
  reader_.JoinStopped();
  {
    TWriteLocker guard(*this);
    if (handle_) InternalClose(true);
  }
  TSerialCommunicationInterface::BeforeDestruction();
}

bool TFTDIDevice::Open() {
  const bool opened = TSerialCommunicationInterface::Open();
  reader_.JoinStopped();
  return opened;
}

bool TFTDIDevice::Close(bool force) {
  const bool closed = TSerialCommunicationInterface::Close(force);
  reader_.JoinStopped();
  return closed;
}

void TFTDIDevice::ReaderPass() {
  // The flag stays set until the close is done, so a blocking request ends its wait meanwhile.
  if (closePending_) {
    CloseAfterIoError();
    return;
  }
  if (InBuffUsed() > 0) DoDataRcv();
}

// Not through Close, which would clear the reason the failing call recorded. Forced: a bridge
// that fails with an input/output error is gone, whatever its close says.
void TFTDIDevice::CloseAfterIoError() {
  {
    TWriteLocker guard(*this);
    if (!handle_) {
      closePending_ = false;
      return;
    }
    InternalClose(true);  // clears the flag
  }
  DoClose();
}

std::string TFTDIDevice::CallArguments(const std::string& values) const {
  std::string text = "\"" + serialNumber_ + "\"";
  if (!values.empty()) text += ", " + values;
  return text;
}

bool TFTDIDevice::Succeeded(const char* call, FT_STATUS status, const std::string& values) {
  if (status == kFtOk) return true;
  SetFailureReason(FtCallFailure(call, CallArguments(values), status));
  if (status == kFtIoError && !closePending_.exchange(true)) reader_.SetDataSignal();
  return false;
}

bool TFTDIDevice::GetActive() {
  TReadLocker guard(*this);
  return handle_ != nullptr;
}

FT_HANDLE TFTDIDevice::GetHandle() {
  TReadLocker guard(*this);
  return handle_;
}

std::string TFTDIDevice::GetConnectionName() {
  return GetSerialNumber();
}

std::string TFTDIDevice::GetSerialNumber() {
  TReadLocker guard(*this);
  return serialNumber_;
}

bool TFTDIDevice::InternalOpen() {
  TWriteLocker guard(*this);
  if (serialNumber_.empty()) {
    SetFailureReason("no serial number given");
    return false;
  }
  if (!Ftd2xx().Available()) {
    SetFailureReason(Ftd2xx().UnavailableReason());
    return false;
  }
  FT_HANDLE handle = nullptr;
  const FT_STATUS status = FtCall(Entry().FT_OpenEx, static_cast<void*>(serialNumber_.data()),
                                  kFtOpenBySerialNumber, &handle);
  if (status != kFtOk || !handle) {
    // Not through Succeeded: nothing is open that a pending close could close.
    SetFailureReason(status != kFtOk ? FtCallFailure("FT_OpenEx", CallArguments({}), status)
                                     : "FT_OpenEx(" + CallArguments({}) + ") gave no handle");
    return false;
  }
  handle_ = handle;
  closePending_ = false;
  Succeeded("FT_ResetDevice", FtCall(Entry().FT_ResetDevice, handle_));
  Succeeded("FT_SetEventNotification",
            FtCall(Entry().FT_SetEventNotification, handle_, kFtEventRxChar | kFtEventModemStatus,
                   static_cast<void*>(reader_.DataSignal())));
  reader_.Start(this);
  ApplyStoredSettings();
  return true;
}

void TFTDIDevice::ApplyStoredSettings() {
  ApplyBaudRate(baudRate_);
  ApplyDatabits(databits_);
  ApplyStopBits(stopBits_);
  ApplyParity(parity_);
  ApplyDTR(dtr_);
  ApplyRTS(rts_);
}

// A refused close is not handed to Succeeded: an input/output error of the close itself would
// only lead to the same close again.
bool TFTDIDevice::InternalClose(bool force) {
  const FT_STATUS status = FtCall(Entry().FT_Close, handle_);
  if (status != kFtOk) SetFailureReason(FtCallFailure("FT_Close", CallArguments({}), status));
  if (status == kFtOk || force) ForgetHandle();
  return status == kFtOk;
}

// The reader is only told to stop: it may be waiting for the lock held here.
void TFTDIDevice::ForgetHandle() {
  handle_ = nullptr;
  closePending_ = false;
  reader_.Stop();
}

void TFTDIDevice::SetPortEnabled(bool value) {
  TSerialCommunicationInterface::SetPortEnabled(value);
  Close(true);
  if (value) return;
  TWriteLocker guard(*this);
  ForgetHandle();
}

std::int32_t TFTDIDevice::InternalWrite(const TByteString& data) {
  TWriteLocker guard(*this);
  if (!handle_) return 0;
  DWORD written = 0;
  if (!Succeeded("FT_Write",
                 FtCall(Entry().FT_Write, handle_, const_cast<char*>(data.data()),
                        static_cast<DWORD>(data.size()), &written),
                 std::to_string(data.size())))
    return 0;
  return static_cast<std::int32_t>(written);
}

TByteString TFTDIDevice::InternalRead() {
  TWriteLocker guard(*this);
  TByteString data;
  const std::int32_t waiting = InBuffUsed();
  if (waiting > 0) {
    data.resize(static_cast<std::size_t>(waiting));
    DWORD read = 0;
    if (!Succeeded("FT_Read",
                   FtCall(Entry().FT_Read, handle_, static_cast<void*>(data.data()),
                          static_cast<DWORD>(waiting), &read),
                   std::to_string(waiting)))
      read = 0;
    data.resize(std::min<std::size_t>(read, data.size()));
  }
  // What the read left behind is announced at once, not when the next byte arrives.
  if (InBuffUsed() > 0) reader_.SetDataSignal();
  return data;
}

std::int32_t TFTDIDevice::InBuffUsed() {
  TWriteLocker guard(*this);
  if (!handle_) return 0;
  DWORD count = 0;
  if (!Succeeded("FT_GetQueueStatus", FtCall(Entry().FT_GetQueueStatus, handle_, &count))) return 0;
  return static_cast<std::int32_t>(count);
}

bool TFTDIDevice::WaitForData(std::int32_t timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    // A pending close ends the wait: the bridge is gone, and the close waits for the lock.
    if (closePending_) return false;
    if (InBuffUsed() > 0) return true;
    if (!GetActive()) return false;
    const auto left = end - std::chrono::steady_clock::now();
    if (left <= 0ns) return false;
    reader_.WaitForDataSignal(std::min<std::chrono::nanoseconds>(left, kQueueRecheck));
  }
}

void TFTDIDevice::PurgeInput() {
  TWriteLocker guard(*this);
  if (handle_) Succeeded("FT_Purge", FtCall(Entry().FT_Purge, handle_, kFtPurgeRx), "PURGE_RX");
}

void TFTDIDevice::PurgeOutput() {
  TWriteLocker guard(*this);
  if (handle_) Succeeded("FT_Purge", FtCall(Entry().FT_Purge, handle_, kFtPurgeTx), "PURGE_TX");
}

bool TFTDIDevice::Setup() {
  const TUsbSetupHook hook = usbSetupHook;
  if (!hook || !hook(GetBaudRate())) return false;
  DoConfigurationChanged();
  return true;
}

// ---- Settings -------------------------------------------------------------------------------

bool TFTDIDevice::ApplyBaudRate(std::int32_t value) {
  if (!ValidBaudRate(value)) return false;
  TWriteLocker guard(*this);
  if (handle_ && !Succeeded("FT_SetBaudRate",
                            FtCall(Entry().FT_SetBaudRate, handle_, static_cast<ULONG>(value)),
                            std::to_string(value)))
    return false;
  baudRate_ = value;
  return TSerialCommunicationInterface::ApplyBaudRate(value);
}

std::string TFTDIDevice::CharacteristicsText() const {
  return std::to_string(databits_) + ", " + std::to_string(static_cast<int>(stopBits_)) + ", " +
         std::to_string(static_cast<int>(parity_));
}

FT_STATUS TFTDIDevice::SetDataCharacteristics() {
  return FtCall(Entry().FT_SetDataCharacteristics, handle_, static_cast<UCHAR>(databits_),
                static_cast<UCHAR>(stopBits_), static_cast<UCHAR>(parity_));
}

// The three characteristics go to the library together; a refused one is taken back.
template <class TValue>
bool TFTDIDevice::ApplyCharacteristic(bool valid, TValue& field, TValue value) {
  if (!valid) return false;
  TWriteLocker guard(*this);
  const TValue old = std::exchange(field, value);
  if (!handle_ ||
      Succeeded("FT_SetDataCharacteristics", SetDataCharacteristics(), CharacteristicsText()))
    return true;
  field = old;
  return false;
}

bool TFTDIDevice::ApplyParity(TParity value) {
  return ApplyCharacteristic(ValidParity(value), parity_, value);
}

bool TFTDIDevice::ApplyStopBits(TStopBits value) {
  return ApplyCharacteristic(ValidStopBits(value), stopBits_, value);
}

bool TFTDIDevice::ApplyDatabits(std::uint8_t value) {
  return ApplyCharacteristic(ValidDatabits(value), databits_, value);
}

bool TFTDIDevice::ApplyLine(bool& field, bool value, const char* setName, TFT_SetDtr set,
                            const char* clearName, TFT_ClrDtr clear) {
  TWriteLocker guard(*this);
  if (handle_ && !Succeeded(value ? setName : clearName, FtCall(value ? set : clear, handle_)))
    return false;
  field = value;
  return true;
}

bool TFTDIDevice::ApplyDTR(bool value) {
  return ApplyLine(dtr_, value, "FT_SetDtr", Entry().FT_SetDtr, "FT_ClrDtr", Entry().FT_ClrDtr);
}

bool TFTDIDevice::ApplyRTS(bool value) {
  return ApplyLine(rts_, value, "FT_SetRts", Entry().FT_SetRts, "FT_ClrRts", Entry().FT_ClrRts);
}

bool TFTDIDevice::ApplySerialNumber(const std::string& value) {
  const bool applied = ApplySerialNumberLocked(value);
  reader_.JoinStopped();  // the old bridge's reader, now that the lock is released
  return applied;
}

bool TFTDIDevice::ApplySerialNumberLocked(const std::string& value) {
  TWriteLocker guard(*this);
  if (value == serialNumber_) return true;
  if (!handle_) {
    serialNumber_ = value;
    return true;
  }
  try {
    InternalClose(false);
    serialNumber_ = value;
    InternalOpen();  // a bridge that is not there leaves the transport closed, not failed
  } catch (...) {
    return false;
  }
  return true;
}

void TFTDIDevice::SetSerialNumber(const std::string& value) {
  if (ApplySerialNumber(value))
    DoConfigurationChanged();
  else
    ReportError("SetSerialNumber", {value}, 0);
}

std::int32_t TFTDIDevice::GetBaudRate() {
  TReadLocker guard(*this);
  return baudRate_;
}

TParity TFTDIDevice::GetParity() {
  TReadLocker guard(*this);
  return parity_;
}

TStopBits TFTDIDevice::GetStopBits() {
  TReadLocker guard(*this);
  return stopBits_;
}

std::uint8_t TFTDIDevice::GetDatabits() {
  TReadLocker guard(*this);
  return databits_;
}

bool TFTDIDevice::GetDTR() {
  TReadLocker guard(*this);
  return dtr_;
}

bool TFTDIDevice::GetRTS() {
  TReadLocker guard(*this);
  return rts_;
}

// ---- The connection string --------------------------------------------------------------

std::string TFTDIDevice::GetConfiguration() {
  TReadLocker guard(*this);
  std::string text = "provider=FTD_USB;serial_number=" + serialNumber_;
  const std::string line = TSerialCommunicationInterface::GetConfiguration();
  if (!line.empty()) text += ";" + line;
  return text;
}

bool TFTDIDevice::ApplyConfiguration(const std::string& text) {
  const TConnectionSettings settings(text);
  CheckLineSettings(settings);
  if (const auto serialNumber = settings.Find("serial_number")) ApplySerialNumber(*serialNumber);
  ApplyLineSettings(settings);
  DoConfigurationChanged();
  return true;
}

void RegisterFTDITransport() {
  Ftd2xx();
  std::vector<std::string> keys = TSerialCommunicationInterface::LineKeys();
  keys.insert(keys.begin(), "serial_number");
  RegisterTransport(&ConstructTransport<TFTDIDevice>, "FTD_USB", std::move(keys));
}

void UnregisterFTDITransport() {
  UnregisterTransport(&ConstructTransport<TFTDIDevice>);
}

}  // namespace zorvid
