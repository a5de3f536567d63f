#include "transport/CommunicationInterface.h"

#include <chrono>
#include <cmath>
#include <thread>

#include "core/TimeoutManager.h"

namespace zorvid {
namespace {

// Polling step of Query.
constexpr auto kQueryPoll = std::chrono::milliseconds(1);
// Characters of slack on top of the payload in transmit-time estimates.
constexpr std::size_t kTransmitSlack = 5;

}  // namespace

TCommunicationInterface::TCommunicationInterface(std::string className)
    : TNodedInterface(std::move(className)),
      openEventer_(std::make_unique<TEventerCiNotify>()),
      closeEventer_(std::make_unique<TEventerCiNotify>()),
      dataRcvEventer_(std::make_unique<TEventerCiNotify>()),
      changeSignalEventer_(std::make_unique<TEventerCiNotifyChangeEvent>()),
      configChangedEventer_(std::make_unique<TEventerCiNotify>()) {}

TCommunicationInterface::~TCommunicationInterface() {
  openEventer_.reset();
  closeEventer_.reset();
  dataRcvEventer_.reset();
  changeSignalEventer_.reset();
  configChangedEventer_.reset();
}

void TCommunicationInterface::SetOnDataRcv(const TCiNotifyHandler& handler) {
  onDataRcv_.Set(handler);
}
TCiNotifyHandler TCommunicationInterface::GetOnDataRcv() {
  return onDataRcv_.Get();
}
TCiNotifyHandler TCommunicationInterface::GetOnOpen() {
  return onOpen_.Get();
}
void TCommunicationInterface::SetOnOpen(const TCiNotifyHandler& handler) {
  onOpen_.Set(handler);
}
TCiNotifyHandler TCommunicationInterface::GetOnClose() {
  return onClose_.Get();
}
void TCommunicationInterface::SetOnClose(const TCiNotifyHandler& handler) {
  onClose_.Set(handler);
}
TCiErrorHandler TCommunicationInterface::GetOnError() {
  return onError_.Get();
}
void TCommunicationInterface::SetOnError(const TCiErrorHandler& handler) {
  onError_.Set(handler);
}
TCiChangeSignalHandler TCommunicationInterface::GetOnChangeSignal() {
  return onChangeSignal_.Get();
}
void TCommunicationInterface::SetOnChangeSignal(const TCiChangeSignalHandler& handler) {
  onChangeSignal_.Set(handler);
}

bool TCommunicationInterface::SetActive(bool value) {
  if (value == GetActive()) return value;
  return value ? Open() : Close(false);
}

bool TCommunicationInterface::GetPortEnabled() {
  return portEnabled_;
}

void TCommunicationInterface::SetPortEnabled(bool value) {
  portEnabled_ = value;
}

void TCommunicationInterface::SetConfiguration(const std::string& text) {
  ClearFailureReason();
  if (ApplyConfiguration(text)) {
    DoConfigurationChanged();
    return;
  }
  SetFailureReasonUnlessKnown("configuration refused: \"" + text + "\"");
  ReportError("SetConfiguration", {text}, 0);
}

bool TCommunicationInterface::Open() {
  if (GetActive()) return true;
  ClearFailureReason();
  bool opened;
  {
    TWriteLocker guard(*this);
    opened = InternalOpen();
  }
  if (opened) {
    DoOpen();
  } else {
    SetFailureReasonUnlessKnown("cannot open " + GetConnectionName());
    ReportError("Open", {}, 0);
  }
  return opened;
}

bool TCommunicationInterface::Close(bool force) {
  if (!GetActive() && !force) return true;
  ClearFailureReason();
  bool closed;
  {
    TWriteLocker guard(*this);
    closed = InternalClose(force);
  }
  if (closed) {
    DoClose();
  } else {
    SetFailureReasonUnlessKnown("cannot close " + GetConnectionName());
    ReportError("Close", {}, 0);
  }
  return closed;
}

std::string TCommunicationInterface::GetFailureReason() {
  std::lock_guard guard(failureMutex_);
  return failureReason_;
}

void TCommunicationInterface::SetFailureReason(const std::string& reason) {
  std::lock_guard guard(failureMutex_);
  failureReason_ = reason;
}

void TCommunicationInterface::SetFailureReasonUnlessKnown(const std::string& fallback) {
  std::lock_guard guard(failureMutex_);
  if (failureReason_.empty()) failureReason_ = fallback;
}

std::int32_t TCommunicationInterface::Write(const TByteString& data) {
  const std::int32_t written = InternalWrite(data);
  SpySent(data);
  return written;
}

TByteString TCommunicationInterface::Read() {
  TByteString data = InternalRead();
  SpyReceived(data);
  return data;
}

bool TCommunicationInterface::WaitForData(std::int32_t timeoutMs) {
  if (InBuffUsed() != 0) return true;
  if (timeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
  return InBuffUsed() != 0;
}

TByteString TCommunicationInterface::Query(const TByteString& data, std::int32_t timeoutMs,
                                           std::int32_t interCharTimeout,
                                           std::int32_t totalTimeoutMs, bool purgeInputFirst,
                                           bool purgeOutputFirst, TQueryGoOn goOn,
                                           const TByteString& prefix) {
  TByteString reply;
  SpySent(data);
  {
    TWriteLocker guard(*this);
    if (GetActive()) {
      if (purgeInputFirst) PurgeInput();
      if (purgeOutputFirst) PurgeOutput();
      std::this_thread::sleep_for(kQueryPoll);
      InternalWrite(data);

      const double charTime = GetCharTime();
      const auto transmit = static_cast<std::int32_t>(
          std::ceil(static_cast<double>(data.size() + kTransmitSlack) * charTime));
      const auto gap = static_cast<std::int32_t>(std::ceil(interCharTimeout * charTime));
      TDeadline firstByte, whole;  // A: start of the reply, then the gaps; B: the whole exchange
      firstByte.Start(transmit + timeoutMs);
      whole.Start(transmit + totalTimeoutMs);
      for (;;) {
        std::this_thread::sleep_for(kQueryPoll);
        if (InBuffUsed() != 0) {
          reply += InternalRead();
          firstByte.Start(gap);
        }
        if (firstByte.Expired() || whole.Expired()) break;
        if (goOn && !goOn(prefix + reply)) break;
      }
    }
  }
  SpyReceived(reply);
  return reply;
}

template <class Slot, class Eventer, class... Args>
void TCommunicationInterface::Notify(Slot& slot, Eventer& eventer, const char* operation,
                                     Args... args) {
  const TCiRef self = Self();
  try {
    slot.Call(self, args...);
  } catch (...) {
    ReportError(operation, {}, 0);
    return;
  }
  eventer.Fire(self, args...);
}

void TCommunicationInterface::DoDataRcv() {
  Notify(onDataRcv_, *dataRcvEventer_, "DoDataRcv");
}

void TCommunicationInterface::DoOpen() {
  Notify(onOpen_, *openEventer_, "DoOpen");
}

void TCommunicationInterface::DoClose() {
  Notify(onClose_, *closeEventer_, "DoClose");
}

void TCommunicationInterface::DoChangeSignal(std::int32_t signal, bool state) {
  Notify(onChangeSignal_, *changeSignalEventer_, "DoChangeSignal", signal, state);
}

void TCommunicationInterface::DoConfigurationChanged() {
  try {
    configChangedEventer_->Fire(Self());
  } catch (...) {
    // Nobody is told about a failing subscriber of this notification.
  }
}

void TCommunicationInterface::ReportError(const std::string& operation, const TErrorArgs& args,
                                          std::int32_t code) {
  onError_.Call(Self(), operation, args, code);
}

void TCommunicationInterface::LoadFromXML(TRef<IXMLElement> element, bool bind, bool reloadGUID) {
  TNodedInterface::LoadFromXML(element, bind, reloadGUID);
  if (element && element->HasAttribute("connectionstring"))
    SetConfiguration(element->GetAttribute("connectionstring").Text());
}

void TCommunicationInterface::SaveToXML() {
  TNodedInterface::SaveToXML();
  if (const auto element = GetXMLElement())
    element->SetAttribute("connectionstring", GetConfiguration());
}

}  // namespace zorvid
