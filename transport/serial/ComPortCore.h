#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/Handler.h"
#include "transport/serial/CircularBuffer.h"
#include "transport/serial/SerialPlatform.h"

namespace zorvid {

// An error of the port itself: opening, settings, threads. Its text is the driver's fixed text,
// then the device's path and the system's reason.
class EComPortCoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the driver's threads report.
enum TComCoreEvent : std::uint8_t {
  ceOutFree,       // the write queue has been sent completely
  ceLineEvent,     // line events; value: their kEv... mask
  ceNeedReadData,  // bytes wait in the input queue; value: their count
  ceException      // an error raised on a thread; error: the error
};

struct TComEventData {
  std::uint32_t value = 0;
  std::exception_ptr error;
};

// Receives every event, on the event thread.
using TComCoreCallback = THandler<TComCoreEvent, const TComEventData&>;

struct TQueueCounts {
  std::int32_t input = 0;
  std::int32_t output = 0;
};

// One serial port with its two threads: the event thread waits for line events (and polls the
// input queue every 200 ms, so waiting bytes are announced even when an event is missed), the
// write thread drains the write queue into the device. Writes only queue, reads take what waits.
//
// Threads and locks:
// - Open, Close and the setters of what Open uses (settings, sizes, priorities) run on the
//   thread that owns the port (the component's caller, which serialises its calls); the threads
//   and the device handle change only there.
// - readLock_ guards every use of the device from a caller's thread or from the event thread's
//   status poll (status, reads, input purge, modem lines, settings, closing the handle) and
//   lineErrors_.
// - writeLock_ guards writeQueue_ and the device's writes and output purges; the write thread
//   holds it across one non-blocking write, so a purge never meets a half-sent piece.
// - The event thread alone waits on the device for line events; the callback runs there.
// - active_, openForIO_ and deliverEvents_ are atomic.
// Lock order: readLock_ before writeLock_. Neither is held while a thread is stopped, since a
// thread may be waiting for the lock (the event thread's status poll) at that moment.
class TComPortCore {
 public:
  explicit TComPortCore(TComCoreCallback callback);
  ~TComPortCore();
  TComPortCore(const TComPortCore&) = delete;
  TComPortCore& operator=(const TComPortCore&) = delete;

  // What the next Open applies.
  void SetSettings(const TComSettings& settings);
  void SetQueueSizes(std::int32_t inputSize, std::int32_t outputSize);
  void SetThreadPriorities(TThreadPriority eventThread, TThreadPriority writeThread);

  // Opens port `portNumber`, on `devicePath` when given, else on the number's device. False
  // when already active; failures raise EComPortCoreError and leave the port closed.
  bool Open(int portNumber, const std::string& devicePath);
  // Why the last Open failed to reach the device (empty when it did or it got no path): the
  // path and the system's error.
  const std::string& OpenFailure() const { return openFailure_; }
  // Why the device last refused a call (see TSerialDevice::Failure).
  std::string Failure();
  void Close();
  bool IsActive() const { return active_; }
  // The other side of the line went away (the port stays open until closed).
  bool HungUp() const { return device_.HungUp(); }

  // Applies the record at once when open; a refused record is replaced on the device by the
  // last accepted one, and the result is false.
  bool ApplySettings(const TComSettings& settings);
  const TComSettings& Settings() const { return settings_; }
  // The settings the open device holds.
  std::optional<TComSettings> FetchSettings();

  // Queues all bytes or none: false when not open or when they do not fit.
  bool Write(const char* data, std::size_t count);
  std::size_t OutputFree();
  std::int32_t Read(char* buffer, std::int32_t count);
  // Waits on the owner's thread until bytes can be read or `timeout` passed; false at once
  // when not open or hung up.
  bool WaitForInput(std::chrono::milliseconds timeout);
  bool PurgeInput();
  // Empties the write queue and the device's output; false when the write thread did not
  // acknowledge within 2000 ms.
  bool PurgeOutput();
  // Queue counts (0 when not open); the line errors found are accumulated.
  TQueueCounts QueryStatus();
  // The accumulated line errors (kCe... bits), cleared.
  std::uint32_t TakeLineErrors();
  std::uint32_t ModemStatus();
  void SetLine(TSerialDevice::TOutputLine line, bool asserted);

 private:
  enum class TDrainStep { Nothing, More, Emptied };

  void OpenDevice(int portNumber, const std::string& devicePath);
  void ConfigureAndStart();
  void StartThread(const char* name, std::thread& thread, void (TComPortCore::*body)(),
                   TSignal& started);
  // `text` with the device's account of its last failure, or with its path and `reason`.
  EComPortCoreError DeviceError(const char* text) const;
  EComPortCoreError DeviceError(const char* text, const std::string& reason) const;
  void StopThread(std::thread& thread, TSignal& stop);

  void RunEventThread();
  void WatchLine();
  void Deliver(TComCoreEvent event, const TComEventData& data);
  void AnnounceWaitingInput();

  void RunWriteThread();
  bool DrainWriteQueue();
  TDrainStep SendNextChunk();

  const TComCoreCallback callback_;
  TSerialDevice device_;

  // Owner's thread.
  TComSettings settings_;
  std::string openFailure_;
  std::int32_t inputQueueSize_ = 8192;
  std::int32_t outputQueueSize_ = 4096;
  TThreadPriority eventPriority_ = tpNormal;
  TThreadPriority writePriority_ = tpHighest;
  std::thread eventThread_;
  std::thread writeThread_;

  std::mutex readLock_;
  std::uint32_t lineErrors_ = 0;  // readLock_

  std::mutex writeLock_;
  std::unique_ptr<TCircularBuffer> writeQueue_;  // writeLock_

  std::atomic<bool> active_{false};
  std::atomic<bool> openForIO_{false};
  std::atomic<bool> deliverEvents_{false};

  TSignal eventStarted_;
  TSignal writeStarted_;
  TSignal eventStop_;
  TSignal writeStop_;
  TSignal outputSent_;  // write thread -> event thread: the queue ran empty
  TSignal dataQueued_;
  TSignal purgeRequest_;
  TSignal purgeDone_;
};

}  // namespace zorvid
