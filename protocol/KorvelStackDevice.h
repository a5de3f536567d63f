#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/DateTime.h"
#include "core/Event.h"
#include "core/Handler.h"
#include "core/NodedInterface.h"
#include "core/TimeoutManager.h"
#include "protocol/KorvelInterfaces.h"

namespace zorvid {

// Called with (request as sent, answer) when the answer to a fire-and-forget request arrives.
using TKorvelAnswerCallback = THandler<const TKorvelFormat97&, const TKorvelFormat97&>;

// One entry of a device's SIG table: an outstanding request.
struct TKorvelStackItemSIG {
  bool Free = true;
  TByte Inst = 0;
  TDateTime Time = 0;       // local time at which the SIG was taken
  TDeadline Deadline;       // started with the request's time-out when the SIG was taken
  TEvent* Event = nullptr;  // signalled when the answer arrives; not owned
  TKorvelFormat97 Answer;
  TKorvelAnswerCallback Callback;
  TKorvelFormat97 Request;  // filled only when a callback is given
};

// Bits per second by the index the device uses on the wire.
inline constexpr std::array<std::int32_t, 12> kBaudTable{110,  300,   600,   1200,  2400,   4800,
                                                         9600, 19200, 38400, 57600, 115200, 230400};

// The base of every addressed device on a protocol stack: its address, the SIG table and
// allocator, the request engine (blocking or fire-and-forget), the outcome of the last request
// and the instructions common to every device of the family.
//
// Threads: requests run on the caller's thread (blocking ones wait inside the stack's Request).
// DoPacketReceive and DoAnswer run on whichever thread delivers received data. tableMutex_
// guards the SIG table and the rolling counter; a callback runs with it held and must not
// start a request on the same device. The address is atomic: the receive path reads it for
// every packet. The other fields are guarded by the node lock.
class TKorvelStackDevice : public TNodedInterface, public virtual IKorvelStackDevice {
 public:
  explicit TKorvelStackDevice(TByte address, std::string className = "TKorvelStackDevice");
  // With a non-empty `guid` the device takes it instead of a fresh one.
  TKorvelStackDevice(const std::string& guid, TByte address,
                     std::string className = "TKorvelStackDevice");
  ~TKorvelStackDevice() override;

  TRef<IKorvelStack> GetStack() override;
  void SetStack(TRef<IKorvelStack> stack) override;
  TByte GetAddress() override;
  void SetAddress(TByte adr) override;
  std::int32_t DoPacketReceive(const TKorvelFormat97& packet) override;

  bool CommandE3() override;
  bool LoadIdentification() override;
  bool GetByteF1(TByte& value) override;
  bool SetByteE1(TByte value) override;
  bool GetTextF2(TByteString& text) override;
  bool SetTextE2(const TByteString& text) override;
  bool ReadIdentification(TByteString& text) override;
  bool GetFlagFE(bool& flag) override;
  bool SetFlagEE(bool flag) override;
  bool ReadIdentifiers(std::uint16_t& word1, std::uint16_t& word2, std::uint32_t& value) override;
  bool ReadAddress(TByte& adr) override;
  bool ChangeAddress(TByte adr) override;
  bool AssignAddress(std::uint16_t word1, std::uint16_t word2, TByte adr) override;
  bool ReadCommParams(TByte& adr, std::int32_t& baud) override;
  bool WriteCommParams(TByte adr, std::int32_t baud) override;
  bool EnableConfiguration() override;
  bool Query(TByte inst, const TByteString& data, std::int32_t timeoutMs, std::int32_t& ack,
             TByteString& answerData) override;

  TByte GetLastResult() override;
  std::string GetLastMissReason() override;
  virtual void SetLastResult(TByte value);
  void ResetLastResult() override;
  std::int32_t GetLastAck() override;
  virtual void SetLastAck(std::int32_t value);
  void SetFixedSIG(TByte sig) override;
  TByte GetFixedSIG() override;
  void SetTimeout(std::int32_t timeoutMs) override;
  std::int32_t GetTimeout();

  // What the last identification read: the node name is the device's name.
  TByteString GetVersion();
  TByteString GetIdentificationRest();
  // The whole text the last identification read, as the device sent it.
  TByteString GetIdentificationText();
  bool GetIdentificationLoaded();
  TByte GetStoredByte();
  // The second half of WriteCommParams, 0xE0 alone, for a caller that enabled the
  // configuration itself and tells the two requests apart; on success the address follows.
  bool SendCommParams(TByte adr, std::int32_t baud);

  // Besides the node's attributes: "GUID", "ADR" (#$31) and "fixedSIG".
  using TNodedInterface::LoadFromXML;
  void LoadFromXML(TRef<IXMLElement> element, bool bind, bool reloadGUID) override;
  void SaveToXML() override;

 protected:
  // The request engine. A time-out below 0 means the device's time-out.
  virtual bool SendInstruction(TByte inst, const TByteString& data,
                               const TKorvelAnswerCallback& callback, bool wait,
                               std::int32_t timeoutMs, TKorvelFormat97& answer);
  // SendInstruction; success also needs acknowledge 0 when waiting. On success `ack` and
  // `answerData` come from the answer.
  bool Transact(TByte inst, const TByteString& data, const TKorvelAnswerCallback& callback,
                bool wait, std::int32_t timeoutMs, std::int32_t& ack, TByteString& answerData);
  bool SendCommand(TByte inst, const TByteString& data, const TKorvelAnswerCallback& callback = {},
                   bool wait = true, std::int32_t timeoutMs = -1);
  bool SendQuery(TByte inst, const TByteString& data, TByteString& answerData,
                 const TKorvelAnswerCallback& callback = {}, bool wait = true,
                 std::int32_t timeoutMs = -1);

  virtual std::int32_t DoAnswer(const TKorvelFormat97& packet);
  // Packets the device sends on its own (acknowledge 0x0C..0x0F); nothing happens here.
  virtual std::int32_t DoUnsolicitedPacket(const TKorvelFormat97& packet);

  TByte AllocateSIG(TByte inst, std::int32_t timeoutMs, TEvent* event);
  void ReleaseSIG(TByte sig);
  // A copy of one SIG table entry, for inspection.
  TKorvelStackItemSIG SigEntry(TByte sig);

  void BeforeDestruction() noexcept override;

 private:
  // The last result with what the stack saw instead of an answer (no or damaged answer only).
  void RecordResult(TByte value, const std::string& missReason);
  // AllocateSIG that also tells whether an entry was reserved (not so for a fixed SIG).
  TByte TakeSIG(TByte inst, std::int32_t timeoutMs, TEvent* event, bool& reserved);
  bool RequestAnswer(const TRef<IKorvelStack>& stack, TByte inst, const TByteString& data,
                     std::int32_t timeoutMs, TKorvelFormat97& answer);
  bool PostRequest(const TRef<IKorvelStack>& stack, TByte inst, const TByteString& data,
                   const TKorvelAnswerCallback& callback, std::int32_t timeoutMs);
  // Reads the communication parameters; an answer of two bytes or more sets the address.
  bool QueryCommParams(TByteString& params);

  std::mutex tableMutex_;
  std::array<TKorvelStackItemSIG, 256> sigTable_;  // guarded by tableMutex_
  TByte rollingSig_ = 0;                           // guarded by tableMutex_

  std::atomic<TByte> address_;

  // Guarded by the node lock.
  std::int32_t timeout_ = 1000;
  TRef<IKorvelStack> stack_;
  TByteString version_, identificationRest_, identificationText_;
  bool identificationLoaded_ = false;
  TByte storedByte_ = 0;
  TByte lastResult_ = kResultNone;
  std::string lastMissReason_;  // with kResultNoAnswer and kResultDamaged only
  std::int32_t lastAck_ = -1;
  TByte fixedSig_ = 0;
};

// Process-wide hooks that every device runs at the end of its construction and at the start of
// its destruction, so that a registry of devices can follow them without the device class
// knowing it. They run on the thread that creates or releases the device; empty ones do nothing.
using TKorvelDeviceHook = void (*)(TKorvelStackDevice* device) noexcept;
void SetKorvelDeviceCreatedHook(TKorvelDeviceHook hook);
void SetKorvelDeviceDestroyedHook(TKorvelDeviceHook hook);
TKorvelDeviceHook GetKorvelDeviceCreatedHook();
TKorvelDeviceHook GetKorvelDeviceDestroyedHook();

// Why the device's last request failed, as every tool words it: "no answer" (followed by what
// the stack saw instead, or by its remark in parentheses on what the line carried), "invalid
// answer", "acknowledge N", or, when nothing was sent, that the operation refused its arguments.
std::string LastResultText(IKorvelStackDevice& device);

// Creates a device from a persisted element: address 0xFE, then the element, then the owner;
// when the owner is a stack the device registers with it.
template <class T>
TRef<T> NewStackDevice(TRef<IXMLElement> element, TRef<IInterface> owner) {
  TRef<T> device = New<T>(kBroadcastAddress);
  device->LoadFromXML(std::move(element), true, false);
  device->SetOwner(owner);
  if (auto stack = Supports<IKorvelStack>(owner)) device->SetStack(stack);
  return device;
}

}  // namespace zorvid
