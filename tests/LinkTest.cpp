// The display connection and the scan against zorvid-sim as built, over TCP and a
// pseudo-terminal, and the plain rules that the window and zorvidctl share: capabilities and
// answer checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/ZorvidRules.h"
#include "link/Capabilities.h"
#include "link/DisplayConnection.h"
#include "link/DisplayLink.h"
#include "link/DisplayScan.h"
#include "tests/support/ShownMessages.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WaitUntil.h"
#include "transport/CommunicationInterfaceDataSpy.h"
#include "transport/Transports.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::TSimProcess;
using test::TSimPty;
using ::testing::StartsWith;

constexpr TDisplayCapabilities kFull{true, true};
constexpr TDisplayCapabilities kBasic{false, false};

class DisplayConnectionTest : public ::testing::Test {
 protected:
  // An answer takes milliseconds; the silent cases wait out the whole time-out.
  DisplayConnectionTest() { connection.Device().SetTimeout(1000); }

  TStandardTransports transports;
  TDisplayConnection connection;
};

TEST_F(DisplayConnectionTest, AFullDisplayOverTcpOffersEverythingAndAnswers) {
  TSimProcess sim({"--temperature", "21.5"});
  ASSERT_TRUE(connection.Connect(sim.Connection(), kZorvidDefaultAddress))
      << connection.FailureReason();
  EXPECT_TRUE(connection.IsConnected());
  EXPECT_EQ(connection.Capabilities(), kFull);
  EXPECT_EQ(connection.FailureReason(), "");
  double degrees = 0;
  EXPECT_TRUE(connection.Device().GetTemperature(degrees));
  EXPECT_EQ(degrees, 21.5);

  connection.Disconnect();
  EXPECT_FALSE(connection.IsConnected());
  EXPECT_FALSE(connection.Line());
  EXPECT_FALSE(connection.Device().GetTemperature(degrees)) << "no line, no answer";
  EXPECT_EQ(connection.Capabilities(), kFull) << "kept after a disconnect";
}

TEST_F(DisplayConnectionTest, ABasicDisplayOverAPseudoTerminalOffersNeither) {
  TSimPty sim({"--basic"});
  ASSERT_TRUE(connection.Connect(sim.Connection(), kZorvidDefaultAddress))
      << connection.FailureReason();
  EXPECT_EQ(connection.Capabilities(), kBasic);
  EXPECT_FALSE(OffersClockSettings(connection.Capabilities()));
  EXPECT_FALSE(OffersAutomaticBrightness(connection.Capabilities()));
}

TEST_F(DisplayConnectionTest, ReconnectingClosesTheEarlierLineFirst) {
  TSimProcess first, second({"--basic"});
  ASSERT_TRUE(connection.Connect(first.Connection(), kZorvidDefaultAddress));
  const TCiRef earlier = connection.Line();
  ASSERT_TRUE(connection.Connect(second.Connection(), kZorvidDefaultAddress));
  EXPECT_FALSE(earlier->GetActive());
  EXPECT_NE(connection.Line(), earlier);
  EXPECT_EQ(connection.Capabilities(), kBasic);
}

// Each step that can fail names itself and the value; a failed connect leaves no line and the
// capabilities of the last display that answered.
TEST_F(DisplayConnectionTest, EachFailureSaysWhichStepFailedAndWithWhat) {
  TSimProcess sim({"--silent", "0xF3"}), answering;
  ASSERT_TRUE(connection.Connect(answering.Connection(), kZorvidDefaultAddress));
  answering.Stop();
  const std::string closedPort = answering.Connection();

  EXPECT_FALSE(connection.Connect("provider=NOWHERE", kZorvidDefaultAddress));
  EXPECT_EQ(connection.FailureReason(),
            "no transport for \"provider=NOWHERE\" (provider missing or unknown)");

  EXPECT_FALSE(connection.Connect(closedPort, kZorvidDefaultAddress));
  EXPECT_THAT(connection.FailureReason(), StartsWith("cannot open \"" + closedPort + "\": "));
  EXPECT_THAT(connection.FailureReason(), ::testing::HasSubstr("refused"));

  EXPECT_FALSE(connection.Connect(sim.Connection(), kZorvidDefaultAddress));
  EXPECT_EQ(connection.FailureReason(), "no identification from address 49 (0x31): no answer");

  EXPECT_FALSE(connection.Connect(sim.Connection(), 0x32));
  EXPECT_EQ(connection.FailureReason(), "no identification from address 50 (0x32): no answer");

  EXPECT_FALSE(connection.IsConnected());
  EXPECT_FALSE(connection.Line());
  EXPECT_EQ(connection.Capabilities(), kFull);
}

TEST(CapabilitiesTest, TheIdentificationNamesThemCaseSensitivelyAnywhere) {
  EXPECT_EQ(CapabilitiesOf("ZorvidL;v1.0;rtc"), kFull);
  EXPECT_EQ(CapabilitiesOf("Zorvid;v1.0;"), kBasic);
  EXPECT_EQ(CapabilitiesOf("Zorvid;v1.0;RTC zorvidl"), kBasic);
  EXPECT_EQ(CapabilitiesOf("rtcZorvid"), (TDisplayCapabilities{true, false}));
  EXPECT_EQ(CapabilitiesOf("xZorvidLx"), (TDisplayCapabilities{false, true}));
}

// A display without automatic brightness shows it off, at the widest range, without boost.
TEST(CapabilitiesTest, ADisplayWithoutAutomaticBrightnessShowsItOff) {
  EXPECT_EQ(kNoAutomaticBrightness, (TBrightnessAuto{false, 6, 36, 0}));
}

// Answers are sound exactly where the setters accept them; the first bad value is named.
TEST(AnswerCheckTest, TheSettersRangesDecide) {
  using F = TSettingField;
  EXPECT_FALSE(CheckBrightness(127));
  EXPECT_EQ(CheckBrightness(200), (TInvalidValue{F::kStaticBrightness, 200, 0, 127}));
  EXPECT_FALSE(CheckBrightnessAuto({true, 6, 36, 100}));
  EXPECT_EQ(CheckBrightnessAuto({true, 255, 0, 200}),
            (TInvalidValue{F::kMinimumBrightness, 255, 6, 36}));
  EXPECT_EQ(CheckBrightnessAuto({true, 6, 0, 200}),
            (TInvalidValue{F::kMaximumBrightness, 0, 6, 36}));
  EXPECT_EQ(CheckBrightnessAuto({true, 6, 36, 101}), (TInvalidValue{F::kSensorGain, 101, 0, 100}));
  EXPECT_FALSE(CheckDateTimeParams({.offset = -660}));
  EXPECT_EQ(CheckDateTimeParams({.offset = 781}), (TInvalidValue{F::kTimeOffset, 781, -660, 780}));
  const auto year = [](int y) { return *EncodeDateTime({y, 1, 1, 0, 0, 0, 0}); };
  EXPECT_FALSE(CheckClock(year(2099)));
  EXPECT_EQ(CheckClock(year(2156)), (TInvalidValue{F::kClockYear, 2156, 2000, 2099}));
  EXPECT_FALSE(CheckSegments("\x03\x3F\x06\x5B\x4F"));
  for (const TByteString& wrong :
       {TByteString(), TByteString(3, '\x03'), TByteString("\x03\x3F\x06\x5B\x4F\x00\x01", 7)})
    EXPECT_EQ(CheckSegments(wrong),
              (TInvalidValue{F::kSegmentCount, static_cast<std::int64_t>(wrong.size()), 5, 5}));
}

// Counts the chunks written to any line while it is installed as a spy sink; called on the
// writing thread.
class TSentCounter {
 public:
  TSpySink Sink() { return {this, &TSentCounter::Spy}; }
  int Count() const { return sent_; }

 private:
  void Spy(TCiRef, const TByteString&, TByte direction) {
    if (direction == kSpySent) ++sent_;
  }
  std::atomic<int> sent_{0};
};

// Runs the event loop until `done` holds or the limit has passed (procedures that connect to
// the simulator take milliseconds; only one that hangs meets it).
bool RunUntil(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(std::chrono::milliseconds(test::kWaitLimit), &loop, &QEventLoop::quit);
  check.start(5);
  loop.exec();
  return done();
}

// Procedures run on the link's own thread one after another in the order given; each outcome
// comes back on the owner's thread. One that raises reports its text instead of a result, so the
// owner is never left waiting nor handed a result that was never made; a plain Run without a
// failure callback shows the text as a message and still finishes.
TEST(DisplayLinkTest, RunsProceduresInOrderOnItsThreadAndReportsWhatTheyRaise) {
  const test::TShownMessages shown;
  TDisplayLink link;
  std::vector<int> order;
  std::vector<std::thread::id> ranOn;
  for (int step = 0; step < 3; ++step)
    link.Call(
        [step, &ranOn](TDisplayConnection&) {
          ranOn.push_back(std::this_thread::get_id());
          return step;
        },
        [&order](int result) { order.push_back(result); }, {});
  std::string failed;
  link.Call([](TDisplayConnection&) -> int { throw std::runtime_error("cannot make the line"); },
            [](int) { ADD_FAILURE() << "a result that was never made"; },
            [&failed](const std::string& error) { failed = error; });
  bool finished = false;
  link.Run([](TDisplayConnection&) { throw std::runtime_error("cannot close the line"); },
           [&finished] { finished = true; });
  EXPECT_TRUE(link.IsBusy());
  ASSERT_TRUE(RunUntil([&] { return !link.IsBusy(); }));
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  ASSERT_EQ(ranOn.size(), 3u);
  EXPECT_NE(ranOn[0], std::this_thread::get_id());
  EXPECT_EQ(failed, "cannot make the line");
  EXPECT_TRUE(finished);
  EXPECT_EQ(shown.Texts(), std::vector<std::string>{"cannot close the line"});
}

// The peer closes the line: the link reports it with the transport's reason and has let the
// line go; a request waiting when the link goes is abandoned at once.
TEST(DisplayLinkTest, SaysWhenTheLineClosesAndAbandonsAWaitingRequestWhenItGoes) {
  const TStandardTransports transports;
  TSimProcess sim;
  auto link = std::make_unique<TDisplayLink>();
  bool connected = false;
  link->Call([&sim](TDisplayConnection& c) { return c.Connect(sim.Connection(), 49); },
             [&connected](bool result) { connected = result; }, {});
  ASSERT_TRUE(RunUntil([&] { return !link->IsBusy(); }));
  ASSERT_TRUE(connected);
  QString lost;
  QObject::connect(link.get(), &TDisplayLink::lineLost,
                   [&lost](const QString& why) { lost = why; });
  sim.Stop();
  ASSERT_TRUE(RunUntil([&] { return !lost.isEmpty(); }));
  EXPECT_TRUE(lost.contains("closed by the other side")) << lost.toStdString();
  link->Call([](TDisplayConnection& c) { return c.IsConnected(); },
             [&connected](bool result) { connected = result; }, {});
  ASSERT_TRUE(RunUntil([&] { return !link->IsBusy(); }));
  EXPECT_FALSE(connected);

  TSimProcess silent;
  link->Call([&silent](TDisplayConnection& c) { return c.Connect(silent.Connection(), 49); },
             [](bool) {}, {});
  ASSERT_TRUE(RunUntil([&] { return !link->IsBusy(); }));
  silent.Pause(true);
  TSentCounter sent;
  const TInstalledSpySink spy(sent.Sink());
  link->Call(
      [](TDisplayConnection& c) {
        c.Device().SetTimeout(60'000);
        double degrees = 0;
        return c.Device().GetTemperature(degrees);
      },
      [](bool) { ADD_FAILURE() << "no outcome once the link has gone"; }, {});
  ASSERT_TRUE(test::WaitUntil([&] { return sent.Count() > 0; }));  // the request is on the line
  const auto start = std::chrono::steady_clock::now();
  link.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, test::kWaitLimit)
      << "the request's minute was waited for";
  silent.Pause(false);
}

// ---- The scan ---------------------------------------------------------------------------

TScanOptions ScanOf(std::string connection, TByte first, TByte last,
                    std::vector<std::int32_t> bauds) {
  TScanOptions options;
  options.connection = std::move(connection);
  options.first = first;
  options.last = last;
  options.bauds = std::move(bauds);
  return options;
}

// Found through the broadcast and again at its own address, a display is one; the progress
// counts every request of every speed, the broadcasts included.
TEST(DisplayScanTest, EachDisplayIsReportedOnceAsItIsFound) {
  const TStandardTransports transports;
  TSimPty sim({"--address", "0x32"});
  std::vector<TFoundDisplay> reported;
  std::vector<std::pair<TByte, std::int32_t>> asked;
  int lastDone = 0, total = 0;
  TDisplayScan scan(
      ScanOf(sim.Connection(), 0x31, 0x33, {9600, 19200}),
      [&](TByte address, std::int32_t baud, int done, int all) {
        asked.emplace_back(address, baud);
        lastDone = done;
        total = all;
      },
      [&reported](const TFoundDisplay& display) { reported.push_back(display); });
  const TScanResult result = scan.Run();
  const std::vector<TFoundDisplay> once{{0x32, 9600, "ZorvidL;v1.0;rtc"}};
  EXPECT_EQ(result.found, once);
  EXPECT_EQ(reported, once);
  EXPECT_EQ(result.failure, "");
  EXPECT_FALSE(result.stopped);
  EXPECT_EQ(total, 8);
  EXPECT_EQ(lastDone, 8);
  const std::vector<std::pair<TByte, std::int32_t>> order{
      {0xFE, 9600},  {0x31, 9600},  {0x32, 9600},  {0x33, 9600},
      {0xFE, 19200}, {0x31, 19200}, {0x32, 19200}, {0x33, 19200}};
  EXPECT_EQ(asked, order);
}

// TCP has no speed: one pass, whatever speeds were asked for. A line that does not open ends
// the scan with the transport's reason.
TEST(DisplayScanTest, ALineWithoutSpeedIsScannedOnceAndOneThatDoesNotOpenSaysWhy) {
  const TStandardTransports transports;
  TSimProcess sim;
  const TScanResult overTcp =
      TDisplayScan(ScanOf(sim.Connection(), 0x30, 0x31, {9600, 19200})).Run();
  const std::vector<TFoundDisplay> found{{0x31, 0, "ZorvidL;v1.0;rtc"}};
  EXPECT_EQ(overTcp.found, found);

  const std::string missing = "provider=SERIAL_PORT;device=/dev/zorvid-no-such-line";
  const TScanResult unopened = TDisplayScan(ScanOf(missing, 0, 3, {9600, 19200})).Run();
  EXPECT_TRUE(unopened.found.empty());
  EXPECT_EQ(unopened.failure, "cannot open \"" + missing +
                                  "\" at 9600 Bd: cannot open /dev/zorvid-no-such-line: No such "
                                  "file or directory (errno 2)");
}

// Stopped from another thread while a request waits for its answer, the scan ends at once
// instead of going through the 254 addresses: no further request goes out. How soon it returns
// (within a tenth of a second): bench/DisplayScanBench.cpp.
TEST(DisplayScanTest, StopEndsTheScanAtOnce) {
  using TClock = std::chrono::steady_clock;
  const TStandardTransports transports;
  TSimPty sim;
  TSentCounter sent;
  const TInstalledSpySink spy(sent.Sink());
  std::atomic<int> done{0};
  std::atomic<bool> finished{false};
  std::atomic<int> sentAtStop{0};
  std::atomic<TClock::rep> stoppedAt{0};
  TDisplayScan scan(ScanOf(sim.Connection(), 0, kHighestOwnAddress, {9600}),
                    [&done](TByte, std::int32_t, int count, int) { done = count; });
  std::thread stopper([&] {
    // The sixth request is on the line: its address (4) has no display, so it waits.
    test::WaitUntil([&] { return sent.Count() >= 6 || finished; });
    stoppedAt = TClock::now().time_since_epoch().count();
    scan.Stop();
    sentAtStop = sent.Count();
  });
  const TScanResult result = scan.Run();
  const TClock::time_point returned = TClock::now();
  finished = true;
  stopper.join();
  EXPECT_TRUE(result.stopped);
  EXPECT_GE(sentAtStop.load(), 6);
  // At most a request that was being written as it stopped; an abandoned stack sends nothing.
  EXPECT_LE(sent.Count(), sentAtStop + 1) << "of " << kHighestOwnAddress + 2 << " requests";
  EXPECT_LE(done.load(), sentAtStop + 1);
  // The rest of the scan would take ten seconds.
  const auto stopped = TClock::time_point(TClock::duration(stoppedAt.load()));
  EXPECT_LT(returned - stopped, 2s)
      << std::chrono::duration_cast<std::chrono::milliseconds>(returned - stopped).count() << " ms";
}

}  // namespace
}  // namespace zorvid
