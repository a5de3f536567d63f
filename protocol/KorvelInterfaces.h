#pragma once

// The two interfaces of the protocol layer: the stack that sits on one transport, and the
// addressed device registered with it. They refer to each other, so they share this header.

#include <cstdint>
#include <string>

#include "core/ICommunicationInterface.h"
#include "core/NodedInterface.h"
#include "core/Types.h"
#include "protocol/Korvel97.h"

namespace zorvid {

class IKorvelStackDevice;

// Address conventions: a packet for kBroadcastAddress reaches every device, a device with that
// address receives every packet, and a request sent to it accepts an answer from any address.
// A received packet for kRefusedAddress is an error.
inline constexpr TByte kBroadcastAddress = 0xFE;
inline constexpr TByte kRefusedAddress = 0xFF;

// The instructions every device of the family understands besides its own.
enum TKorvelInstruction : TByte {
  kInstWriteCommParams = 0xE0,
  kInstSetByte = 0xE1,
  kInstSetText = 0xE2,
  kInstCommandE3 = 0xE3,
  kInstEnableConfiguration = 0xE4,
  kInstAssignAddress = 0xEB,
  kInstSetFlag = 0xEE,
  kInstReadCommParams = 0xF0,
  kInstGetByte = 0xF1,
  kInstGetText = 0xF2,
  kInstIdentification = 0xF3,
  kInstIdentifiers = 0xFA,
  kInstGetFlag = 0xFE,
};

// The highest acknowledge code an answer to a request carries.
inline constexpr TByte kLastAnswerAck = 5;

// Acknowledge codes of packets a device sends on its own; such a packet is never an answer.
inline constexpr bool IsUnsolicitedAck(TByte ack) {
  return ack >= 0x0C && ack <= 0x0F;
}

// Why a request got no answer: what the stack saw instead, and whether that was the answer
// itself, damaged on the way.
struct TRequestMiss {
  std::string reason;
  bool damaged = false;
};

class IKorvelStack : public virtual INodedInterface {
 public:
  // Builds a packet and writes it; false (nothing sent) without a transport.
  virtual bool SendPacket(TByte adr, TByte sig, TByte inst, const TByteString& data) = 0;
  // Writes a packet and waits up to `timeoutMs` for its answer (same SIG, same address unless
  // adr is the broadcast address, acknowledge outside 0x0C..0x0F); true when it came.
  virtual bool Request(TByte adr, TByte sig, TByte inst, const TByteString& data,
                       TByteString& answer, std::int32_t timeoutMs) = 0;
  // Request that also says why no answer came: `missed` names what the stack saw instead (an
  // answer with the request's SIG that failed its checks, a line that closed), or remarks in
  // parentheses on what the line carried (bytes that were no packet); empty when the answer
  // came or nothing came at all. A stack that cannot tell leaves it empty.
  virtual bool RequestWithReason(TByte adr, TByte sig, TByte inst, const TByteString& data,
                                 TByteString& answer, std::int32_t timeoutMs,
                                 TRequestMiss& missed) {
    missed = {};
    return Request(adr, sig, inst, data, answer, timeoutMs);
  }
  virtual TCiRef GetCommunicationInterface() = 0;
  virtual void SetCommunicationInterface(TCiRef ci) = 0;
  virtual bool AddDevice(TRef<IKorvelStackDevice> device) = 0;
  virtual bool RemoveDevice(TRef<IKorvelStackDevice> device) = 0;
};

// Outcomes of a device's last request.
enum : TByte {
  kResultNone = 0,      // no request yet (or reset)
  kResultAnswered = 1,  // answered with acknowledge 0
  kResultNoAnswer = 2,  // nothing came back in time
  kResultInvalid = 3,   // what came back was not a valid packet
  kResultErrorAck = 4,  // answered with a non-zero acknowledge
  kResultDamaged = 5,   // the answer came damaged on the way (checksum or terminator)
};

class IKorvelStackDevice : public virtual INodedInterface {
 public:
  virtual TRef<IKorvelStack> GetStack() = 0;
  virtual void SetStack(TRef<IKorvelStack> stack) = 0;
  virtual TByte GetAddress() = 0;
  // Sets the address field only; nothing is sent.
  virtual void SetAddress(TByte adr) = 0;
  // Entry point for the stack: every received packet whose address matches this device.
  virtual std::int32_t DoPacketReceive(const TKorvelFormat97& packet) = 0;

  virtual bool CommandE3() = 0;
  virtual bool LoadIdentification() = 0;
  virtual bool GetByteF1(TByte& value) = 0;
  virtual bool SetByteE1(TByte value) = 0;
  virtual bool GetTextF2(TByteString& text) = 0;
  virtual bool SetTextE2(const TByteString& text) = 0;
  virtual bool ReadIdentification(TByteString& text) = 0;
  virtual bool GetFlagFE(bool& flag) = 0;
  virtual bool SetFlagEE(bool flag) = 0;
  virtual bool ReadIdentifiers(std::uint16_t& word1, std::uint16_t& word2,
                               std::uint32_t& value) = 0;
  virtual bool ReadAddress(TByte& adr) = 0;
  virtual bool ChangeAddress(TByte adr) = 0;
  virtual bool AssignAddress(std::uint16_t word1, std::uint16_t word2, TByte adr) = 0;
  virtual bool ReadCommParams(TByte& adr, std::int32_t& baud) = 0;
  virtual bool WriteCommParams(TByte adr, std::int32_t baud) = 0;
  virtual bool EnableConfiguration() = 0;
  // Any instruction; true when an answer with the request's SIG came, whatever its acknowledge.
  virtual bool Query(TByte inst, const TByteString& data, std::int32_t timeoutMs, std::int32_t& ack,
                     TByteString& answerData) = 0;

  virtual TByte GetLastResult() = 0;
  // What the stack saw when the last request got no answer (see RequestWithReason); empty
  // otherwise.
  virtual std::string GetLastMissReason() = 0;
  virtual void ResetLastResult() = 0;
  virtual std::int32_t GetLastAck() = 0;
  virtual void SetFixedSIG(TByte sig) = 0;
  virtual TByte GetFixedSIG() = 0;
  virtual void SetTimeout(std::int32_t timeoutMs) = 0;
};

inline constexpr TInterfaceId IID_IKorvelStack =
    MakeInterfaceId<IKorvelStack>("{1DF4C859-3157-41CD-AD86-E137FE27F5CF}");
inline constexpr TInterfaceId IID_IKorvelStackDevice =
    MakeInterfaceId<IKorvelStackDevice>("{B4371527-2102-41A1-9BBD-52521EC54798}");

}  // namespace zorvid
