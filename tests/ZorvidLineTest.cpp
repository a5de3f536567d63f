// The display device over the whole stack: device, protocol stack, an in-memory line and a
// scripted display at its other end, with received data raised on the line's own thread.
#include <gtest/gtest.h>

#include "device/Zorvid.h"
#include "protocol/KorvelStack.h"
#include "tests/support/MemoryTransport.h"
#include "tests/support/ScriptedPeer.h"

namespace zorvid {
namespace {

using test::TMemoryTransport;
using test::TScriptedPeer;

class ZorvidLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::tie(line, displayEnd) = TMemoryTransport::CreatePair();
    line->Open();
    display = std::make_unique<TScriptedPeer>(
        displayEnd, [this](const TKorvelFormat97& r) { return Respond(r); });
    stack = New<TKorvelStack>();
    stack->SetCommunicationInterface(line);
    device = New<TZorvid>(0x31);
    device->SetTimeout(300);
    stack->AddDevice(device);
  }
  void TearDown() override {
    stack->RemoveDevice(device);
    stack->SetCommunicationInterface({});
    display.reset();
  }

  // A display at address 0x31 that also pushes an unsolicited packet before every answer.
  TByteString Respond(const TKorvelFormat97& r) {
    if (r.Adr != 0x31) return {};
    const TByteString push = BuildPacket97(0x31, 0x00, 0x0E, "tick");
    switch (r.Inst) {
      case 0xF3:
        return push + BuildPacket97(0x31, r.Sig, 0, "ZorvidL;v1.0;rtc");
      case 0x51:
        return push + BuildPacket97(0x31, r.Sig, 0, TByteString("\x01\x00\xEB", 3));
      case 0x90:
        return BuildPacket97(0x31, r.Sig, r.Data.size() == 5 ? 0 : 3, "");
      default:
        return BuildPacket97(0x31, r.Sig, 2, "");  // unknown instruction
    }
  }

  TRef<TMemoryTransport> line, displayEnd;
  std::unique_ptr<TScriptedPeer> display;
  TRef<TKorvelStack> stack;
  TRef<TZorvid> device;
};

TEST_F(ZorvidLineTest, RequestsAndAnswersCrossTheLine) {
  ASSERT_TRUE(device->LoadIdentification());
  EXPECT_EQ(device->GetName(), "ZorvidL");
  EXPECT_EQ(device->GetVersion(), "1.0");

  double degrees = 0;
  ASSERT_TRUE(device->GetTemperature(degrees));
  EXPECT_DOUBLE_EQ(degrees, 23.5);

  EXPECT_TRUE(device->SetDisplayChars("12"));
  EXPECT_EQ(display->Requests().back().Data, "  12 ");

  EXPECT_FALSE(device->ShowActualInformation());
  EXPECT_EQ(device->GetLastResult(), kResultErrorAck);
  EXPECT_EQ(device->GetLastAck(), 2);
}

TEST_F(ZorvidLineTest, AnotherAddressGetsNoAnswer) {
  device->SetAddress(0x32);
  EXPECT_FALSE(device->LoadIdentification());
  EXPECT_EQ(device->GetLastResult(), kResultNoAnswer);
  EXPECT_EQ(device->GetLastAck(), -1);
  EXPECT_EQ(device->GetName(), "");
}

}  // namespace
}  // namespace zorvid
