#pragma once

// One display session: the one place that knows the state of the line and which of the
// display's settings groups are loaded. It connects (with the identification and a load of
// every group), polls with the silence rule, loads and saves each group with its read-back,
// reads a snapshot and restores one, moves the display to a new address and speed, and when
// the line closes under it reconnects by itself with ReconnectDelay's back-off. Every
// procedure runs on the display link's thread, one at a time, and reports its outcome
// (link/Outcome) to its caller.
//
// Threads: the session lives on its owner's thread (the user-interface thread of the window),
// which makes every call; every callback and signal runs there too. The link's thread runs the
// procedures; they touch nothing of the session but the values bound into them.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/DateTime.h"
#include "core/Types.h"
#include "link/Capabilities.h"
#include "link/Commissioning.h"
#include "link/DisplayLink.h"
#include "link/DisplayPoll.h"
#include "link/Outcome.h"
#include "link/SettingsReads.h"
#include "link/SettingsSnapshot.h"

namespace zorvid {

// What the session knows of the line.
enum class TSessionState {
  kClosed,        // no line: never connected, the user disconnected, or a connect failed
  kConnecting,    // the user's connect runs
  kConnected,     // the display answers
  kSilent,        // connected, but neither read of the last poll got an answer
  kLost,          // the line closed under the session; a reconnect attempt is due
  kReconnecting,  // an attempt runs
};

// Which unit a display is: its identification text and, where it answers them, its
// identifiers (0xFA).
struct TDisplayIdentity {
  std::string identification;
  std::optional<std::array<std::uint32_t, 3>> identifiers;  // word1, word2, value
  // Another unit: the texts differ, or both identifiers were read and differ.
  bool DiffersFrom(const TDisplayIdentity& other) const;
  std::string Text() const;
};

// A connect's outcome: the line and the identification, then every group the display has.
struct TConnectReport {
  bool connected = false;
  std::string failure;      // why not, the failing step's own reason
  TOutcome identification;  // how the identification ended (done when not asked)
  TDisplayCapabilities capabilities;
  TDisplayIdentity identity;
  TSettingsReads reads;  // of a display that answered
  // A reconnect's: the unit connected before, when another one answers now (a port's number
  // reused by another adapter). Nothing was written to it.
  std::optional<TDisplayIdentity> replaced;
};

// The display's settings read as a settings file holds them; `snapshot` when they came.
struct TSnapshotRead {
  TDisplaySettingsRead held;
  std::optional<TSettingsSnapshot> snapshot;
};

// A restore, and every group read again after it.
struct TRestoreReport {
  TSettingsRestore restore;
  TSettingsReads reads;
};

// The groups of settings a page holds, each loaded or not from the connected display.
enum class TSettingsGroup { kParams, kBrightness, kClock };

class TDisplaySession : public QObject {
  Q_OBJECT

 public:
  template <class TResult>
  using TDone = std::function<void(const TResult&)>;
  using TFailed = TDisplayLink::TFailed;
  using TDelays = std::function<std::chrono::milliseconds(int attempt)>;

  explicit TDisplaySession(QObject* parent = nullptr);
  ~TDisplaySession() override;

  TSessionState State() const { return state_; }
  // Connected or silent: a line to a display that answered its identification.
  bool IsConnected() const;
  // A procedure runs or waits on the link.
  bool IsBusy() const { return link_->IsBusy(); }
  const std::string& Connection() const { return connection_; }
  TByte Address() const { return address_; }
  const TDisplayCapabilities& Capabilities() const { return capabilities_; }
  // The group shows values of this display: only those may be written back to it.
  bool Loaded(TSettingsGroup group) const;
  // The display answers the poll, but not with its segments (a refusal, a damaged or an
  // invalid answer): a mirror of them is not current.
  bool SegmentsFailing() const { return segmentsFailing_; }
  // A poll of this connection read the segments, and the last one did not fail: a mirror shows
  // the display as it is. Not so after a connect or a reconnect until the first poll.
  bool SegmentsCurrent() const {
    return state_ == TSessionState::kConnected && segmentsRead_ && !segmentsFailing_;
  }
  // Since the poll that first got no answer; invalid while not silent.
  const QDateTime& SilentSince() const { return silentSince_; }
  int ReconnectAttempts() const { return reconnectAttempts_; }
  // Why the line closed, or why the last reconnect attempt failed.
  const QString& ReconnectFailure() const { return reconnectFailure_; }
  // How long to wait before reconnect attempt n; ReconnectDelay unless a test gives others.
  void SetReconnectDelays(TDelays delays) { delays_ = std::move(delays); }

  // Every procedure calls `done` with its outcome, or `failed` with the text of an error it
  // raised, unless the session has gone by then.
  void Connect(const std::string& connection, TByte address, TDone<TConnectReport> done,
               TFailed failed);
  // Stops the reconnect attempts, abandons the exchange in flight and closes the line.
  void Disconnect(std::function<void()> done);
  // The segments and the temperature; the state follows the silence rule, SegmentsFailing the
  // segments' read. False, with nothing sent and no call back, while the session is not
  // connected or a procedure runs. `done` gets nothing when a connect or a disconnect came
  // meanwhile: the poll is of another line.
  bool Poll(TDone<std::optional<TPollOutcome>> done, TFailed failed);

  void LoadParams(TDone<TDateTimeParamsRead> done, TFailed failed);
  void SaveParams(const TDateTimeParams& params, std::int32_t expirationSeconds,
                  TDone<TDateTimeParamsSave> done, TFailed failed);
  void LoadBrightness(TDone<TBrightnessRead> done, TFailed failed);
  // The automatic brightness goes only to a display that offers it.
  void SaveBrightness(std::int32_t value, const TBrightnessAuto& automatic,
                      TDone<TBrightnessSave> done, TFailed failed);
  void LoadClock(TDone<TClockRead> done, TFailed failed);
  // Without a value, the PC's time as the request leaves.
  void SaveClock(std::optional<TDateTime> value, TDone<TClockSave> done, TFailed failed);
  void WriteText(const std::string& text, TDone<TOutcome> done, TFailed failed);
  void ShowInformation(TDone<TOutcome> done, TFailed failed);
  // Not reported: the next poll shows what the display shows.
  void WriteSegments(const TByteString& data);

  void ReadSnapshot(TDone<TSnapshotRead> done, TFailed failed);
  // Writes what of `wanted` differs from `held`, verifies it, and reads every group again.
  void Restore(const TDisplaySettings& wanted, const TDisplaySettings& held,
               TDone<TRestoreReport> done, TFailed failed);
  void ReadCommParams(TDone<TCommParamsRead> done, TFailed failed);
  // Moves the display and follows it there; the reconnect attempts before it are outdated.
  void Commission(const TCommParams& wanted, TDone<TCommissioning> done, TFailed failed);

 signals:
  void stateChanged(zorvid::TSessionState state);
  // The line closed under the session, with the transport's reason.
  void lineLost(const QString& reason);
  // A reconnect attempt starts: its number, and why the line went or the last one failed.
  void reconnecting(int attempt, const QString& failure);
  // The display answers again, every group read; the report says when it is another unit.
  void reconnected(const zorvid::TConnectReport& report);

 private:
  void SetState(TSessionState state);
  // Outdates whatever the session did before for the line: pending attempts, polls.
  void Restart();
  void ForgetLoads();
  void NoteLoads(const TSettingsReads& reads);
  void LineLost(const QString& reason);
  void ScheduleReconnect();
  void Reconnect();
  // The poll's silence rule: the state follows whether the display answered.
  void NoteSilence(bool silent);

  std::unique_ptr<TDisplayLink> link_;
  TSessionState state_ = TSessionState::kClosed;
  std::string connection_;
  TByte address_ = 0;
  TDisplayCapabilities capabilities_;
  TDisplayIdentity identity_;  // of the unit the user connected to
  bool paramsLoaded_ = false;
  bool brightnessLoaded_ = false;
  bool clockLoaded_ = false;
  QDateTime silentSince_;
  bool segmentsFailing_ = false;
  bool segmentsRead_ = false;  // since the last connect or reconnect
  // A connect or a disconnect of the user outdates the attempts and polls before it.
  std::uint64_t epoch_ = 0;
  int reconnectAttempts_ = 0;
  QString reconnectFailure_;
  QTimer reconnectTimer_;
  TDelays delays_;
};

}  // namespace zorvid
