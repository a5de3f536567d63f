#include "protocol/KorvelStack.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <random>
#include <thread>

#include "protocol/KorvelStackDevice.h"
#include "tests/support/MemoryTransport.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/WaitUntil.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::TMemoryTransport;
using test::TScriptedPeer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A device that records the packets the stack hands it, as "ADR/SIG/INST/data" lines.
class TRecordingDevice final : public TKorvelStackDevice {
 public:
  explicit TRecordingDevice(TByte address) : TKorvelStackDevice(address, "TRecordingDevice") {}

  std::int32_t DoPacketReceive(const TKorvelFormat97& packet) override {
    std::lock_guard guard(mutex_);
    received_.push_back(Describe(packet));
    return 0;
  }
  std::vector<std::string> Received() {
    std::lock_guard guard(mutex_);
    return received_;
  }
  static std::string Describe(const TKorvelFormat97& p) {
    return Line(p.Adr, p.Sig, p.Inst, p.Data);
  }
  static std::string Line(TByte adr, TByte sig, TByte inst, const TByteString& data = {}) {
    char text[32];
    std::snprintf(text, sizeof text, "%02X/%02X/%02X/", adr, sig, inst);
    return text + data;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> received_;  // guarded by mutex_
};

TByteString Packet(TByte adr, TByte sig, TByte inst, const TByteString& data = {}) {
  return BuildPacket97(adr, sig, inst, data);
}

class ReceivePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stack = New<TKorvelStack>();
    first = New<TRecordingDevice>(0x31);
    second = New<TRecordingDevice>(0x32);
    ASSERT_TRUE(stack->AddDevice(first));
    ASSERT_TRUE(stack->AddDevice(second));
  }
  void TearDown() override { stack->Dismantle(); }

  TRef<TKorvelStack> stack;
  TRef<TRecordingDevice> first, second;
};

TEST_F(ReceivePathTest, PacketsInOneChunkAndSplitOverChunks) {
  stack->ProcessReceived(Packet(0x31, 1, 0, "a") + Packet(0x31, 2, 0, "b"));
  EXPECT_THAT(first->Received(), ElementsAre("31/01/00/a", "31/02/00/b"));

  const TByteString split = Packet(0x32, 3, 0, "xyz");
  stack->ProcessReceived(split.substr(0, 2));
  stack->ProcessReceived(split.substr(2, 5));
  EXPECT_THAT(second->Received(), IsEmpty());
  stack->ProcessReceived(split.substr(7));
  EXPECT_THAT(second->Received(), ElementsAre("32/03/00/xyz"));
  EXPECT_EQ(stack->PendingBytes(), 0u);
}

TEST_F(ReceivePathTest, GarbageInFrontIsSkipped) {
  stack->ProcessReceived("\x01\x02\x03" + Packet(0x31, 1, 0) + Packet(0x31, 2, 0, "*a\r"));
  EXPECT_THAT(first->Received(), ElementsAre("31/01/00/", "31/02/00/*a\r"));

  TByteString corrupt = Packet(0x31, 3, 0, "bad");
  corrupt[corrupt.size() - 2] ^= 0x55;  // wrong checksum
  stack->ProcessReceived(corrupt + Packet(0x31, 4, 0, "good"));
  EXPECT_THAT(first->Received(), ElementsAre("31/01/00/", "31/02/00/*a\r", "31/04/00/good"));
}

TEST_F(ReceivePathTest, RoutingByAddress) {
  auto broadcastListener = New<TRecordingDevice>(kBroadcastAddress);
  auto twin = New<TRecordingDevice>(0x31);
  stack->AddDevice(broadcastListener);
  stack->AddDevice(twin);

  stack->ProcessReceived(Packet(kBroadcastAddress, 1, 0));
  stack->ProcessReceived(Packet(0x31, 2, 0));
  stack->ProcessReceived(Packet(0x40, 3, 0));  // no device has it
  EXPECT_THAT(first->Received(), ElementsAre("FE/01/00/", "31/02/00/"));
  EXPECT_THAT(twin->Received(), ElementsAre("FE/01/00/", "31/02/00/"));
  EXPECT_THAT(second->Received(), ElementsAre("FE/01/00/"));
  EXPECT_THAT(broadcastListener->Received(), ElementsAre("FE/01/00/", "31/02/00/", "40/03/00/"));
  EXPECT_EQ(stack->PendingBytes(), 0u);
}

TEST_F(ReceivePathTest, RefusedAddressRaisesAndTheRestFollows) {
  const TByteString bytes = Packet(0xFF, 1, 0) + Packet(0x31, 2, 0);
  try {
    stack->ProcessReceived(bytes);
    ADD_FAILURE() << "a packet for address 0xFF was accepted";
  } catch (const EKorvelStackError& error) {
    EXPECT_STREQ(error.what(), "RCV packet ADR=$FF !");
  }
  EXPECT_THAT(first->Received(), IsEmpty());
  stack->ProcessReceived(Packet(0x31, 3, 0));
  EXPECT_THAT(first->Received(), ElementsAre("31/02/00/", "31/03/00/"));
}

// Garbage of many kinds: never an error, never the loss of a valid packet behind it.
TEST_F(ReceivePathTest, GarbageNeverHidesAValidPacket) {
  const std::vector<TByteString> garbage{
      "*",
      "*a",
      TByteString("*a\0\0", 4),                  // declared length 0
      TByteString("*a\0\x04\x31\x01\xB4\r", 8),  // validates, too short to read
      TByteString("*a\xFF\xFF", 4) + "noise",    // a length that never completes
      TByteString("*a\0\x10\x31\x01\x00", 7),    // swallows the start of what follows
      "\r\r\r**aa*",
  };
  int sig = 0;
  for (const auto& noise : garbage) {
    stack->ProcessReceived(noise + Packet(0x31, static_cast<TByte>(++sig), 0));
    ASSERT_FALSE(first->Received().empty()) << "lost behind garbage #" << sig;
    EXPECT_EQ(first->Received().back(), TRecordingDevice::Line(0x31, static_cast<TByte>(sig), 0))
        << "garbage #" << sig;
  }
  std::mt19937 random(2026);
  for (int round = 0; round < 300; ++round) {
    TByteString noise(random() % 40, '\0');
    for (char& c : noise)
      c = "*a\r\0\x31\xFE\x05"[random() % 7];
    stack->ProcessReceived(noise + Packet(0x32, static_cast<TByte>(round), 0x05));
    ASSERT_FALSE(second->Received().empty());
    ASSERT_EQ(second->Received().back(), TRecordingDevice::Line(0x32, static_cast<TByte>(round), 5))
        << "round " << round;
  }
}

TEST_F(ReceivePathTest, RegistrationGoesBothWays) {
  EXPECT_TRUE(first->GetStack() == stack);
  EXPECT_TRUE(stack->RemoveDevice(first));
  EXPECT_FALSE(first->GetStack());
  EXPECT_FALSE(stack->RemoveDevice(first)) << "no longer registered";
  EXPECT_EQ(stack->GetChildCount(), 1);
  first->SetStack(stack);  // the device side registers it too
  EXPECT_EQ(stack->IndexOfChild(first), 1);
  EXPECT_FALSE(stack->AddDevice(TRef<IKorvelStackDevice>()));
  stack->ProcessReceived(Packet(0x31, 1, 0));
  EXPECT_THAT(first->Received(), ElementsAre("31/01/00/"));
}

// Thousands of packets in one call all arrive, in order (the benchmark shows that the time
// grows with the bytes alone); the head of the next one waits, kept after the caller's bytes
// are gone, and is completed by the next call.
TEST_F(ReceivePathTest, ALongStreamIsCutWholeInOneCall) {
  TByteString stream;
  std::vector<std::string> expected;
  for (int i = 0; stream.size() < 120'000; ++i) {
    const TByteString data(static_cast<std::size_t>(i % 12), static_cast<char>('a' + i % 26));
    stream += Packet(0x31, static_cast<TByte>(i), 0x0E, data);
    expected.push_back(TRecordingDevice::Line(0x31, static_cast<TByte>(i), 0x0E, data));
  }
  const TByteString next = Packet(0x31, 0, 0, "next");
  stack->ProcessReceived(stream + next.substr(0, 6));
  EXPECT_EQ(first->Received(), expected);
  EXPECT_EQ(stack->PendingBytes(), 6u);
  stack->ProcessReceived(next.substr(6));
  EXPECT_EQ(first->Received().back(), "31/00/00/next");
}

// The front cut off is given back as the stream goes on: the buffer's string stays the size of
// what waits and one more piece, not of the stream.
TEST(PacketReaderTest, AStreamInPiecesKeepsTheBufferAsSmallAsWhatWaits) {
  constexpr std::size_t kPiece = 1000;
  TByteString stream;
  int sent = 0;
  while (stream.size() < 2'000'000)
    stream += Packet(0x31, static_cast<TByte>(sent++), 0, "abc");
  TPacketReader reader;
  int cut = 0;
  std::size_t largest = 0;
  for (std::size_t at = 0; at < stream.size(); at += kPiece) {
    reader.Append(std::string_view(stream).substr(at, kPiece));
    for (TKorvelFormat97 packet; reader.Next(packet); ++cut)
      ASSERT_EQ(packet.Sig, static_cast<TByte>(cut)) << "packet " << cut;
    largest = std::max(largest, reader.Footprint());
  }
  EXPECT_EQ(cut, sent);
  EXPECT_LE(largest, 2 * kPiece);
}

TEST_F(ReceivePathTest, BufferKeepsOnlyTheNewestBytes) {
  stack->ProcessReceived(TByteString("*a\xFF\xFF", 4) + TByteString(200'000, 'x'));
  EXPECT_EQ(stack->PendingBytes(), TReceiveBuffer::kKeep);
}

// A stack on an in-memory line whose other end answers like a device.
class RequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::tie(line, deviceEnd) = TMemoryTransport::CreatePair();
    line->Open();
    stack = New<TKorvelStack>();
    stack->SetCommunicationInterface(line);
    listener = New<TRecordingDevice>(0x31);
    stack->AddDevice(listener);
  }
  void TearDown() override {
    peer.reset();
    stack->Dismantle();
    stack->SetCommunicationInterface({});
  }
  void Answer(TScriptedPeer::TScript script) {
    peer = std::make_unique<TScriptedPeer>(deviceEnd, std::move(script));
  }
  bool Ask(TByte adr, TByte sig, TByteString& answer, std::int32_t timeoutMs = 500) {
    return stack->Request(adr, sig, 0xF3, "", answer, timeoutMs);
  }
  // Waits (bounded) until the listening device has received `count` packets.
  std::vector<std::string> ListenerReceived(std::size_t count) {
    test::WaitUntil([&] { return listener->Received().size() >= count; });
    return listener->Received();
  }

  TRef<TMemoryTransport> line, deviceEnd;
  TRef<TKorvelStack> stack;
  TRef<TRecordingDevice> listener;
  std::unique_ptr<TScriptedPeer> peer;
};

TEST_F(RequestTest, FindsTheAnswerBySigAndAddress) {
  Answer([](const TKorvelFormat97& r) { return Packet(r.Adr, r.Sig, 0, "ZorvidL;v1.0;rtc"); });
  TByteString answer;
  ASSERT_TRUE(Ask(0x31, 7, answer));
  EXPECT_EQ(answer, Packet(0x31, 7, 0, "ZorvidL;v1.0;rtc"));
  EXPECT_THAT(peer->Requests(), ::testing::SizeIs(1));
  EXPECT_EQ(peer->Requests()[0].Inst, 0xF3);
}

// The request returns with its answer long before its minute is up; without an answer it ends
// at its timeout and not before. How soon in each case (it wakes with the line, not with its
// polling interval of 50 ms): bench/DeadlineBench.cpp.
TEST_F(RequestTest, ReturnsWithTheAnswerAndWaitsOutItsTimeoutOtherwise) {
  Answer([](const TKorvelFormat97& r) {
    return r.Sig == 9 ? TByteString() : Packet(r.Adr, r.Sig, 0, "now");
  });
  TByteString answer;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Ask(0x31, 8, answer, 60'000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, test::kWaitLimit);
  EXPECT_EQ(answer, Packet(0x31, 8, 0, "now"));

  const auto silentStart = std::chrono::steady_clock::now();
  EXPECT_FALSE(Ask(0x31, 9, answer, 120));
  const auto waited = std::chrono::steady_clock::now() - silentStart;
  EXPECT_GE(waited, 119ms) << "the deadline counts whole milliseconds";
  EXPECT_LT(waited, test::kWaitLimit) << "the request did not end at its timeout";
}

TEST_F(RequestTest, BroadcastAcceptsAnyAddressOtherwiseTheAddressMustMatch) {
  Answer([](const TKorvelFormat97& r) { return Packet(0x31, r.Sig, 0); });
  TByteString answer;
  EXPECT_TRUE(Ask(kBroadcastAddress, 1, answer));
  EXPECT_FALSE(Ask(0x35, 2, answer, 150)) << "an answer from 0x31 is no answer for 0x35";
  EXPECT_THAT(ListenerReceived(1), ElementsAre("31/02/00/")) << "it took the receive path";
}

TEST_F(RequestTest, UnsolicitedAcknowledgeIsNeverTheAnswer) {
  Answer([](const TKorvelFormat97& r) { return Packet(r.Adr, r.Sig, 0x0E); });
  TByteString answer;
  EXPECT_FALSE(Ask(0x31, 3, answer, 150));
  EXPECT_THAT(ListenerReceived(1), ElementsAre("31/03/0E/"));
}

// An unsolicited packet and the answer read in one chunk: the answer is found at once and the
// unsolicited packet still reaches the device.
TEST_F(RequestTest, AnswerBehindAnotherPacketInOneChunk) {
  Answer([](const TKorvelFormat97& r) {
    return Packet(r.Adr, 0x99, 0x0D, "event") + Packet(r.Adr, r.Sig + 1, 0) +
           Packet(r.Adr, r.Sig, 0, "mine");
  });
  TByteString answer;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Ask(0x31, 4, answer, 60'000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, test::kWaitLimit)
      << "the answer was found only when the minute was up";
  EXPECT_EQ(answer, Packet(0x31, 4, 0, "mine"));
  EXPECT_THAT(ListenerReceived(2), ElementsAre("31/99/0D/event", "31/05/00/"));
}

TEST_F(RequestTest, NoiseWithAFalseStartInFrontOfTheAnswer) {
  Answer([](const TKorvelFormat97& r) {
    return TByteString("\x13*a\xF0\x00junk", 9) + Packet(r.Adr, r.Sig, 0, "ok") +
           Packet(r.Adr, 0x77, 0x0C);
  });
  TByteString answer;
  ASSERT_TRUE(Ask(0x31, 5, answer, 2000));
  EXPECT_EQ(answer, Packet(0x31, 5, 0, "ok"));
  EXPECT_THAT(ListenerReceived(1), ElementsAre("31/77/0C/"));
}

// A packet with the request's SIG that fails its checks is no answer, but the request says
// what it saw; one that never came leaves nothing to say.
TEST_F(RequestTest, AMissedAnswerSaysWhatCameInstead) {
  Answer([](const TKorvelFormat97& r) {
    TByteString packet = Packet(r.Adr, r.Sig, 0, "bad");
    if (r.Sig == 2) packet[packet.size() - 2] ^= 0x01;  // the checksum
    if (r.Sig == 3) packet.back() = 'x';                // the terminator
    return r.Sig == 4 ? TByteString() : packet;
  });
  TByteString answer;
  TRequestMiss missed{"old", true};
  // A damaged answer ends the request as soon as it is seen: the 60 s would pass otherwise
  // (the test's own time limit is far shorter).
  EXPECT_FALSE(stack->RequestWithReason(0x31, 2, 0xF3, "", answer, 60'000, missed));
  EXPECT_EQ(missed.reason, "an answer with SIG 2 came with a wrong checksum");
  EXPECT_TRUE(missed.damaged);
  EXPECT_FALSE(stack->RequestWithReason(0x31, 3, 0xF3, "", answer, 60'000, missed));
  EXPECT_EQ(missed.reason, "an answer with SIG 3 came malformed (check 6 failed)");
  EXPECT_TRUE(missed.damaged);
  EXPECT_FALSE(stack->RequestWithReason(0x31, 4, 0xF3, "", answer, 100, missed));
  EXPECT_EQ(missed.reason, "");
  EXPECT_FALSE(missed.damaged);
  EXPECT_TRUE(stack->RequestWithReason(0x31, 5, 0xF3, "", answer, 60'000, missed));
  EXPECT_EQ(missed.reason, "");
}

// Bytes that are no packet are counted for the failure text. What the bytes show tells an
// answer damaged on the way (the request's SIG and address, one end mark wrong) from a
// look-alike in noise (both end marks wrong).
TEST_F(RequestTest, NoiseIsCountedAndToldApartFromADamagedAnswer) {
  std::mt19937 random(97);
  TByteString noise(4000, '\0');
  for (char& c : noise)
    c = static_cast<char>(random() % 0x2A);  // no "*": the planted packet is the only start
  Answer([&noise](const TKorvelFormat97& r) {
    TByteString answer = Packet(r.Adr, r.Sig, 0, "text");
    answer[answer.size() - 2] ^= 0x01;        // the checksum
    if (r.Inst == 0xF1) answer.back() = 'x';  // and the terminator
    return noise.substr(0, 1000) + answer + noise.substr(1000);
  });
  const std::size_t lookAlike = Packet(0x31, 1, 0, "text").size();
  std::int32_t ack = 0;
  TByteString data;
  EXPECT_FALSE(listener->Query(0xF1, "", 1000, ack, data));
  EXPECT_EQ(LastResultText(*listener), "no answer (the line carried " +
                                           std::to_string(noise.size() + lookAlike) +
                                           " bytes that were no packet)");
  EXPECT_FALSE(listener->Query(0xF2, "", 1000, ack, data));
  EXPECT_EQ(LastResultText(*listener), "damaged answer: an answer with SIG " +
                                           std::to_string(peer->Requests().back().Sig) +
                                           " came with a wrong checksum");
}

// More than the receive buffer holds comes while a request waits: every packet reaches the
// device, in order, none dropped for room.
TEST_F(RequestTest, EveryPacketThatComesDuringARequestReachesTheDevices) {
  constexpr int kPackets = 12'000;  // 156 000 bytes
  Answer([](const TKorvelFormat97& r) {
    TByteString stream;
    for (int i = 0; i < kPackets; ++i)
      stream += Packet(r.Adr, static_cast<TByte>(i), 0x0E, "tick");
    return stream;
  });
  ASSERT_GT(kPackets * Packet(0x31, 0, 0x0E, "tick").size(), TReceiveBuffer::kLimit);
  TByteString answer;
  EXPECT_FALSE(Ask(0x31, 1, answer, 200));
  const std::vector<std::string> received = ListenerReceived(kPackets);
  ASSERT_EQ(received.size(), static_cast<std::size_t>(kPackets));
  for (int i = 0; i < kPackets; ++i)
    ASSERT_EQ(received[i], TRecordingDevice::Line(0x31, static_cast<TByte>(i), 0x0E, "tick"));
}

// A packet for the refused address during a request raises when the request ends; the packets
// behind it follow with the next call, as on the receive path, and only once.
TEST_F(RequestTest, ARefusedAddressDuringARequestRaisesAfterIt) {
  Answer([](const TKorvelFormat97& r) {
    return Packet(0xFF, 1, 0x0E) + Packet(r.Adr, 2, 0x0E) + Packet(r.Adr, r.Sig, 0, "mine");
  });
  TByteString answer;
  try {
    Ask(0x31, 5, answer);
    ADD_FAILURE() << "a packet for address 0xFF went unnoticed";
  } catch (const EKorvelStackError& error) {
    EXPECT_STREQ(error.what(), "RCV packet ADR=$FF !");
  }
  stack->ProcessReceived("");  // unless the line's own thread came first
  EXPECT_THAT(ListenerReceived(1), ElementsAre("31/02/0E/"));
}

// Packets the line delivers on its own thread while requests run on this one: the two take
// the stack's locks in one order, so neither waits for the other for ever.
TEST_F(RequestTest, AStreamOfUnsolicitedPacketsDuringRequestsNeverDeadlocks) {
  Answer([](const TKorvelFormat97& r) { return Packet(r.Adr, r.Sig, 0, "ok"); });
  std::atomic<bool> streaming{true};
  std::thread stream([&] {
    while (streaming) {
      deviceEnd->Write(Packet(0x31, 0, 0x0E) + Packet(0x31, 0, 0x0D));
      std::this_thread::sleep_for(50us);
    }
  });
  auto requests = std::async(std::launch::async, [&] {
    TByteString answer;
    int answered = 0;
    for (int i = 0; i < 300; ++i)
      answered += Ask(0x31, static_cast<TByte>(i), answer, 1000);
    return answered;
  });
  if (requests.wait_for(20s) != std::future_status::ready) {
    ADD_FAILURE() << "the requests and the line's thread wait for each other";
    std::abort();  // the deadlocked threads cannot be ended otherwise
  }
  streaming = false;
  stream.join();
  EXPECT_EQ(requests.get(), 300);
}

TEST_F(RequestTest, AnswerArrivingInPiecesAndLateAnswers) {
  struct TSlowLine {
    TRef<TMemoryTransport> end;
    void Send(const TKorvelFormat97& r) {
      const TByteString packet = Packet(r.Adr, r.Sig, 0, "slow");
      end->Write(packet.substr(0, 3));
      std::this_thread::sleep_for(60ms);
      end->Write(packet.substr(3));
    }
  };
  Answer([this](const TKorvelFormat97& r) {
    TSlowLine{deviceEnd}.Send(r);
    return TByteString();
  });
  TByteString answer;
  ASSERT_TRUE(Ask(0x31, 6, answer, 60'000));
  EXPECT_EQ(answer, Packet(0x31, 6, 0, "slow"));
}

TEST_F(RequestTest, WithoutAnOpenLineNothingIsSent) {
  Answer([](const TKorvelFormat97& r) { return Packet(r.Adr, r.Sig, 0); });
  TByteString answer = "old";
  line->Close(false);
  EXPECT_FALSE(Ask(0x31, 1, answer));
  EXPECT_TRUE(answer.empty());
  stack->SetCommunicationInterface({});
  EXPECT_FALSE(stack->SendPacket(0x31, 1, 0xF3, ""));
  EXPECT_FALSE(Ask(0x31, 1, answer));
  EXPECT_THAT(peer->Requests(), IsEmpty());
}

TEST_F(RequestTest, ChangingTheLineEmptiesTheBuffer) {
  stack->ProcessReceived(Packet(0x31, 1, 0).substr(0, 5));
  EXPECT_EQ(stack->PendingBytes(), 5u);
  auto [other, otherEnd] = TMemoryTransport::CreatePair();
  stack->SetCommunicationInterface(other);
  EXPECT_EQ(stack->PendingBytes(), 0u);
  EXPECT_TRUE(line->GetOnDataRcv() == TCiNotifyHandler()) << "the old line is let go";
  EXPECT_TRUE(other->GetOnDataRcv());
}

TEST_F(RequestTest, PacketsFromTheLineReachTheDevices) {
  deviceEnd->Open();
  deviceEnd->Write(Packet(0x31, 9, 0x0F, "push") + Packet(0x31, 10, 0x0E));
  EXPECT_THAT(ListenerReceived(2), ElementsAre("31/09/0F/push", "31/0A/0E/"));
}

TEST(KorvelStackOwnership, OnlyATransportMayOwnTheStack) {
  auto stack = New<TKorvelStack>();
  auto notATransport = New<TKorvelStack>();
  try {
    stack->SetOwner(notATransport);
    ADD_FAILURE() << "a stack accepted a stack as its owner";
  } catch (const EKorvelStackError& error) {
    EXPECT_STREQ(error.what(), "IKorvelStack can be owned only by ICommunicationInterface");
  }
  EXPECT_FALSE(stack->GetCommunicationInterface());
  stack->SetOwner({});

  auto line = New<TMemoryTransport>();
  auto owned = NewKorvelStack({}, line);
  EXPECT_TRUE(owned->GetCommunicationInterface() == line);
  EXPECT_EQ(line->GetChildCount(), 1);
  line->Dismantle();
  EXPECT_FALSE(owned->GetCommunicationInterface());
}

}  // namespace
}  // namespace zorvid
