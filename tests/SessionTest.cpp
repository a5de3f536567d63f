// The display session against zorvid-sim, without a widget: the states it reports as the
// display falls silent and answers again, as the line closes and comes back, and the outcomes
// of its loads, saves and restores.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "link/DisplaySession.h"
#include "tests/support/EventLoop.h"
#include "tests/support/Patience.h"
#include "tests/support/SimProcess.h"
#include "transport/Transports.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::TSimProcess;

// Procedures report through the event loop: each call waits for its own report.
template <class TResult, class TStart>
TResult Await(TStart start) {
  std::optional<TResult> result;
  std::string error;
  start([&result](const TResult& r) { result = r; },
        [&error](const std::string& e) { error = e.empty() ? "?" : e; });
  EXPECT_TRUE(test::ProcessEventsUntil([&] { return result || !error.empty(); }, test::kPatience))
      << "no report";
  EXPECT_EQ(error, "");
  return result.value_or(TResult{});
}

class SessionTest : public ::testing::Test {
 protected:
  void Connect(const TSimProcess& sim) {
    const TConnectReport report = Await<TConnectReport>([&](auto done, auto failed) {
      session.Connect(sim.Connection(), kZorvidDefaultAddress, done, failed);
    });
    ASSERT_TRUE(report.connected) << report.failure;
    ASSERT_EQ(session.State(), TSessionState::kConnected);
  }
  // Polls one after the other until the session reaches `state`.
  bool PollUntil(TSessionState state) {
    bool polling = false;
    return test::ProcessEventsUntil(
        [&] {
          if (session.State() == state) return true;
          if (!polling && !session.IsBusy())
            polling = session.Poll([&polling](const auto&) { polling = false; },
                                   [&polling](const std::string&) { polling = false; });
          return false;
        },
        test::kPatience);
  }

  const TStandardTransports transports;
  TDisplaySession session;
};

// The silence rule, both ways: a display that stops answering is silent at the first poll
// without an answer, and connected again at the first poll it answers.
TEST_F(SessionTest, ADisplayThatFallsSilentIsSilentAndConnectedAgainWhenItAnswers) {
  TSimProcess sim;
  Connect(sim);
  QSignalSpy states(&session, &TDisplaySession::stateChanged);
  sim.Pause(true);
  ASSERT_TRUE(PollUntil(TSessionState::kSilent));
  EXPECT_TRUE(session.SilentSince().isValid());
  EXPECT_TRUE(session.IsConnected()) << "a silent display is still on the line";
  sim.Pause(false);
  ASSERT_TRUE(PollUntil(TSessionState::kConnected));
  EXPECT_FALSE(session.SilentSince().isValid());
  ASSERT_EQ(states.count(), 2);
  EXPECT_EQ(states[0][0].value<TSessionState>(), TSessionState::kSilent);
  EXPECT_EQ(states[1][0].value<TSessionState>(), TSessionState::kConnected);
}

// Disconnecting while a request waits for a silent display ends that request at once, as
// closing the window does, rather than at its time-out: the request reports it was abandoned.
TEST_F(SessionTest, DisconnectingAbandonsTheRequestInFlight) {
  TSimProcess sim;
  Connect(sim);
  sim.Pause(true);
  std::optional<TBrightnessRead> read;
  session.LoadBrightness([&read](const TBrightnessRead& r) { read = r; },
                         [](const std::string& error) { ADD_FAILURE() << error; });
  bool disconnected = false;
  session.Disconnect([&disconnected] { disconnected = true; });
  EXPECT_EQ(session.State(), TSessionState::kClosed);
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return read && disconnected; }, test::kPatience));
  EXPECT_EQ(read->outcome.kind, TOutcomeKind::kNoAnswer);
  EXPECT_EQ(read->outcome.reason, "the request was abandoned");
  sim.Pause(false);
  // The session stays usable: the next connect's requests wait for their answers again.
  Connect(sim);
}

// The line closes under the session: lost, with the transport's reason; then attempts in turn,
// each asking the back-off for its delay, until the display is back and every group loaded.
TEST_F(SessionTest, ALineThatClosesIsLostThenReconnectedByItself) {
  std::optional<TSimProcess> sim(std::in_place);
  const std::string port = std::to_string(sim->Port());
  std::vector<int> asked;
  session.SetReconnectDelays([&asked](int attempt) {
    asked.push_back(attempt);
    return ReconnectDelay(attempt) / 100;  // the same back-off, a hundred times faster
  });
  Connect(*sim);
  QSignalSpy lost(&session, &TDisplaySession::lineLost);
  QSignalSpy reconnected(&session, &TDisplaySession::reconnected);
  sim->Stop();
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return !lost.isEmpty(); }, test::kPatience));
  EXPECT_FALSE(lost[0][0].toString().isEmpty());
  EXPECT_FALSE(session.IsConnected());
  EXPECT_FALSE(session.Loaded(TSettingsGroup::kParams)) << "the groups are of a display gone";
  ASSERT_TRUE(
      test::ProcessEventsUntil([&] { return session.ReconnectAttempts() >= 3; }, test::kPatience));
  sim.emplace(std::vector<std::string>{"--tcp", "127.0.0.1:" + port});
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return !reconnected.isEmpty(); }, test::kPatience));
  EXPECT_EQ(session.State(), TSessionState::kConnected);
  EXPECT_TRUE(session.Loaded(TSettingsGroup::kParams));
  EXPECT_TRUE(session.Loaded(TSettingsGroup::kBrightness));
  const int attempts = session.ReconnectAttempts();
  ASSERT_GE(attempts, 3);
  std::vector<int> expected;
  for (int attempt = 1; attempt <= attempts; ++attempt)
    expected.push_back(attempt);
  EXPECT_EQ(asked, expected) << "each attempt waits its own delay, in turn";
}

// A save reads back, and what the display holds otherwise is named key by key; a restore
// writes the differences and verifies them; a load that gets no answer leaves its group
// unloaded with its outcome.
TEST_F(SessionTest, SavesLoadsAndRestoresEndWithTheirOutcomes) {
  TSimProcess sim({"--alter", "brightness=99", "--silent", "0x71"});
  Connect(sim);
  EXPECT_FALSE(session.Loaded(TSettingsGroup::kClock));

  const TBrightnessSave saved = Await<TBrightnessSave>([&](auto done, auto failed) {
    session.SaveBrightness(50, {true, 8, 30, 0}, done, failed);
  });
  EXPECT_TRUE(saved.staticWritten && saved.automaticWritten);
  EXPECT_TRUE(saved.outcome.Ok());
  ASSERT_EQ(saved.readBackChanges.size(), 1u);
  EXPECT_EQ(saved.readBackChanges[0], (TSettingChange{"brightness", "50", "99"}));

  const TClockRead clock =
      Await<TClockRead>([&](auto done, auto failed) { session.LoadClock(done, failed); });
  EXPECT_EQ(clock.outcome.kind, TOutcomeKind::kNoAnswer);
  EXPECT_EQ(clock.outcome.step, TStep::kReadClock);
  EXPECT_FALSE(session.Loaded(TSettingsGroup::kClock));

  const TSnapshotRead held =
      Await<TSnapshotRead>([&](auto done, auto failed) { session.ReadSnapshot(done, failed); });
  ASSERT_TRUE(held.snapshot);
  TDisplaySettings wanted = held.snapshot->settings;
  wanted.expirationSeconds = 77;
  wanted.params.offset = 60;
  const TRestoreReport restored = Await<TRestoreReport>([&](auto done, auto failed) {
    session.Restore(wanted, held.snapshot->settings, done, failed);
  });
  EXPECT_TRUE(restored.restore.Verified()) << restored.restore.outcome.Text();
  EXPECT_EQ(restored.restore.written, (std::vector<std::string>{"params", "expiration"}));
  EXPECT_EQ(restored.reads.params.expiration.seconds, 77);
  EXPECT_TRUE(session.Loaded(TSettingsGroup::kParams));
}

}  // namespace
}  // namespace zorvid
