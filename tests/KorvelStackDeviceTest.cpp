#include "protocol/KorvelStackDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/Event.h"
#include "core/MessageHook.h"
#include "core/TimeoutManager.h"
#include "core/XmlElement.h"
#include "tests/support/ByteText.h"
#include "tests/support/FakeKorvelStack.h"
#include "tests/support/ShownMessages.h"
#include "tests/support/WaitUntil.h"

namespace zorvid {
namespace {

using test::Bytes;

using namespace std::chrono_literals;
using test::AnswerTo;
using test::TFakeKorvelStack;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

TByteString Wire(const TKorvelFormat97& packet) {
  return BuildPacket97(packet.Adr, packet.Sig, packet.Inst, packet.Data);
}

TKorvelFormat97 Parsed(const TByteString& bytes) {
  TKorvelFormat97 packet;
  ParsePacket97(bytes, packet);
  return packet;
}

// One field (SIG or instruction) of every packet, in sending order.
std::vector<int> Each(const std::vector<TKorvelFormat97>& packets, TByte TKorvelFormat97::*field) {
  std::vector<int> values;
  for (const auto& packet : packets)
    values.push_back(packet.*field);
  return values;
}

// ---- Process-wide hooks the tests install --------------------------------------------------

std::atomic<std::uint32_t> fakeTicks{1000};
std::uint32_t FakeTicks() {
  return fakeTicks.load();
}

// An allocator that waits where it should not would spin forever on frozen ticks; its overload
// report ends the request with an error instead.
void FailOnMessage(const std::string& text) {
  throw std::runtime_error("unexpected message: " + text);
}

// ---- Test doubles --------------------------------------------------------------------------

// Opens the request engine and records how the instructions use it.
class TProbeDevice : public TKorvelStackDevice {
 public:
  using TKorvelStackDevice::AllocateSIG;
  using TKorvelStackDevice::ReleaseSIG;
  using TKorvelStackDevice::SigEntry;
  using TKorvelStackDevice::TKorvelStackDevice;

  struct TCall {
    int inst;
    bool wait;
    std::int32_t timeoutMs;
    bool operator==(const TCall&) const = default;
  };

  bool SendInstruction(TByte inst, const TByteString& data, const TKorvelAnswerCallback& callback,
                       bool wait, std::int32_t timeoutMs, TKorvelFormat97& answer) override {
    calls.push_back({inst, wait, timeoutMs});
    return TKorvelStackDevice::SendInstruction(inst, data, callback, wait, timeoutMs, answer);
  }
  bool Post(TByte inst, const TByteString& data, const TKorvelAnswerCallback& callback = {},
            std::int32_t timeoutMs = 10'000) {
    TKorvelFormat97 answer;
    return SendInstruction(inst, data, callback, false, timeoutMs, answer);
  }

  std::vector<TCall> calls;                  // test thread only
  std::vector<TKorvelFormat97> unsolicited;  // test thread only
  bool failUnsolicited = false;

 protected:
  std::int32_t DoUnsolicitedPacket(const TKorvelFormat97& packet) override {
    if (failUnsolicited) throw std::runtime_error("unsolicited packet refused");
    unsolicited.push_back(packet);
    return 0;
  }
};

// Records the answers to fire-and-forget requests; called on the delivering thread.
class TAnswerRecorder {
 public:
  struct TCall {
    TKorvelFormat97 request, answer;
  };
  TKorvelAnswerCallback Handler() { return {this, &TAnswerRecorder::OnAnswer}; }
  std::vector<TCall> Calls() {
    std::lock_guard guard(mutex_);
    return calls_;
  }
  bool fail = false;

 private:
  void OnAnswer(const TKorvelFormat97& request, const TKorvelFormat97& answer) {
    {
      std::lock_guard guard(mutex_);
      calls_.push_back({request, answer});
    }
    if (fail) throw std::runtime_error("answer refused");
  }
  std::mutex mutex_;
  std::vector<TCall> calls_;  // guarded by mutex_
};

class KorvelStackDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { stack_->AddDevice(device_); }
  void TearDown() override {
    stack_->RemoveDevice(device_);
    SetTickSource(nullptr);
  }
  // Ticks stand still until the test moves them.
  void FreezeTicks() {
    fakeTicks = 1000;
    SetTickSource(&FakeTicks);
    SetMessageHook(&FailOnMessage);
  }

  // Every request is answered with this acknowledge and data.
  void AnswerAll(TByte ack, const TByteString& data = {}) {
    stack_->SetScript([ack, data](const TKorvelFormat97& request) -> std::optional<TByteString> {
      return AnswerTo(request, ack, data);
    });
  }
  // Requests for `inst` get `ack` and `data`, others acknowledge 0 without data.
  void Answer(TByte inst, TByte ack, const TByteString& data = {}) {
    stack_->SetScript([=](const TKorvelFormat97& request) -> std::optional<TByteString> {
      return request.Inst == inst ? AnswerTo(request, ack, data) : AnswerTo(request, 0);
    });
  }
  void AnswerRaw(const std::optional<TByteString>& reply) {
    stack_->SetScript([reply](const TKorvelFormat97&) { return reply; });
  }
  TKorvelFormat97 LastSent() { return stack_->Sent().back(); }
  // Hands the device a packet from its address, as the stack does with what it receives.
  std::int32_t Receive(TByte sig, TByte ack, const TByteString& data = {}) {
    return device_->DoPacketReceive(Parsed(BuildPacket97(0x31, sig, ack, data)));
  }
  // Takes every SIG with a fire-and-forget request; `timeoutOf` gives each SIG's time-out.
  template <class F>
  void TakeAllSigs(F timeoutOf) {
    for (int i = 1; i <= 256; ++i)
      ASSERT_TRUE(device_->Post(0x20, {}, {}, timeoutOf(static_cast<TByte>(i))));
  }

  test::TShownMessages shown_;  // declared first: it keeps the message hook to the end
  TAnswerRecorder recorder_;    // outlives the device, whose SIG table may still point to it
  TRef<TFakeKorvelStack> stack_ = New<TFakeKorvelStack>();
  TRef<TProbeDevice> device_ = New<TProbeDevice>(TByte{0x31});
};

// ---- Construction and registration ---------------------------------------------------------

TEST(KorvelStackDeviceConstructionTest, StartsWithDefaultsAndAFreshOrGivenGUID) {
  const auto device = New<TKorvelStackDevice>(TByte{0x42});
  EXPECT_EQ(device->GetAddress(), 0x42);
  EXPECT_EQ(device->GetTimeout(), 1000);
  EXPECT_EQ(device->GetLastResult(), kResultNone);
  EXPECT_EQ(device->GetLastAck(), -1);
  EXPECT_EQ(device->GetFixedSIG(), 0);
  EXPECT_FALSE(device->GetStack());
  EXPECT_NO_THROW(device->GetGUID());
  EXPECT_NE(device->GetGUIDString(), New<TKorvelStackDevice>(TByte{0x42})->GetGUIDString());

  const std::string guid = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  EXPECT_EQ(New<TKorvelStackDevice>(guid, TByte{1})->GetGUIDString(), guid);
  EXPECT_FALSE(New<TKorvelStackDevice>(std::string(), TByte{1})->GetGUIDString().empty());
}

TEST(KorvelStackDeviceRegistrationTest, DeviceAndStackRegisterEachOtherFromEitherSide) {
  const auto stack = New<TFakeKorvelStack>();
  const auto device = New<TKorvelStackDevice>(TByte{0x31});

  device->SetStack(stack);
  EXPECT_TRUE(device->GetStack() == stack);
  EXPECT_EQ(stack->IndexOfChild(device), 0);
  device->SetStack({});
  EXPECT_FALSE(device->GetStack());
  EXPECT_EQ(stack->GetChildCount(), 0);

  EXPECT_TRUE(stack->AddDevice(device));
  EXPECT_TRUE(device->GetStack() == stack);
  EXPECT_EQ(stack->GetChildCount(), 1);
  stack->RemoveDevice(device);
  EXPECT_FALSE(device->GetStack());
  EXPECT_EQ(stack->GetChildCount(), 0);
}

TEST_F(KorvelStackDeviceTest, UnregisteredDeviceSendsNothing) {
  AnswerAll(0);
  stack_->RemoveDevice(device_);
  EXPECT_FALSE(device_->CommandE3());
  EXPECT_FALSE(device_->Post(0x20, {}));
  EXPECT_THAT(stack_->Sent(), IsEmpty());
  EXPECT_EQ(device_->GetLastResult(), kResultNone);
  EXPECT_EQ(LastResultText(*device_), "nothing sent, the operation refused its arguments");
}

// ---- SIG allocation ------------------------------------------------------------------------

TEST_F(KorvelStackDeviceTest, FirstRequestsCarrySigsOneTwoThree) {
  AnswerAll(0);
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(device_->CommandE3());
  EXPECT_THAT(Each(stack_->Sent(), &TKorvelFormat97::Sig), ElementsAre(1, 2, 3));
  // 2A 61, length 5, address 31, SIG 1, instruction E3, checksum, terminator.
  EXPECT_EQ(Wire(stack_->Sent()[0]), Bytes({0x2A, 0x61, 0x00, 0x05, 0x31, 0x01, 0xE3, 0x5A, 0x0D}));
  for (const int sig : {1, 2, 3})
    EXPECT_TRUE(device_->SigEntry(static_cast<TByte>(sig)).Free) << "SIG " << sig;
}

TEST_F(KorvelStackDeviceTest, FixedSigIsUsedForEveryRequestAndLeavesTheTableAlone) {
  AnswerAll(0);
  ASSERT_TRUE(device_->Post(0x20, {}));  // rolling SIG 1, outstanding

  device_->SetFixedSIG(0x20);
  ASSERT_TRUE(device_->CommandE3());
  ASSERT_TRUE(device_->Post(0x21, {}, recorder_.Handler()));
  device_->SetFixedSIG(1);
  ASSERT_TRUE(device_->CommandE3());

  EXPECT_THAT(Each(stack_->Sent(), &TKorvelFormat97::Sig), ElementsAre(1, 0x20, 0x20, 1));
  EXPECT_TRUE(device_->SigEntry(0x20).Free);
  EXPECT_FALSE(device_->SigEntry(0x20).Callback);
  EXPECT_FALSE(device_->SigEntry(1).Free) << "a fixed-SIG request released a rolling one";
  device_->SetFixedSIG(0);
  ASSERT_TRUE(device_->CommandE3());
  EXPECT_EQ(LastSent().Sig, 2);
}

TEST_F(KorvelStackDeviceTest, ExpiredSigIsReusedWhileOutstandingOnesAreSkipped) {
  FreezeTicks();
  TakeAllSigs([](TByte sig) { return sig == 2 ? 50 : 10'000; });
  fakeTicks += 50;
  AnswerAll(0);
  ASSERT_TRUE(device_->CommandE3());
  EXPECT_EQ(LastSent().Sig, 2);
}

TEST_F(KorvelStackDeviceTest, ReusedSigForgetsTheCallbackOfItsExpiredRequest) {
  FreezeTicks();
  TAnswerRecorder expired;
  ASSERT_TRUE(device_->Post(0x20, {}, expired.Handler(), 50));
  for (int i = 2; i <= 256; ++i)
    ASSERT_TRUE(device_->Post(0x20, {}));
  fakeTicks += 50;
  ASSERT_TRUE(device_->Post(0x21, {}));
  ASSERT_EQ(LastSent().Sig, 1);
  device_->DoPacketReceive(Parsed(AnswerTo(LastSent(), 0)));
  EXPECT_THAT(expired.Calls(), IsEmpty());
  EXPECT_TRUE(device_->SigEntry(1).Free);
}

// Every SIG taken by fire-and-forget requests: the allocator waits in 1 ms wraps until a
// deadline frees one, and tells the user once per overload, however many wraps it lasts. The
// ticks stand still until the overload has been told, so the table is full however slowly the
// reservations go, and the request can only go out once they move.
TEST_F(KorvelStackDeviceTest, FullTableReportsOverloadOnceAndGoesOutWhenADeadlineFreesASig) {
  fakeTicks = 1000;
  SetTickSource(&FakeTicks);
  TakeAllSigs([](TByte) { return 40; });
  AnswerAll(0);
  std::atomic<bool> moved{false};
  std::thread clock([&] {
    test::WaitUntil([&] { return !shown_.Texts().empty(); });
    moved = true;
    fakeTicks += 40;  // every deadline passes
  });
  const bool sent = device_->CommandE3();
  clock.join();
  ASSERT_TRUE(sent);
  EXPECT_TRUE(moved) << "it went out while every SIG was taken";
  EXPECT_THAT(shown_.Texts(), ElementsAre("SIG stack overload"));
  EXPECT_EQ(LastSent().Inst, kInstCommandE3);
}

// ---- Blocking requests ---------------------------------------------------------------------

TEST_F(KorvelStackDeviceTest, ErrorAcknowledgeFailsTheInstructionButAnswersTheQuery) {
  AnswerAll(2, Bytes({0x55}));
  EXPECT_FALSE(device_->CommandE3());
  EXPECT_EQ(device_->GetLastResult(), kResultErrorAck);
  EXPECT_EQ(device_->GetLastAck(), 2);
  EXPECT_EQ(LastResultText(*device_), "acknowledge 2");

  std::int32_t ack = -1;
  TByteString data;
  EXPECT_TRUE(device_->Query(0x77, Bytes({1, 2}), 100, ack, data));
  EXPECT_EQ(ack, 2);
  EXPECT_EQ(data, Bytes({0x55}));
  EXPECT_EQ(Wire(LastSent()), BuildPacket97(0x31, 2, 0x77, Bytes({1, 2})));
}

TEST_F(KorvelStackDeviceTest, SuccessThenSilenceResetsTheOutcome) {
  AnswerAll(0);
  ASSERT_TRUE(device_->CommandE3());
  EXPECT_EQ(device_->GetLastResult(), kResultAnswered);
  EXPECT_EQ(device_->GetLastAck(), 0);

  AnswerRaw(std::nullopt);
  EXPECT_FALSE(device_->CommandE3());
  EXPECT_EQ(device_->GetLastResult(), kResultNoAnswer);
  EXPECT_EQ(device_->GetLastAck(), -1);
  EXPECT_EQ(LastResultText(*device_), "no answer");
  EXPECT_THAT(stack_->Sent(), SizeIs(2)) << "a request is never repeated";

  std::int32_t ack = 0;
  TByteString data = "stale";
  EXPECT_FALSE(device_->Query(0x77, {}, 100, ack, data));
  EXPECT_EQ(ack, -1);
  EXPECT_THAT(data, IsEmpty());
}

TEST_F(KorvelStackDeviceTest, UnreadableAnswersAreInvalidAndEmptyOnesAreMissing) {
  TByteString badChecksum = BuildPacket97(0x31, 1, 0, {});
  badChecksum[badChecksum.size() - 2] ^= 0x01;
  TByteString tooShortToParse = Bytes({0x2A, 0x61, 0x00, 0x04, 0x31, 0x02});
  tooShortToParse += static_cast<char>(Checksum97(tooShortToParse));
  tooShortToParse += '\r';
  ASSERT_EQ(ValidatePacket97(tooShortToParse), kPacket97Valid);
  const TByteString otherSig = BuildPacket97(0x31, 0x99, 0, {});

  for (const auto& reply : {badChecksum, tooShortToParse, otherSig}) {
    AnswerRaw(reply);
    EXPECT_FALSE(device_->CommandE3());
    EXPECT_EQ(device_->GetLastResult(), kResultInvalid);
    EXPECT_EQ(device_->GetLastAck(), -1);
    EXPECT_EQ(LastResultText(*device_), "invalid answer");
  }
  AnswerRaw(TByteString());
  EXPECT_FALSE(device_->CommandE3());
  EXPECT_EQ(device_->GetLastResult(), kResultNoAnswer);
}

TEST_F(KorvelStackDeviceTest, ErrorRaisedByTheStackReleasesTheSig) {
  stack_->SetScript([](const TKorvelFormat97&) -> std::optional<TByteString> {
    throw std::runtime_error("RCV packet ADR=$FF !");
  });
  EXPECT_THROW(device_->CommandE3(), std::runtime_error);
  EXPECT_TRUE(device_->SigEntry(1).Free);
}

// ---- Fire-and-forget and received packets --------------------------------------------------

TEST_F(KorvelStackDeviceTest, FireAndForgetAnswerReachesTheCallbackAndFreesTheSig) {
  TKorvelFormat97 answer;
  answer.Data = "stale";
  ASSERT_TRUE(device_->SendInstruction(0x20, Bytes({7}), recorder_.Handler(), false, 1000, answer));
  EXPECT_EQ(answer, TKorvelFormat97{});
  const TKorvelFormat97 sent = LastSent();
  EXPECT_EQ(Wire(sent), BuildPacket97(0x31, 1, 0x20, Bytes({7})));
  const TKorvelStackItemSIG entry = device_->SigEntry(1);
  EXPECT_FALSE(entry.Free);
  EXPECT_EQ(entry.Inst, 0x20);
  EXPECT_GT(entry.Time, 0.0);

  const TKorvelFormat97 reply = Parsed(AnswerTo(sent, 0, "ok"));
  Receive(9, 0);  // SIG 9 is free: ignored
  EXPECT_THAT(recorder_.Calls(), IsEmpty());
  device_->DoPacketReceive(reply);
  ASSERT_THAT(recorder_.Calls(), SizeIs(1));
  EXPECT_EQ(recorder_.Calls()[0].request, sent);
  EXPECT_EQ(recorder_.Calls()[0].answer, reply);
  EXPECT_TRUE(device_->SigEntry(1).Free);
  device_->DoPacketReceive(reply);
  EXPECT_THAT(recorder_.Calls(), SizeIs(1)) << "an answer is taken once";
}

TEST_F(KorvelStackDeviceTest, AnswerForAWaiterIsStoredAndSignalled) {
  TEvent arrived;
  const TByte sig = device_->AllocateSIG(0x21, 1000, &arrived);
  const TKorvelFormat97 reply = Parsed(BuildPacket97(0x31, sig, 3, "data"));
  device_->DoPacketReceive(reply);
  EXPECT_TRUE(arrived.Wait(0ms));
  const TKorvelStackItemSIG entry = device_->SigEntry(sig);
  EXPECT_FALSE(entry.Free) << "the waiter releases the SIG";
  EXPECT_EQ(entry.Answer, reply);
  device_->ReleaseSIG(sig);
  EXPECT_TRUE(device_->SigEntry(sig).Free);
}

TEST_F(KorvelStackDeviceTest, PacketsAreRoutedByAcknowledgeCode) {
  ASSERT_TRUE(device_->Post(0x20, {}, recorder_.Handler()));
  const TKorvelFormat97 unsolicited = Parsed(BuildPacket97(0x31, 1, 0x0E, "u"));
  device_->DoPacketReceive(unsolicited);
  Receive(1, 0x07);
  Receive(1, 0x10);
  EXPECT_THAT(device_->unsolicited, ElementsAre(unsolicited));
  EXPECT_THAT(recorder_.Calls(), IsEmpty());
  EXPECT_FALSE(device_->SigEntry(1).Free);

  Receive(1, 0x05);
  EXPECT_THAT(recorder_.Calls(), SizeIs(1));
}

TEST_F(KorvelStackDeviceTest, ErrorsWhileHandlingPacketsAreShownNotRaised) {
  recorder_.fail = true;
  ASSERT_TRUE(device_->Post(0x20, {}, recorder_.Handler()));
  EXPECT_EQ(Receive(1, 0), 0);
  EXPECT_TRUE(device_->SigEntry(1).Free) << "a failing callback still frees its SIG";

  device_->failUnsolicited = true;
  EXPECT_EQ(Receive(5, 0x0C), 0);
  EXPECT_THAT(shown_.Texts(),
              ElementsAre("TKorvelStackDevice.DoPacketReceive e1: answer refused",
                          "TKorvelStackDevice.DoPacketReceive e2: unsolicited packet refused"));
}

TEST_F(KorvelStackDeviceTest, AnswersDeliveredOnAnotherThreadReachEveryCallback) {
  constexpr int kRequests = 200;
  std::thread deliverer([&] {
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    std::size_t delivered = 0;
    while (delivered < kRequests && std::chrono::steady_clock::now() < giveUp) {
      const auto sent = stack_->Sent();
      for (; delivered < sent.size(); ++delivered)
        device_->DoPacketReceive(Parsed(AnswerTo(sent[delivered], 0)));
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < kRequests; ++i)
    EXPECT_TRUE(device_->Post(0x20, Bytes({i & 0xFF}), recorder_.Handler()));
  deliverer.join();
  EXPECT_THAT(recorder_.Calls(), SizeIs(kRequests));
  for (int sig = 0; sig < 256; ++sig)
    EXPECT_TRUE(device_->SigEntry(static_cast<TByte>(sig)).Free) << "SIG " << sig;
}

// ---- Common instructions -------------------------------------------------------------------

TEST_F(KorvelStackDeviceTest, ChangeAddressWritesBackTheParametersOnlyAfterConfigurationIsOn) {
  stack_->SetScript([](const TKorvelFormat97& request) -> std::optional<TByteString> {
    if (request.Inst == 0xF0) return AnswerTo(request, 0, Bytes({0x31, 0x06}));
    return AnswerTo(request, request.Inst == 0xE4 ? 1 : 0);
  });
  EXPECT_FALSE(device_->ChangeAddress(0x40));
  EXPECT_THAT(Each(stack_->Sent(), &TKorvelFormat97::Inst), ElementsAre(0xF0, 0xE4));
  EXPECT_EQ(device_->GetAddress(), 0x31);

  stack_->ClearSent();
  Answer(0xF0, 0, Bytes({0x31, 0x06, 0x09}));
  EXPECT_TRUE(device_->ChangeAddress(0x40));
  const auto sent = stack_->Sent();
  EXPECT_THAT(Each(sent, &TKorvelFormat97::Inst), ElementsAre(0xF0, 0xE4, 0xE0));
  EXPECT_EQ(sent[2].Data, Bytes({0x40, 0x06, 0x09}));
  EXPECT_EQ(sent[2].Adr, 0x31);
  EXPECT_EQ(device_->GetAddress(), 0x40);

  stack_->ClearSent();
  Answer(0xF0, 0, Bytes({0x40}));
  EXPECT_FALSE(device_->ChangeAddress(0x50));
  EXPECT_THAT(Each(stack_->Sent(), &TKorvelFormat97::Inst), ElementsAre(0xF0));
}

TEST_F(KorvelStackDeviceTest, EnableConfigurationWaitsHalfASecond) {
  AnswerAll(0);
  ASSERT_TRUE(device_->EnableConfiguration());
  EXPECT_THAT(device_->calls, ElementsAre(TProbeDevice::TCall{0xE4, true, 500}));
  EXPECT_THAT(LastSent().Data, IsEmpty());
}

TEST_F(KorvelStackDeviceTest, SetTextE2SendsAtMostSixteenBytesBehindAZeroByte) {
  AnswerAll(0);
  ASSERT_TRUE(device_->SetTextE2("ABCDEFGHIJKLMNOPQRST"));
  EXPECT_EQ(LastSent().Data, TByteString(1, '\0') + "ABCDEFGHIJKLMNOP");
  ASSERT_TRUE(device_->SetTextE2("ABCDEFGHIJKLMNOP"));
  EXPECT_EQ(LastSent().Data, TByteString(1, '\0') + "ABCDEFGHIJKLMNOP");
  ASSERT_TRUE(device_->SetTextE2("abc"));
  EXPECT_EQ(LastSent().Inst, 0xE2);
  EXPECT_EQ(LastSent().Data, Bytes({0x00, 0x61, 0x62, 0x63, 0x00}));
}

TEST_F(KorvelStackDeviceTest, ReadCommParamsDecodesAddressAndBaud) {
  TByte adr = 0;
  std::int32_t baud = 0;
  Answer(0xF0, 0, Bytes({0x31, 0x06}));
  ASSERT_TRUE(device_->ReadCommParams(adr, baud));
  EXPECT_EQ(adr, 0x31);
  EXPECT_EQ(baud, 9600);

  Answer(0xF0, 0, Bytes({0x33, 12}));
  ASSERT_TRUE(device_->ReadCommParams(adr, baud));
  EXPECT_EQ(adr, 0x33);
  EXPECT_EQ(device_->GetAddress(), 0x33);
  EXPECT_EQ(baud, 0);

  baud = 77;
  Answer(0xF0, 0, Bytes({0x44}));
  ASSERT_TRUE(device_->ReadCommParams(adr, baud));
  EXPECT_EQ(adr, 0x33) << "a short answer leaves the address";
  EXPECT_EQ(baud, 77);

  Answer(0xF0, 0, Bytes({0x35, 0x00}));
  ASSERT_TRUE(device_->ReadAddress(adr));
  EXPECT_EQ(adr, 0x35);
  AnswerRaw(std::nullopt);
  EXPECT_FALSE(device_->ReadAddress(adr));
  EXPECT_EQ(adr, 0x35);
}

TEST_F(KorvelStackDeviceTest, WriteCommParamsSendsAddressAndBaudIndexAfterEnabling) {
  AnswerAll(0);
  ASSERT_TRUE(device_->WriteCommParams(0x32, 19200));
  auto sent = stack_->Sent();
  EXPECT_THAT(Each(sent, &TKorvelFormat97::Inst), ElementsAre(0xE4, 0xE0));
  EXPECT_EQ(sent[1].Data, Bytes({0x32, 0x07}));
  EXPECT_EQ(device_->GetAddress(), 0x32);

  ASSERT_TRUE(device_->WriteCommParams(0x33, 12345));
  EXPECT_EQ(LastSent().Data, Bytes({0x33, 0xFF}));

  stack_->ClearSent();
  Answer(0xE4, 4);
  EXPECT_FALSE(device_->WriteCommParams(0x34, 9600));
  EXPECT_THAT(Each(stack_->Sent(), &TKorvelFormat97::Inst), ElementsAre(0xE4));
  EXPECT_EQ(device_->GetAddress(), 0x33);
}

TEST_F(KorvelStackDeviceTest, AssignAddressGoesThroughBroadcastAndRestoresOnFailure) {
  AnswerAll(0);
  ASSERT_TRUE(device_->AssignAddress(0x1234, 0x5678, 0x40));
  EXPECT_EQ(LastSent().Adr, kBroadcastAddress);
  EXPECT_EQ(LastSent().Inst, 0xEB);
  EXPECT_EQ(LastSent().Data, Bytes({0x40, 0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(device_->GetAddress(), 0x40);

  ASSERT_TRUE(device_->AssignAddress(1, 2, 0x40));
  EXPECT_EQ(LastSent().Adr, 0x40) << "the same address needs no broadcast";

  AnswerAll(3);
  EXPECT_FALSE(device_->AssignAddress(1, 2, 0x50));
  EXPECT_EQ(LastSent().Adr, kBroadcastAddress);
  EXPECT_EQ(device_->GetAddress(), 0x40);

  stack_->SetScript([](const TKorvelFormat97&) -> std::optional<TByteString> {
    throw std::runtime_error("line lost");
  });
  EXPECT_THROW(device_->AssignAddress(1, 2, 0x50), std::runtime_error);
  EXPECT_EQ(device_->GetAddress(), 0x40);
}

TEST_F(KorvelStackDeviceTest, AssignAddressFromTheRefusedAddressDoesNotWait) {
  device_->SetAddress(0xFF);
  ASSERT_TRUE(device_->AssignAddress(1, 2, 0x40));
  EXPECT_FALSE(device_->calls.back().wait);
  EXPECT_EQ(LastSent().Adr, 0xFF);
  EXPECT_EQ(device_->GetAddress(), 0x40);
}

TEST_F(KorvelStackDeviceTest, LoadIdentificationSplitsNameVersionAndRest) {
  struct TCase {
    std::string text, name, version, rest;
  };
  for (const auto& [text, name, version, rest] : std::vector<TCase>{
           {"ZorvidL;v1.0;rtc", "ZorvidL", "1.0", "rtc"},
           {" Zorvid ; 2.1 ; rtc ;more", "Zorvid", "2.1", "rtc"},
           {"Zorvid;ver3", "Zorvid", "er3", ""},
           {"Zorvid", "Zorvid", "", ""},
           {"", "", "", ""},
       }) {
    Answer(0xF3, 0, text);
    EXPECT_TRUE(device_->LoadIdentification()) << text;
    EXPECT_EQ(device_->GetName(), name) << text;
    EXPECT_EQ(device_->GetVersion(), version) << text;
    EXPECT_EQ(device_->GetIdentificationRest(), rest) << text;
    EXPECT_TRUE(device_->GetIdentificationLoaded()) << text;
  }
  EXPECT_EQ(LastSent().Inst, 0xF3);
  EXPECT_THAT(LastSent().Data, IsEmpty());

  AnswerRaw(std::nullopt);
  EXPECT_FALSE(device_->LoadIdentification());
  EXPECT_EQ(device_->GetName(), "");
  EXPECT_FALSE(device_->GetIdentificationLoaded());
}

TEST_F(KorvelStackDeviceTest, StoredByteFlagTextAndIdentifiersMoveTheirBytes) {
  TByte value = 0;
  Answer(0xF1, 0, Bytes({0x5A, 0x01}));
  ASSERT_TRUE(device_->GetByteF1(value));
  EXPECT_EQ(value, 0x5A);
  EXPECT_EQ(device_->GetStoredByte(), 0x5A);
  Answer(0xE1, 1);
  EXPECT_FALSE(device_->SetByteE1(0x07));
  EXPECT_EQ(device_->GetStoredByte(), 0x5A);
  AnswerAll(0);
  ASSERT_TRUE(device_->SetByteE1(0x07));
  EXPECT_EQ(LastSent().Data, Bytes({0x07}));
  EXPECT_EQ(device_->GetStoredByte(), 0x07);

  bool flag = false;
  Answer(0xFE, 0, Bytes({0x02}));
  ASSERT_TRUE(device_->GetFlagFE(flag));
  EXPECT_TRUE(flag);
  Answer(0xFE, 0);
  ASSERT_TRUE(device_->GetFlagFE(flag));
  EXPECT_TRUE(flag) << "an empty answer leaves the flag";
  ASSERT_TRUE(device_->SetFlagEE(true));
  EXPECT_EQ(LastSent().Data, Bytes({0x01}));
  ASSERT_TRUE(device_->SetFlagEE(false));
  EXPECT_EQ(LastSent().Data, Bytes({0x00}));

  TByteString text;
  Answer(0xF2, 0, TByteString("a\0b", 3));
  ASSERT_TRUE(device_->GetTextF2(text));
  EXPECT_EQ(text, TByteString("a\0b", 3));

  std::uint16_t word1 = 0, word2 = 0;
  std::uint32_t number = 0;
  Answer(0xFA, 0, Bytes({0x12, 0x34, 0xAB, 0xCD, 0x01, 0x02, 0x03, 0x04}));
  ASSERT_TRUE(device_->ReadIdentifiers(word1, word2, number));
  EXPECT_EQ(word1, 0x1234);
  EXPECT_EQ(word2, 0xABCD);
  EXPECT_EQ(number, 0x01020304u);
  Answer(0xFA, 0, Bytes({1, 2, 3, 4, 5, 6, 7}));
  EXPECT_FALSE(device_->ReadIdentifiers(word1, word2, number));

  ASSERT_TRUE(device_->CommandE3());
  EXPECT_EQ(LastSent().Inst, 0xE3);
}

// ---- Persistence ---------------------------------------------------------------------------

TEST(KorvelStackDeviceXmlTest, SavesAddressAsHexAndFixedSig) {
  const auto element = New<TXMLElement>();
  const auto device = New<TKorvelStackDevice>(TByte{0x31});
  device->SetFixedSIG(0x20);
  device->SetXMLElement(element);
  device->SaveToXML();
  EXPECT_EQ(element->GetAttribute("ADR").Text(), "#$31");
  EXPECT_EQ(element->GetAttribute("fixedSIG").Text(), "32");
  EXPECT_EQ(element->GetAttribute("GUID").Text(), device->GetGUIDString());

  device->SetAddress(0x0A);
  device->SaveToXML();
  EXPECT_EQ(element->GetAttribute("ADR").Text(), "#$0A");
}

TEST(KorvelStackDeviceXmlTest, LoadsAddressInEveryWrittenForm) {
  const auto device = New<TKorvelStackDevice>(TByte{0x10});
  const auto element = New<TXMLElement>();
  for (const auto& [text, address] : std::vector<std::pair<std::string, int>>{
           {"#$31", 0x31}, {"#49", 0x31}, {"1", 0x31}, {"#$1FF", 0xFF}, {"#zz", 0}, {"", 0}}) {
    element->SetAttribute("ADR", text);
    device->LoadFromXML(element);
    EXPECT_EQ(device->GetAddress(), address) << text;
  }
  element->SetAttribute("fixedSIG", "7");
  device->LoadFromXML(element);
  EXPECT_EQ(device->GetFixedSIG(), 7);

  const auto withoutSig = New<TXMLElement>();
  withoutSig->SetAttribute("ADR", "#$22");
  device->LoadFromXML(withoutSig);
  EXPECT_EQ(device->GetFixedSIG(), 0);
}

TEST(KorvelStackDeviceXmlTest, DeviceBuiltFromAnElementJoinsTheOwningStack) {
  const auto stack = New<TFakeKorvelStack>();
  const auto element = New<TXMLElement>();
  element->SetAttribute("ADR", "#$31");
  const auto device = NewStackDevice<TKorvelStackDevice>(element, stack);
  EXPECT_EQ(device->GetAddress(), 0x31);
  EXPECT_TRUE(device->GetStack() == stack);
  EXPECT_EQ(stack->IndexOfChild(device), 0);
  stack->RemoveDevice(device);
}

}  // namespace
}  // namespace zorvid
