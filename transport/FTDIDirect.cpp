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
constexpr auto kPausePoll = 1ms;     // reader's step while nothing is attached
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

  // Runs `change` under the mutex and wakes the reader.
  template <class TChange>
  void Change(TChange change) {
    pthread_mutex_lock(&signal.eMutex);
    change();
    pthread_cond_broadcast(&signal.eCondVar);
    pthread_mutex_unlock(&signal.eMutex);
  }
  template <class TValue>
  TValue Read(const TValue& field) {
    pthread_mutex_lock(&signal.eMutex);
    TValue value = field;
    pthread_mutex_unlock(&signal.eMutex);
    return value;
  }
  // Up to kSignalWait for either signal. A wake-up without a flag set is the library's data
  // signal: the library only signals the condition variable. The data signal resets itself.
  // The library may wake only one waiter; a thread waiting in WaitForData hears of the data
  // too, as the wake-up is passed on to every waiter.
  void WaitForSignal() {
    pthread_mutex_lock(&signal.eMutex);
    if (!dataSignalled && !stopOrPause) {
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
  bool StayPaused() { return Read(paused) && !Read(terminate); }

  EVENT_HANDLE signal{};
  bool dataSignalled = false;
  bool stopOrPause = false;  // manual reset: reset when a device is attached
  bool paused = true;
  bool terminate = false;
  TRef<TFTDIDevice> attached;
};

TFTDIDeviceThread::TFTDIDeviceThread() : state_(std::make_shared<TState>()) {
  // Threads of an unprivileged process cannot be raised above the normal priority here; the
  // reader's latency rests on the library's signal instead.
  thread_ = std::thread(&TFTDIDeviceThread::Run, state_);
}

TFTDIDeviceThread::~TFTDIDeviceThread() {
  state_->Change([this] {
    state_->terminate = true;
    state_->stopOrPause = true;
    state_->paused = false;
  });
  // Destroyed on the reader thread, by the pass reference it dropped: the loop ends on its own
  // with the state it holds, without touching this object again.
  if (thread_.get_id() == std::this_thread::get_id())
    thread_.detach();
  else
    thread_.join();
}

EVENT_HANDLE* TFTDIDeviceThread::DataSignal() {
  return &state_->signal;
}

void TFTDIDeviceThread::Attach(TFTDIDevice* device) {
  TRef<TFTDIDevice> previous(device);
  state_->Change([&] {
    state_->attached.Swap(previous);
    state_->paused = false;
    state_->stopOrPause = false;
  });
}

void TFTDIDeviceThread::Detach() {
  TRef<TFTDIDevice> previous;
  state_->Change([&] {
    state_->attached.Swap(previous);
    state_->paused = true;
    state_->stopOrPause = true;
  });
}

void TFTDIDeviceThread::WaitForDataSignal(std::chrono::nanoseconds wait) {
  state_->WaitForWake(wait);
}

void TFTDIDeviceThread::SetDataSignal() {
  state_->Change([this] { state_->dataSignalled = true; });
}

void TFTDIDeviceThread::Run(std::shared_ptr<TState> state) {
  while (!state->Read(state->terminate)) {
    TRef<TFTDIDevice> device = state->Read(state->attached);
    if (device) {
      try {
        device->ReaderProcedure();
      } catch (...) {
        // An error report handler that raises must not end the reader.
      }
      state->WaitForSignal();
    }
    // The device may go here, on this thread, when this was its last reference.
    device.Reset();
    std::this_thread::sleep_for(kPausePoll);
    while (state->StayPaused())
      std::this_thread::sleep_for(kPausePoll);
  }
}

// ---- The transport ------------------------------------------------------------------------

TFTDIDevice::TFTDIDevice() : TSerialCommunicationInterface("TFTDIDevice") {}

TFTDIDevice::~TFTDIDevice() = default;

void TFTDIDevice::ReaderProcedure() {
  // The attached reference and this pass's: nobody else can reach the device any more.
  constexpr std::int32_t kReaderReferences = 2;
  if (RefCount() == kReaderReferences) {
    InternalClose(false);
    return;
  }
  if (InBuffUsed() > 0) DoDataRcv();
}

bool TFTDIDevice::Succeeded(FT_STATUS status) {
  if (status == kFtOk) return true;
  if (status == kFtIoError) Close(false);
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
  if (serialNumber_.empty() || !Ftd2xx().Available()) return false;
  FT_HANDLE handle = nullptr;
  if (!Succeeded(FtCall(Entry().FT_OpenEx, static_cast<void*>(serialNumber_.data()),
                        kFtOpenBySerialNumber, &handle)) ||
      !handle)
    return false;
  handle_ = handle;
  FtCall(Entry().FT_ResetDevice, handle_);
  FtCall(Entry().FT_SetEventNotification, handle_, kFtEventRxChar | kFtEventModemStatus,
         static_cast<void*>(reader_.DataSignal()));
  reader_.Attach(this);
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
  const bool closed = FtCall(Entry().FT_Close, handle_) == kFtOk;
  if (closed || force) ForgetHandle();
  return closed;
}

void TFTDIDevice::ForgetHandle() {
  handle_ = nullptr;
  reader_.Detach();
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
  if (!Succeeded(FtCall(Entry().FT_Write, handle_, const_cast<char*>(data.data()),
                        static_cast<DWORD>(data.size()), &written)))
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
    if (!Succeeded(FtCall(Entry().FT_Read, handle_, static_cast<void*>(data.data()),
                          static_cast<DWORD>(waiting), &read)))
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
  if (!Succeeded(FtCall(Entry().FT_GetQueueStatus, handle_, &count))) return 0;
  return static_cast<std::int32_t>(count);
}

bool TFTDIDevice::WaitForData(std::int32_t timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (InBuffUsed() > 0) return true;
    if (!GetActive()) return false;
    const auto left = end - std::chrono::steady_clock::now();
    if (left <= 0ns) return false;
    reader_.WaitForDataSignal(std::min<std::chrono::nanoseconds>(left, kQueueRecheck));
  }
}

void TFTDIDevice::PurgeInput() {
  TWriteLocker guard(*this);
  if (handle_) Succeeded(FtCall(Entry().FT_Purge, handle_, kFtPurgeRx));
}

void TFTDIDevice::PurgeOutput() {
  TWriteLocker guard(*this);
  if (handle_) Succeeded(FtCall(Entry().FT_Purge, handle_, kFtPurgeTx));
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
  if (handle_ && !Succeeded(FtCall(Entry().FT_SetBaudRate, handle_, static_cast<ULONG>(value))))
    return false;
  baudRate_ = value;
  return TSerialCommunicationInterface::ApplyBaudRate(value);
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
  if (!handle_ || Succeeded(SetDataCharacteristics())) return true;
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

bool TFTDIDevice::ApplyLine(bool& field, bool value, TFT_SetDtr set, TFT_ClrDtr clear) {
  TWriteLocker guard(*this);
  if (handle_ && !Succeeded(FtCall(value ? set : clear, handle_))) return false;
  field = value;
  return true;
}

bool TFTDIDevice::ApplyDTR(bool value) {
  return ApplyLine(dtr_, value, Entry().FT_SetDtr, Entry().FT_ClrDtr);
}

bool TFTDIDevice::ApplyRTS(bool value) {
  return ApplyLine(rts_, value, Entry().FT_SetRts, Entry().FT_ClrRts);
}

bool TFTDIDevice::ApplySerialNumber(const std::string& value) {
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
  if (const auto serialNumber = settings.Find("serial_number")) ApplySerialNumber(*serialNumber);
  ApplyLineSettings(settings);
  DoConfigurationChanged();
  return true;
}

void RegisterFTDITransport() {
  Ftd2xx();
  RegisterTransport(&ConstructTransport<TFTDIDevice>, "FTD_USB");
}

void UnregisterFTDITransport() {
  UnregisterTransport(&ConstructTransport<TFTDIDevice>);
}

}  // namespace zorvid
