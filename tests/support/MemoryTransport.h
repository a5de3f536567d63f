#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "transport/CommunicationInterfaceDataSpy.h"

namespace zorvid::test {

// One end of an in-memory line. Bytes written to one endpoint arrive at its peer, whose
// received-data event is raised on a delivery thread of the receiving endpoint, as the USB
// transport raises it on its reader thread. Registered under the provider "MEMORY": two
// endpoints created with the same "name" are connected to each other.
//
// Threads: Write runs on the caller's thread; DoDataRcv runs on the receiver's delivery
// thread. The channel state is guarded by the channel's mutex, which is never held while a
// handler runs. The last reference may go on the delivery thread.
class TMemoryTransport final : public TCommunicationInterfaceDataSpy {
 public:
  TMemoryTransport();
  ~TMemoryTransport() override;

  // Two connected, closed endpoints.
  static std::pair<TRef<TMemoryTransport>, TRef<TMemoryTransport>> CreatePair();
  static void Connect(TMemoryTransport& a, TMemoryTransport& b);
  static void Register();
  static void Unregister();

  bool GetActive() override;
  std::string GetConnectionName() override;
  std::string GetConfiguration() override;
  std::int32_t InBuffUsed() override;
  // Wakes as soon as bytes are in the inbox (or the endpoint is closed).
  bool WaitForData(std::int32_t timeoutMs) override;
  void PurgeInput() override;
  void PurgeOutput() override {}

  // Test controls: bytes that arrive as if the peer had sent them; the result of the next
  // opens; whether configurations are accepted; modem-line changes; how often the
  // primitives ran.
  void Inject(const TByteString& data);
  void SetOpenResult(bool result) { openResult_ = result; }
  void SetAcceptConfiguration(bool accept) { acceptConfiguration_ = accept; }
  void SignalChange(std::int32_t signal, bool state) { DoChangeSignal(signal, state); }
  int InternalOpenCalls() const { return internalOpenCalls_; }
  int InternalCloseCalls() const { return internalCloseCalls_; }
  int InternalWriteCalls() const { return internalWriteCalls_; }

 protected:
  bool InternalOpen() override;
  bool InternalClose(bool force) override;
  std::int32_t InternalWrite(const TByteString& data) override;
  TByteString InternalRead() override;
  // Keys: "chunk" (most bytes one read hands out, the rest is announced again), "name"
  // (pairs the endpoint), "active" (opens); rejected while configurations are not accepted.
  bool ApplyConfiguration(const std::string& text) override;
  void BeforeDestruction() noexcept override;

 private:
  struct TChannel;
  static void DeliveryLoop(std::shared_ptr<TChannel> channel);

  std::shared_ptr<TChannel> channel_;
  std::atomic<bool> openResult_{true};
  std::atomic<bool> acceptConfiguration_{true};
  std::atomic<int> internalOpenCalls_{0}, internalCloseCalls_{0}, internalWriteCalls_{0};
};

}  // namespace zorvid::test
