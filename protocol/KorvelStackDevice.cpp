#include "protocol/KorvelStackDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "core/MessageHook.h"
#include "core/NumberText.h"
#include "core/ReadWriteLock.h"
#include "core/XmlElement.h"

namespace zorvid {
namespace {

constexpr std::int32_t kEnableConfigurationTimeoutMs = 500;
constexpr std::size_t kTextE2MaxLength = 16;
constexpr TByte kBaudIndexUnknown = 0xFF;
constexpr TByte kAddressRequestsAnswerless = 0xFF;
// From this wrap on, an allocator that finds every SIG taken tells the user.
constexpr int kOverloadReportWraps = 5;

std::atomic<TKorvelDeviceHook> deviceCreatedHook{nullptr};
std::atomic<TKorvelDeviceHook> deviceDestroyedHook{nullptr};

// Runs the stored action when the scope ends, unless dismissed.
template <class F>
class TOnScopeExit {
 public:
  explicit TOnScopeExit(F action) : action_(std::move(action)) {}
  TOnScopeExit(const TOnScopeExit&) = delete;
  TOnScopeExit& operator=(const TOnScopeExit&) = delete;
  ~TOnScopeExit() {
    if (armed_) action_();
  }
  void Dismiss() { armed_ = false; }

 private:
  F action_;
  bool armed_ = true;
};

TByteString Bytes(std::initializer_list<TByte> values) {
  TByteString bytes;
  for (const TByte value : values)
    bytes.push_back(static_cast<char>(value));
  return bytes;
}

bool IsTaken(const TKorvelStackItemSIG& entry) {
  return !entry.Free && !entry.Deadline.Expired();
}

// A reused entry starts from nothing, so that the callback of an expired request never sees
// the answer of a later one.
void Reserve(TKorvelStackItemSIG& entry, TByte inst, std::int32_t timeoutMs, TEvent* event) {
  entry = TKorvelStackItemSIG{};
  entry.Free = false;
  entry.Inst = inst;
  entry.Time = Now();
  entry.Deadline.Start(timeoutMs);
  entry.Event = event;
}

// Every SIG is taken: give answers and deadlines a moment, and tell the user once when it
// lasts. Once, not on every further wrap: a wrap takes a millisecond, and a report per wrap
// from a worker thread would queue a thousand message boxes a second.
void WaitForFreeSIG(int wraps) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (wraps == kOverloadReportWraps) ShowMessage("SIG stack overload");
}

// An answer the stack accepted, parsed; false when it is no readable packet. A packet can pass
// validation and still be too short to parse.
bool TryParseAnswer(const TByteString& text, TKorvelFormat97& answer) {
  if (ValidatePacket97(text) != kPacket97Valid) return false;
  try {
    ParsePacket97(text, answer);
    return true;
  } catch (const EKorvelPacketError&) {
    answer = {};
    return false;
  }
}

// Called in a handler: shows `where` and, after ": ", the caught exception's own text when it
// has one.
void ShowCaughtException(const std::string& where) {
  try {
    throw;
  } catch (const std::exception& error) {
    ShowMessage(where + ": " + error.what());
  } catch (...) {
    ShowMessage(where);
  }
}

std::string_view Trim(std::string_view text) {
  const auto isBlank = [](char c) { return static_cast<TByte>(c) <= ' '; };
  while (!text.empty() && isBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

// The text up to the next ";" (all of it when there is none); `text` moves past the ";".
std::string_view NextField(std::string_view& text) {
  const auto end = text.find(';');
  const std::string_view field = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  return field;
}

struct TIdentification {
  std::string name, version, rest;
};

// "name;version;rest", fields that are missing being empty; the version loses everything up
// to and including its first "v".
TIdentification SplitIdentification(std::string_view text) {
  TIdentification result;
  result.name = Trim(NextField(text));
  std::string_view version = Trim(NextField(text));
  if (const auto v = version.find('v'); v != std::string_view::npos) version.remove_prefix(v + 1);
  result.version = version;
  result.rest = Trim(NextField(text));
  return result;
}

std::uint32_t BigEndian(std::string_view bytes) {
  std::uint32_t value = 0;
  for (const char byte : bytes)
    value = value << 8 | static_cast<TByte>(byte);
  return value;
}

std::int32_t BaudByIndex(TByte index) {
  return index < kBaudTable.size() ? kBaudTable[index] : 0;
}

TByte IndexOfBaud(std::int32_t baud) {
  const auto found = std::find(kBaudTable.begin(), kBaudTable.end(), baud);
  return found == kBaudTable.end() ? kBaudIndexUnknown
                                   : static_cast<TByte>(found - kBaudTable.begin());
}

// A number as the persisted form writes it: decimal, or hexadecimal after "$".
std::optional<std::int64_t> ParsePersistedNumber(std::string_view text) {
  if (text.starts_with('$')) return ParseInteger("0x" + std::string(text.substr(1)));
  return ParseInteger(text);
}

TByte LowByte(std::int64_t value) {
  return static_cast<TByte>(value & 0xFF);
}

// "#" and a number, or a single character standing for its own code; anything else is 0.
TByte ParseAddress(std::string_view text) {
  if (text.size() > 1 && text.front() == '#')
    return LowByte(ParsePersistedNumber(text.substr(1)).value_or(0));
  if (text.size() == 1) return static_cast<TByte>(text.front());
  return 0;
}

std::string FormatAddress(TByte address) {
  char text[8];
  std::snprintf(text, sizeof text, "#$%02X", address);
  return text;
}

}  // namespace

void SetKorvelDeviceCreatedHook(TKorvelDeviceHook hook) {
  deviceCreatedHook.store(hook);
}
void SetKorvelDeviceDestroyedHook(TKorvelDeviceHook hook) {
  deviceDestroyedHook.store(hook);
}
TKorvelDeviceHook GetKorvelDeviceCreatedHook() {
  return deviceCreatedHook.load();
}
TKorvelDeviceHook GetKorvelDeviceDestroyedHook() {
  return deviceDestroyedHook.load();
}

// ---- Life cycle ----------------------------------------------------------------------------

TKorvelStackDevice::TKorvelStackDevice(TByte address, std::string className)
    : TKorvelStackDevice(std::string(), address, std::move(className)) {}

TKorvelStackDevice::TKorvelStackDevice(const std::string& guid, TByte address,
                                       std::string className)
    : TNodedInterface(std::move(className)), address_(address) {
  if (!guid.empty()) {
    const auto element = New<TXMLElement>();
    element->SetAttribute("GUID", guid);
    TNodedInterface::LoadFromXML(element, false, true);
  }
  if (const TKorvelDeviceHook hook = GetKorvelDeviceCreatedHook()) hook(this);
}

TKorvelStackDevice::~TKorvelStackDevice() = default;

// Runs while the object is still whole: the registry hears of the end before the device leaves
// its stack, and the stack can still query the device while it lets go of it.
void TKorvelStackDevice::BeforeDestruction() noexcept {
  if (const TKorvelDeviceHook hook = GetKorvelDeviceDestroyedHook()) hook(this);
  try {
    SetStack({});
  } catch (const std::exception& error) {
    ShowMessage("TKorvelStackDevice: leaving the stack on destruction failed: " +
                std::string(error.what()));
  }
  TNodedInterface::BeforeDestruction();
}

// ---- Registration --------------------------------------------------------------------------

TRef<IKorvelStack> TKorvelStackDevice::GetStack() {
  TReadLocker guard(*this);
  return stack_;
}

// The stack is called without the device's lock held: the stack locks itself before its
// devices. The field is cleared before the old stack hears of it and set before the new one
// does, so that their calls back (RemoveDevice, AddDevice) find nothing left to do.
void TKorvelStackDevice::SetStack(TRef<IKorvelStack> stack) {
  TRef<IKorvelStack> old;
  {
    TWriteLocker guard(*this);
    if (stack_ == stack) return;
    old = std::exchange(stack_, {});
  }
  const TRef<IKorvelStackDevice> self(this);
  if (old) old->RemoveDevice(self);
  {
    TWriteLocker guard(*this);
    stack_ = stack;
  }
  if (stack) stack->AddDevice(self);
}

TByte TKorvelStackDevice::GetAddress() {
  return address_;
}

void TKorvelStackDevice::SetAddress(TByte adr) {
  address_ = adr;
}

// ---- Outcome of the last request -----------------------------------------------------------

TByte TKorvelStackDevice::GetLastResult() {
  TReadLocker guard(*this);
  return lastResult_;
}

std::string TKorvelStackDevice::GetLastMissReason() {
  TReadLocker guard(*this);
  return lastMissReason_;
}

void TKorvelStackDevice::SetLastResult(TByte value) {
  RecordResult(value, {});
}

void TKorvelStackDevice::RecordResult(TByte value, const std::string& missReason) {
  TWriteLocker guard(*this);
  lastResult_ = value;
  lastMissReason_ = missReason;
}

void TKorvelStackDevice::ResetLastResult() {
  SetLastResult(kResultNone);
  SetLastAck(-1);
}

std::int32_t TKorvelStackDevice::GetLastAck() {
  TReadLocker guard(*this);
  return lastAck_;
}

void TKorvelStackDevice::SetLastAck(std::int32_t value) {
  TWriteLocker guard(*this);
  lastAck_ = value;
}

void TKorvelStackDevice::SetFixedSIG(TByte sig) {
  TWriteLocker guard(*this);
  fixedSig_ = sig;
}

TByte TKorvelStackDevice::GetFixedSIG() {
  TReadLocker guard(*this);
  return fixedSig_;
}

void TKorvelStackDevice::SetTimeout(std::int32_t timeoutMs) {
  TWriteLocker guard(*this);
  timeout_ = timeoutMs;
}

std::int32_t TKorvelStackDevice::GetTimeout() {
  TReadLocker guard(*this);
  return timeout_;
}

TByteString TKorvelStackDevice::GetVersion() {
  TReadLocker guard(*this);
  return version_;
}

TByteString TKorvelStackDevice::GetIdentificationRest() {
  TReadLocker guard(*this);
  return identificationRest_;
}

TByteString TKorvelStackDevice::GetIdentificationText() {
  TReadLocker guard(*this);
  return identificationText_;
}

bool TKorvelStackDevice::GetIdentificationLoaded() {
  TReadLocker guard(*this);
  return identificationLoaded_;
}

TByte TKorvelStackDevice::GetStoredByte() {
  TReadLocker guard(*this);
  return storedByte_;
}

// ---- SIG table -----------------------------------------------------------------------------

TByte TKorvelStackDevice::AllocateSIG(TByte inst, std::int32_t timeoutMs, TEvent* event) {
  bool reserved = false;
  return TakeSIG(inst, timeoutMs, event, reserved);
}

// The table lock is let go while waiting for a free SIG, so that answers arriving on another
// thread can free one; the fixed SIG is read before the table lock is taken (node lock first).
TByte TKorvelStackDevice::TakeSIG(TByte inst, std::int32_t timeoutMs, TEvent* event,
                                  bool& reserved) {
  reserved = false;
  if (const TByte fixed = GetFixedSIG()) return fixed;
  std::unique_lock lock(tableMutex_);
  TByte sig = static_cast<TByte>(rollingSig_ + 1);
  int wraps = 0;
  while (IsTaken(sigTable_[sig])) {
    if (sig != 0xFF) {
      ++sig;
      continue;
    }
    lock.unlock();
    WaitForFreeSIG(++wraps);
    lock.lock();
    sig = 0;
  }
  rollingSig_ = sig;
  Reserve(sigTable_[sig], inst, timeoutMs, event);
  reserved = true;
  return sig;
}

void TKorvelStackDevice::ReleaseSIG(TByte sig) {
  std::lock_guard lock(tableMutex_);
  sigTable_[sig] = TKorvelStackItemSIG{};
}

TKorvelStackItemSIG TKorvelStackDevice::SigEntry(TByte sig) {
  std::lock_guard lock(tableMutex_);
  return sigTable_[sig];
}

// ---- Request engine ------------------------------------------------------------------------

bool TKorvelStackDevice::SendInstruction(TByte inst, const TByteString& data,
                                         const TKorvelAnswerCallback& callback, bool wait,
                                         std::int32_t timeoutMs, TKorvelFormat97& answer) {
  ResetLastResult();
  answer = {};
  if (timeoutMs < 0) timeoutMs = GetTimeout();
  const TRef<IKorvelStack> stack = GetStack();
  if (!stack) return false;
  if (wait) return RequestAnswer(stack, inst, data, timeoutMs, answer);
  return PostRequest(stack, inst, data, callback, timeoutMs);
}

// Sent once and never repeated. The SIG is released however the request ends, also when the
// stack raises; an answer that is no readable packet, or that carries another SIG, is invalid.
bool TKorvelStackDevice::RequestAnswer(const TRef<IKorvelStack>& stack, TByte inst,
                                       const TByteString& data, std::int32_t timeoutMs,
                                       TKorvelFormat97& answer) {
  bool reserved = false;
  const TByte sig = TakeSIG(inst, timeoutMs, nullptr, reserved);
  const TOnScopeExit release([&] {
    if (reserved) ReleaseSIG(sig);
  });
  TByteString text;
  TRequestMiss missed;
  if (!stack->RequestWithReason(GetAddress(), sig, inst, data, text, timeoutMs, missed) ||
      text.empty()) {
    RecordResult(missed.damaged ? kResultDamaged : kResultNoAnswer, missed.reason);
    return false;
  }
  if (!TryParseAnswer(text, answer) || answer.Sig != sig) {
    answer = {};
    SetLastResult(kResultInvalid);
    return false;
  }
  SetLastAck(answer.Inst);
  SetLastResult(answer.Inst == 0 ? kResultAnswered : kResultErrorAck);
  return true;
}

// The SIG stays reserved for the answer until it arrives or its deadline passes; when nothing
// went out, no answer can come and it is released at once.
bool TKorvelStackDevice::PostRequest(const TRef<IKorvelStack>& stack, TByte inst,
                                     const TByteString& data, const TKorvelAnswerCallback& callback,
                                     std::int32_t timeoutMs) {
  const TByte adr = GetAddress();
  bool reserved = false;
  const TByte sig = TakeSIG(inst, timeoutMs, nullptr, reserved);
  TOnScopeExit release([&] {
    if (reserved) ReleaseSIG(sig);
  });
  if (reserved && callback) {
    TKorvelFormat97 request;
    ParsePacket97(BuildPacket97(adr, sig, inst, data), request);
    std::lock_guard lock(tableMutex_);
    sigTable_[sig].Callback = callback;
    sigTable_[sig].Request = std::move(request);
  }
  const bool sent = stack->SendPacket(adr, sig, inst, data);
  if (sent) release.Dismiss();
  return sent;
}

bool TKorvelStackDevice::Transact(TByte inst, const TByteString& data,
                                  const TKorvelAnswerCallback& callback, bool wait,
                                  std::int32_t timeoutMs, std::int32_t& ack,
                                  TByteString& answerData) {
  TKorvelFormat97 answer;
  if (!SendInstruction(inst, data, callback, wait, timeoutMs, answer)) return false;
  if (wait && answer.Inst != 0) return false;
  ack = answer.Inst;
  answerData = std::move(answer.Data);
  return true;
}

bool TKorvelStackDevice::SendCommand(TByte inst, const TByteString& data,
                                     const TKorvelAnswerCallback& callback, bool wait,
                                     std::int32_t timeoutMs) {
  std::int32_t ack = 0;
  TByteString answerData;
  return Transact(inst, data, callback, wait, timeoutMs, ack, answerData);
}

bool TKorvelStackDevice::SendQuery(TByte inst, const TByteString& data, TByteString& answerData,
                                   const TKorvelAnswerCallback& callback, bool wait,
                                   std::int32_t timeoutMs) {
  std::int32_t ack = 0;
  return Transact(inst, data, callback, wait, timeoutMs, ack, answerData);
}

bool TKorvelStackDevice::Query(TByte inst, const TByteString& data, std::int32_t timeoutMs,
                               std::int32_t& ack, TByteString& answerData) {
  TKorvelFormat97 answer;
  const bool answered = SendInstruction(inst, data, {}, true, timeoutMs, answer);
  ack = answered ? answer.Inst : -1;
  answerData = std::move(answer.Data);
  return answered;
}

// ---- Received packets ----------------------------------------------------------------------

// Runs on the thread that delivers received data. Nothing raised here may reach the stack's
// receive loop.
std::int32_t TKorvelStackDevice::DoPacketReceive(const TKorvelFormat97& packet) {
  // Acknowledge codes between the answers' and the unsolicited ones, and above, are not for
  // this class.
  if (packet.Inst <= kLastAnswerAck) {
    try {
      return DoAnswer(packet);
    } catch (...) {
      ShowCaughtException("TKorvelStackDevice.DoPacketReceive e1");
    }
  } else if (IsUnsolicitedAck(packet.Inst)) {
    try {
      return DoUnsolicitedPacket(packet);
    } catch (...) {
      ShowCaughtException("TKorvelStackDevice.DoPacketReceive e2");
    }
  }
  return 0;
}

// The callback runs on the delivering thread with the table lock held. The entry is finished
// (waiter signalled or SIG released) also when the callback raises.
std::int32_t TKorvelStackDevice::DoAnswer(const TKorvelFormat97& packet) {
  std::lock_guard lock(tableMutex_);
  TKorvelStackItemSIG& entry = sigTable_[packet.Sig];
  if (entry.Free) return 0;
  entry.Answer = packet;
  const TOnScopeExit finish([&entry] {
    if (entry.Event) {
      entry.Event->Set();
    } else {
      entry = TKorvelStackItemSIG{};
    }
  });
  if (entry.Callback) entry.Callback(entry.Request, entry.Answer);
  return 0;
}

std::int32_t TKorvelStackDevice::DoUnsolicitedPacket(const TKorvelFormat97& /*packet*/) {
  return 0;
}

// ---- Common instructions -------------------------------------------------------------------

bool TKorvelStackDevice::CommandE3() {
  return SendCommand(kInstCommandE3, {});
}

bool TKorvelStackDevice::LoadIdentification() {
  TByteString text;
  const bool loaded = ReadIdentification(text);
  const TIdentification identification = loaded ? SplitIdentification(text) : TIdentification{};
  SetName(identification.name);
  TWriteLocker guard(*this);
  version_ = identification.version;
  identificationRest_ = identification.rest;
  identificationText_ = loaded ? text : TByteString();
  identificationLoaded_ = loaded;
  return loaded;
}

bool TKorvelStackDevice::ReadIdentification(TByteString& text) {
  return SendQuery(kInstIdentification, {}, text);
}

bool TKorvelStackDevice::GetByteF1(TByte& value) {
  TByteString answer;
  if (!SendQuery(kInstGetByte, {}, answer)) return false;
  value = answer.empty() ? 0 : ByteAt(answer, 0);
  TWriteLocker guard(*this);
  storedByte_ = value;
  return true;
}

bool TKorvelStackDevice::SetByteE1(TByte value) {
  if (!SendCommand(kInstSetByte, Bytes({value}))) return false;
  TWriteLocker guard(*this);
  storedByte_ = value;
  return true;
}

bool TKorvelStackDevice::GetTextF2(TByteString& text) {
  return SendQuery(kInstGetText, {}, text);
}

// The device keeps 16 bytes; a shorter text is ended by a zero byte.
bool TKorvelStackDevice::SetTextE2(const TByteString& text) {
  TByteString stored = text.substr(0, kTextE2MaxLength);
  if (stored.size() < kTextE2MaxLength) stored.push_back('\0');
  return SendCommand(kInstSetText, TByteString(1, '\0') + stored);
}

bool TKorvelStackDevice::GetFlagFE(bool& flag) {
  TByteString answer;
  if (!SendQuery(kInstGetFlag, {}, answer)) return false;
  if (!answer.empty()) flag = ByteAt(answer, 0) != 0;
  return true;
}

bool TKorvelStackDevice::SetFlagEE(bool flag) {
  return SendCommand(kInstSetFlag, Bytes({flag ? TByte{1} : TByte{0}}));
}

bool TKorvelStackDevice::ReadIdentifiers(std::uint16_t& word1, std::uint16_t& word2,
                                         std::uint32_t& value) {
  TByteString answer;
  if (!SendQuery(kInstIdentifiers, {}, answer) || answer.size() < 8) return false;
  const std::string_view bytes(answer);
  word1 = static_cast<std::uint16_t>(BigEndian(bytes.substr(0, 2)));
  word2 = static_cast<std::uint16_t>(BigEndian(bytes.substr(2, 2)));
  value = BigEndian(bytes.substr(4, 4));
  return true;
}

bool TKorvelStackDevice::QueryCommParams(TByteString& params) {
  if (!SendQuery(kInstReadCommParams, {}, params)) return false;
  // The broadcast and the refused address are no display's own: not followed.
  if (params.size() >= 2 && ByteAt(params, 0) < kBroadcastAddress) SetAddress(ByteAt(params, 0));
  return true;
}

bool TKorvelStackDevice::ReadAddress(TByte& adr) {
  TByteString params;
  const bool read = QueryCommParams(params);
  adr = GetAddress();
  return read;
}

bool TKorvelStackDevice::ReadCommParams(TByte& adr, std::int32_t& baud) {
  TByteString params;
  const bool read = QueryCommParams(params);
  if (read && params.size() >= 2) baud = BaudByIndex(ByteAt(params, 1));
  // As the display answered it, so that a caller can see an address it cannot have.
  adr = read && params.size() >= 2 ? ByteAt(params, 0) : GetAddress();
  return read;
}

// Writes back what the device reported, with only the address replaced.
bool TKorvelStackDevice::ChangeAddress(TByte adr) {
  TByteString params;
  if (!QueryCommParams(params) || params.size() < 2) return false;
  params[0] = static_cast<char>(adr);
  if (!EnableConfiguration()) return false;
  if (!SendCommand(kInstWriteCommParams, params)) return false;
  SetAddress(adr);
  return true;
}

bool TKorvelStackDevice::WriteCommParams(TByte adr, std::int32_t baud) {
  return EnableConfiguration() && SendCommParams(adr, baud);
}

bool TKorvelStackDevice::SendCommParams(TByte adr, std::int32_t baud) {
  if (!SendCommand(kInstWriteCommParams, Bytes({adr, IndexOfBaud(baud)}))) return false;
  SetAddress(adr);
  return true;
}

bool TKorvelStackDevice::EnableConfiguration() {
  return SendCommand(kInstEnableConfiguration, {}, {}, true, kEnableConfigurationTimeoutMs);
}

// A device whose address is not yet the wanted one is reached through the broadcast address;
// the address falls back to the remembered one unless the device took the new one.
bool TKorvelStackDevice::AssignAddress(std::uint16_t word1, std::uint16_t word2, TByte adr) {
  const TByteString data = Bytes({adr, static_cast<TByte>(word1 >> 8), static_cast<TByte>(word1),
                                  static_cast<TByte>(word2 >> 8), static_cast<TByte>(word2)});
  const TByte remembered = GetAddress();
  TOnScopeExit restore([this, remembered] { SetAddress(remembered); });
  if (adr != remembered && remembered < kBroadcastAddress) SetAddress(kBroadcastAddress);
  const bool wait = GetAddress() != kAddressRequestsAnswerless;
  if (!SendCommand(kInstAssignAddress, data, {}, wait)) return false;
  restore.Dismiss();
  SetAddress(adr);
  return true;
}

// ---- Persistence ---------------------------------------------------------------------------

void TKorvelStackDevice::LoadFromXML(TRef<IXMLElement> element, bool bind, bool reloadGUID) {
  TWriteLocker guard(*this);
  TNodedInterface::LoadFromXML(element, bind, reloadGUID);
  if (!element) return;
  if (element->HasAttribute("ADR")) address_ = ParseAddress(element->GetAttribute("ADR").Text());
  fixedSig_ =
      element->HasAttribute("fixedSIG")
          ? LowByte(ParsePersistedNumber(element->GetAttribute("fixedSIG").Text()).value_or(0))
          : 0;
}

void TKorvelStackDevice::SaveToXML() {
  TWriteLocker guard(*this);
  TNodedInterface::SaveToXML();
  const TRef<IXMLElement> element = GetXMLElement();
  if (!element) return;
  element->SetAttribute("GUID", GetGUIDString());
  element->SetAttribute("ADR", FormatAddress(address_));
  element->SetAttribute("fixedSIG", std::to_string(fixedSig_));
}

std::string LastResultText(IKorvelStackDevice& device) {
  switch (device.GetLastResult()) {
    case kResultNone:
      return "nothing sent, the operation refused its arguments";
    case kResultNoAnswer: {
      const std::string missed = device.GetLastMissReason();
      if (missed.empty()) return "no answer";
      // A remark in parentheses follows as it is; a cause follows a colon.
      return missed.front() == '(' ? "no answer " + missed : "no answer: " + missed;
    }
    case kResultDamaged:
      return "damaged answer: " + device.GetLastMissReason();
    case kResultErrorAck:
      return "acknowledge " + std::to_string(device.GetLastAck());
    default:
      // kResultInvalid, or acknowledge 0 with data the operation could not decode.
      return "invalid answer";
  }
}

}  // namespace zorvid
