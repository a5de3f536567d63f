#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/HandlerSlot.h"
#include "core/ICommunicationInterface.h"
#include "core/NodedInterface.h"

namespace zorvid {

// The abstract transport: open/close state machine, single handlers and eventers for every
// notification, error reports, the generic Query transaction and persistence of the
// connection string. A concrete transport supplies only the primitives (InternalOpen,
// InternalClose, InternalWrite, InternalRead, InBuffUsed, purges, ApplyConfiguration).
//
// Threads: every notification is delivered synchronously on the thread that raised it (the
// main thread, or a transport's own thread for received data); nothing is marshalled here.
// Open, Close and Query hold the node's exclusive lock around the primitives. The single
// handlers sit in slots of their own, not under the node lock, so a handler on a worker thread
// cannot deadlock against a client holding the node lock; replacing a handler waits for its
// calls on other threads to return, so its object may go right afterwards.
class TCommunicationInterface : public TNodedInterface, public virtual ICommunicationInterface {
 public:
  void SetOnDataRcv(const TCiNotifyHandler& handler) override;
  TCiNotifyHandler GetOnDataRcv() override;
  TEventerCiNotify& GetDataRcvEventer() override { return *dataRcvEventer_; }

  bool SetActive(bool value) override;
  bool GetPortEnabled() override;
  void SetPortEnabled(bool value) override;
  std::string GetConfiguration() override { return {}; }
  void SetConfiguration(const std::string& text) override;

  TCiNotifyHandler GetOnOpen() override;
  void SetOnOpen(const TCiNotifyHandler& handler) override;
  TEventerCiNotify& GetOpenEventer() override { return *openEventer_; }
  TCiNotifyHandler GetOnClose() override;
  void SetOnClose(const TCiNotifyHandler& handler) override;
  TEventerCiNotify& GetCloseEventer() override { return *closeEventer_; }
  TEventerCiNotify& GetConfigChangedEventer() override { return *configChangedEventer_; }
  TCiErrorHandler GetOnError() override;
  void SetOnError(const TCiErrorHandler& handler) override;
  TEventerCiNotifyChangeEvent& GetChangeSignalEventer() override { return *changeSignalEventer_; }
  TCiChangeSignalHandler GetOnChangeSignal() override;
  void SetOnChangeSignal(const TCiChangeSignalHandler& handler) override;

  bool Open() override;
  bool Close(bool force) override;
  std::int32_t Write(const TByteString& data) override;
  TByteString Read() override;
  // Sleeps the whole time unless bytes are already receivable; transports that learn of
  // arriving bytes wake earlier.
  bool WaitForData(std::int32_t timeoutMs) override;
  // Closed only: a transport that learns of the other side going says so itself.
  bool IsLineClosed() override { return !GetActive(); }
  TByteString Query(const TByteString& data, std::int32_t timeoutMs, std::int32_t interCharTimeout,
                    std::int32_t totalTimeoutMs, bool purgeInputFirst, bool purgeOutputFirst,
                    TQueryGoOn goOn, const TByteString& prefix) override;
  double GetCharTime() override { return charTime_.load(std::memory_order_relaxed); }

  void Lock() override { TNodedInterface::Lock(); }
  void Unlock() override { TNodedInterface::Unlock(); }
  void LockRead() override { TNodedInterface::LockRead(); }
  void UnlockRead() override { TNodedInterface::UnlockRead(); }

  bool Setup() override { return false; }
  std::string GetFailureReason() override;
  bool HasSetup() override { return false; }
  std::string GetDescription() override { return GetConnectionName(); }

  // After the node's own loading, applies the element's "connectionstring"; saving writes it.
  using TNodedInterface::LoadFromXML;
  void LoadFromXML(TRef<IXMLElement> element, bool bind, bool reloadGUID) override;
  void SaveToXML() override;

 protected:
  explicit TCommunicationInterface(std::string className);
  ~TCommunicationInterface() override;

  virtual bool InternalOpen() = 0;
  // True when the connection is closed afterwards.
  virtual bool InternalClose(bool force) = 0;
  virtual std::int32_t InternalWrite(const TByteString& data) = 0;
  virtual TByteString InternalRead() = 0;
  // Parses a connection string and applies its keys; false rejects the text.
  virtual bool ApplyConfiguration(const std::string& text) = 0;

  // Every chunk handed out by Read and the whole reply of Query; every chunk passed to Write
  // and Query. Empty here; the data spy records them.
  virtual void SpyReceived(const TByteString& /*data*/) {}
  virtual void SpySent(const TByteString& /*data*/) {}

  // Notifications, raised by the transports on whatever thread the event happened.
  void DoDataRcv();
  void DoOpen();
  void DoClose();
  void DoChangeSignal(std::int32_t signal, bool state);
  void DoConfigurationChanged();
  // Calls OnError when it is set; errors raised by OnError itself reach the caller.
  void ReportError(const std::string& operation, const TErrorArgs& args, std::int32_t code);
  // Records why an operation failed (see GetFailureReason); primitives call it where the cause
  // is known, on any thread. Open, Close, SetConfiguration and the line setters clear it when
  // they start and record a plain reason of their own when a failing primitive recorded none.
  void SetFailureReason(const std::string& reason);
  void ClearFailureReason() { SetFailureReason({}); }
  // Records `fallback` unless a primitive recorded a reason since the operation began.
  void SetFailureReasonUnlessKnown(const std::string& fallback);

  void SetCharTime(double msPerCharacter) { charTime_.store(msPerCharacter); }
  TCiRef Self() { return TCiRef(this); }

 private:
  // Calls the single handler, then the eventer; an error of the single handler becomes a
  // report under `operation` and the eventer is not fired.
  template <class Slot, class Eventer, class... Args>
  void Notify(Slot& slot, Eventer& eventer, const char* operation, Args... args);

  THandlerSlot<TCiRef> onDataRcv_, onOpen_, onClose_;
  THandlerSlot<TCiRef, std::int32_t, bool> onChangeSignal_;
  THandlerSlot<TCiRef, const std::string&, const TErrorArgs&, std::int32_t> onError_;

  std::atomic<bool> portEnabled_{false};
  std::atomic<double> charTime_{1.0};
  std::mutex failureMutex_;
  std::string failureReason_;  // failureMutex_
  // Created in the constructor and destroyed in the destructor in this order.
  std::unique_ptr<TEventerCiNotify> openEventer_, closeEventer_, dataRcvEventer_;
  std::unique_ptr<TEventerCiNotifyChangeEvent> changeSignalEventer_;
  std::unique_ptr<TEventerCiNotify> configChangedEventer_;
};

// Creates a transport of class T from a connection string: construction, then
// SetConfiguration when the text is not empty. An error raised while the text is applied
// propagates, and the half-built transport is destroyed with the last reference.
template <class T>
TRef<T> NewTransport(const std::string& connectionString) {
  TRef<T> transport = New<T>();
  if (!connectionString.empty()) transport->SetConfiguration(connectionString);
  return transport;
}

// The transport class T as the factory registers it (see RegisterTransport).
template <class T>
TCiRef ConstructTransport(const std::string& connectionString) {
  return NewTransport<T>(connectionString);
}

// Creates a transport from a persisted element and attaches it to `owner`.
template <class T>
TRef<T> NewTransport(TRef<IXMLElement> element, TRef<IInterface> owner) {
  TRef<T> transport = New<T>();
  transport->LoadFromXML(std::move(element), true, true);
  transport->SetOwner(std::move(owner));
  return transport;
}

}  // namespace zorvid
