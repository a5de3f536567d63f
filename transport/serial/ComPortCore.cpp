#include "transport/serial/ComPortCore.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

namespace zorvid {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kThreadStartWait{3000};
constexpr milliseconds kPurgeAcknowledgeWait{2000};
// Bytes waiting without a line event are found by this poll.
constexpr milliseconds kStatusPollInterval{200};
// The write thread holds the write lock across one write of at most this many bytes.
constexpr std::size_t kMaxWriteChunk = 64 * 1024;

std::string InvalidPortNumber(int portNumber) {
  return "Invalid port number (COM" + std::to_string(portNumber) + ")";
}

std::string CannotOpen(int portNumber) {
  return "Can't open device COM" + std::to_string(portNumber);
}

// The driver's fixed text, then why.
EComPortCoreError CoreError(const std::string& text, const std::string& reason) {
  return EComPortCoreError(text + ": " + reason);
}

}  // namespace

TComPortCore::TComPortCore(TComCoreCallback callback) : callback_(callback) {}

TComPortCore::~TComPortCore() {
  try {
    Close();
  } catch (...) {
    // Going away: nobody is left to tell.
  }
}

void TComPortCore::SetSettings(const TComSettings& settings) {
  settings_ = settings;
}

void TComPortCore::SetQueueSizes(std::int32_t inputSize, std::int32_t outputSize) {
  inputQueueSize_ = inputSize;
  outputQueueSize_ = outputSize;
}

void TComPortCore::SetThreadPriorities(TThreadPriority eventThread, TThreadPriority writeThread) {
  eventPriority_ = eventThread;
  writePriority_ = writeThread;
}

bool TComPortCore::Open(int portNumber, const std::string& devicePath) {
  if (active_) return false;
  OpenDevice(portNumber, devicePath);
  try {
    ConfigureAndStart();
  } catch (...) {
    Close();
    throw;
  }
  active_ = true;
  return true;
}

void TComPortCore::OpenDevice(int portNumber, const std::string& devicePath) {
  // A device given by path needs no number; the number then only names the port in errors.
  openFailure_.clear();
  if (devicePath.empty() && portNumber <= 0)
    throw CoreError(InvalidPortNumber(portNumber), "no device path given, and numbers start at 1");
  const std::string path = devicePath.empty() ? DevicePathForPort(portNumber) : devicePath;
  if (path.empty()) throw CoreError(InvalidPortNumber(portNumber), NoDeviceForPortText(portNumber));
  std::lock_guard lock(readLock_);
  const TOpenOutcome outcome = device_.Open(path);
  if (outcome == TOpenOutcome::Opened) return;
  openFailure_ = device_.Failure();
  throw CoreError(
      outcome == TOpenOutcome::NoDevice ? InvalidPortNumber(portNumber) : CannotOpen(portNumber),
      openFailure_);
}

EComPortCoreError TComPortCore::DeviceError(const char* text) const {
  return CoreError(text, device_.Failure());
}

EComPortCoreError TComPortCore::DeviceError(const char* text, const std::string& reason) const {
  return CoreError(text, device_.Path() + ": " + reason);
}

void TComPortCore::ConfigureAndStart() {
  {
    std::lock_guard lock(readLock_);
    if (!device_.MakeReadsImmediate()) throw DeviceError("Error setting timeouts");
    if (inputQueueSize_ <= 0 || outputQueueSize_ <= 0)
      throw DeviceError("Error initializing buffers",
                        "queue sizes must be positive (input " + std::to_string(inputQueueSize_) +
                            ", output " + std::to_string(outputQueueSize_) + ")");
    // The event thread's fields, set before it starts.
    if (!device_.StartLineEvents()) throw DeviceError(" Error setting EventMask");
    if (!device_.Apply(settings_)) {
      const EComPortCoreError error = DeviceError("Error setting parameters from DCB");
      if (const auto current = device_.ReadBack()) settings_ = *current;
      throw error;
    }
    device_.QueryStatus();  // line errors from before the open are not this port's
    lineErrors_ = 0;
  }
  {
    std::lock_guard lock(writeLock_);
    writeQueue_ = std::make_unique<TCircularBuffer>(static_cast<std::size_t>(outputQueueSize_));
  }
  StartThread("write thread", writeThread_, &TComPortCore::RunWriteThread, writeStarted_);
  openForIO_ = true;
  deliverEvents_ = true;
  StartThread("event thread", eventThread_, &TComPortCore::RunEventThread, eventStarted_);
}

void TComPortCore::StartThread(const char* name, std::thread& thread, void (TComPortCore::*body)(),
                               TSignal& started) {
  constexpr const char* kText = "Error creating threads";
  started.Reset();
  try {
    thread = std::thread(body, this);
  } catch (const std::system_error& error) {
    throw DeviceError(kText, std::string(name) + ": " + SystemErrorText(error.code().value()));
  }
  if (!started.Wait(kThreadStartWait))
    throw DeviceError(kText, std::string(name) + " did not start within " +
                                 std::to_string(kThreadStartWait.count()) + " ms");
}

void TComPortCore::StopThread(std::thread& thread, TSignal& stop) {
  if (!thread.joinable()) return;
  stop.Set();
  thread.join();
  // A thread that ended by itself left its stop signal unconsumed.
  stop.Reset();
}

void TComPortCore::Close() {
  if (!device_.IsOpen()) return;
  openForIO_ = false;
  {
    std::lock_guard lock(readLock_);
    device_.Purge(true, true);
  }
  PurgeOutput();
  StopThread(writeThread_, writeStop_);
  deliverEvents_ = false;
  StopThread(eventThread_, eventStop_);
  {
    std::lock_guard readLock(readLock_);
    std::lock_guard writeLock(writeLock_);
    device_.Purge(true, false);
    device_.Close();
    writeQueue_.reset();
  }
  active_ = false;
}

std::string TComPortCore::Failure() {
  std::lock_guard lock(readLock_);
  return device_.Failure();
}

bool TComPortCore::ApplySettings(const TComSettings& settings) {
  std::lock_guard lock(readLock_);
  if (device_.IsOpen() && !device_.Apply(settings)) {
    device_.Apply(settings_);
    return false;
  }
  settings_ = settings;
  return true;
}

std::optional<TComSettings> TComPortCore::FetchSettings() {
  std::lock_guard lock(readLock_);
  if (!device_.IsOpen()) return std::nullopt;
  return device_.ReadBack();
}

bool TComPortCore::Write(const char* data, std::size_t count) {
  if (!openForIO_) return false;
  {
    std::lock_guard lock(writeLock_);
    if (!writeQueue_ || !writeQueue_->Append(data, count)) return false;
  }
  dataQueued_.Set();
  return true;
}

std::size_t TComPortCore::OutputFree() {
  std::lock_guard lock(writeLock_);
  return openForIO_ && writeQueue_ ? writeQueue_->Free() : 0;
}

std::int32_t TComPortCore::Read(char* buffer, std::int32_t count) {
  std::lock_guard lock(readLock_);
  if (!device_.IsOpen() || count <= 0) return 0;
  return device_.Read(buffer, count);
}

bool TComPortCore::WaitForInput(std::chrono::milliseconds timeout) {
  // No lock: the handle changes only on this, the owner's, thread, and holding the read lock
  // would hold up the event thread's status query for the whole wait.
  return device_.IsOpen() && device_.WaitReadable(timeout);
}

bool TComPortCore::PurgeInput() {
  std::lock_guard lock(readLock_);
  if (!device_.IsOpen()) return false;
  device_.Purge(true, false);
  return true;
}

bool TComPortCore::PurgeOutput() {
  if (!writeThread_.joinable()) return false;
  purgeDone_.Reset();
  purgeRequest_.Set();
  const bool acknowledged = purgeDone_.Wait(kPurgeAcknowledgeWait);
  std::lock_guard lock(writeLock_);
  dataQueued_.Reset();
  if (writeQueue_) writeQueue_->Clear();
  device_.Purge(false, true);
  return acknowledged;
}

TQueueCounts TComPortCore::QueryStatus() {
  std::lock_guard lock(readLock_);
  if (!device_.IsOpen()) return {};
  const TPortStatus status = device_.QueryStatus();
  lineErrors_ |= status.errors;
  return {status.inputCount, status.outputCount};
}

std::uint32_t TComPortCore::TakeLineErrors() {
  std::lock_guard lock(readLock_);
  return std::exchange(lineErrors_, 0);
}

std::uint32_t TComPortCore::ModemStatus() {
  std::lock_guard lock(readLock_);
  return device_.IsOpen() ? device_.ModemStatus() : 0;
}

void TComPortCore::SetLine(TSerialDevice::TOutputLine line, bool asserted) {
  std::lock_guard lock(readLock_);
  if (device_.IsOpen()) device_.SetLine(line, asserted);
}

// Event thread.

void TComPortCore::RunEventThread() {
  SetCurrentThreadPriority(eventPriority_);
  outputSent_.Reset();
  eventStarted_.Set();
  try {
    WatchLine();
  } catch (...) {
    // An error of the watch itself ends it, after it has been told.
    Deliver(ceException, {0, std::current_exception()});
  }
}

void TComPortCore::WatchLine() {
  for (;;) {
    const TLineWaitResult result =
        device_.WaitLineEvents({&eventStop_, &outputSent_}, kStatusPollInterval);
    switch (result.kind) {
      case TLineWaitResult::Signalled:
        if (result.signal == 0) return;
        Deliver(ceOutFree, {});
        break;
      case TLineWaitResult::LineEvents:
        Deliver(ceLineEvent, {result.mask, nullptr});
        break;
      case TLineWaitResult::TimedOut:
        AnnounceWaitingInput();
        break;
    }
  }
}

void TComPortCore::AnnounceWaitingInput() {
  const TQueueCounts counts = QueryStatus();
  if (counts.input > 0)
    Deliver(ceNeedReadData, {static_cast<std::uint32_t>(counts.input), nullptr});
}

void TComPortCore::Deliver(TComCoreEvent event, const TComEventData& data) {
  if (!deliverEvents_) return;
  try {
    callback_(event, data);
  } catch (...) {
    if (event == ceException) return;  // an error about an error: nobody left to tell
    Deliver(ceException, {0, std::current_exception()});
  }
}

// Write thread.

void TComPortCore::RunWriteThread() {
  SetCurrentThreadPriority(writePriority_);
  writeStarted_.Set();
  for (;;) {
    switch (WaitForSignals({&writeStop_, &purgeRequest_, &dataQueued_}, std::nullopt)) {
      case 0:
        return;
      case 1:
        purgeDone_.Set();
        break;
      case 2:
        if (!DrainWriteQueue()) return;
        break;
      default:
        break;
    }
  }
}

// Sends until the queue is empty; false when asked to stop meanwhile.
bool TComPortCore::DrainWriteQueue() {
  for (;;) {
    switch (device_.WaitWritable({&writeStop_, &purgeRequest_})) {
      case 0:
        return false;
      case 1:
        purgeDone_.Set();  // the purge empties the queue
        return true;
      default:
        break;
    }
    switch (SendNextChunk()) {
      case TDrainStep::Nothing:
        return true;
      case TDrainStep::Emptied:
        outputSent_.Set();
        return true;
      case TDrainStep::More:
        break;
    }
  }
}

TComPortCore::TDrainStep TComPortCore::SendNextChunk() {
  std::lock_guard lock(writeLock_);
  if (!writeQueue_ || writeQueue_->Used() == 0) return TDrainStep::Nothing;
  const std::size_t piece = std::min(writeQueue_->ReadableInOnePiece(), kMaxWriteChunk);
  const std::ptrdiff_t written = device_.Write(writeQueue_->ReadPosition(), piece);
  // Only what the device took leaves the queue, so nothing is sent twice. A failed write drops
  // its piece: the line does not take it, and write errors are not reported.
  writeQueue_->Remove(written < 0 ? piece : static_cast<std::size_t>(written));
  return writeQueue_->Used() == 0 ? TDrainStep::Emptied : TDrainStep::More;
}

}  // namespace zorvid
