#include "link/DisplaySession.h"

#include <utility>

namespace zorvid {
namespace {

// A display that misses one identification answer is not yet a failed connect.
constexpr int kIdentificationTries = 3;

// Connects, says what the identification told and reads every group; on the link thread.
TConnectReport ConnectAndRead(TDisplayConnection& connection, const std::string& connectionString,
                              TByte address, int tries) {
  TConnectReport report;
  report.connected = connection.Connect(connectionString, address, tries);
  report.failure = connection.FailureReason();
  report.identification = connection.Identification();
  report.capabilities = connection.Capabilities();
  if (!report.connected) return report;
  TZorvid& display = connection.Device();
  report.identity.identification = display.GetIdentificationText();
  std::uint16_t word1 = 0, word2 = 0;
  std::uint32_t value = 0;
  // Not every unit answers its identifiers: then the identification alone tells it.
  if (SendStep(display, TStep::kReadIdentifiers, 1, [&] {
        return display.ReadIdentifiers(word1, word2, value);
      }).Ok())
    report.identity.identifiers = std::array<std::uint32_t, 3>{word1, word2, value};
  report.reads = ReadSettings(display, report.capabilities);
  return report;
}

}  // namespace

bool TDisplayIdentity::DiffersFrom(const TDisplayIdentity& other) const {
  return identification != other.identification ||
         (identifiers && other.identifiers && *identifiers != *other.identifiers);
}

std::string TDisplayIdentity::Text() const {
  std::string text = "\"" + identification + "\"";
  if (identifiers)
    text += " (" + std::to_string((*identifiers)[0]) + ", " + std::to_string((*identifiers)[1]) +
            ", " + std::to_string((*identifiers)[2]) + ")";
  return text;
}

TDisplaySession::TDisplaySession(QObject* parent)
    : QObject(parent), link_(std::make_unique<TDisplayLink>()), delays_(ReconnectDelay) {
  reconnectTimer_.setSingleShot(true);
  connect(&reconnectTimer_, &QTimer::timeout, this, &TDisplaySession::Reconnect);
  connect(link_.get(), &TDisplayLink::lineLost, this, &TDisplaySession::LineLost);
}

TDisplaySession::~TDisplaySession() {
  reconnectTimer_.stop();
  link_.reset();
}

bool TDisplaySession::IsConnected() const {
  return state_ == TSessionState::kConnected || state_ == TSessionState::kSilent;
}

bool TDisplaySession::Loaded(TSettingsGroup group) const {
  switch (group) {
    case TSettingsGroup::kParams:
      return paramsLoaded_;
    case TSettingsGroup::kBrightness:
      return brightnessLoaded_;
    case TSettingsGroup::kClock:
      return clockLoaded_;
  }
  return false;
}

void TDisplaySession::SetState(TSessionState state) {
  if (state == TSessionState::kSilent && state_ != TSessionState::kSilent)
    silentSince_ = QDateTime::currentDateTime();
  if (state != TSessionState::kSilent) silentSince_ = {};
  if (state == state_) return;
  state_ = state;
  emit stateChanged(state);
}

void TDisplaySession::Restart() {
  ++epoch_;
  segmentsFailing_ = segmentsRead_ = false;
  reconnectTimer_.stop();
  ForgetLoads();
}

void TDisplaySession::ForgetLoads() {
  paramsLoaded_ = brightnessLoaded_ = clockLoaded_ = false;
}

// A group is loaded when its values came, also those a rule refuses (the page shows them
// marked, to be mended); a clock year no date field can hold is not.
void TDisplaySession::NoteLoads(const TSettingsReads& reads) {
  paramsLoaded_ = reads.params.ok;
  brightnessLoaded_ = reads.brightness.ok();
  clockLoaded_ = reads.clock && reads.clock->ok && !reads.clock->Invalid();
}

// ---- The line ------------------------------------------------------------------------------

void TDisplaySession::Connect(const std::string& connection, TByte address,
                              TDone<TConnectReport> done, TFailed failed) {
  Restart();
  connection_ = connection;
  address_ = address;
  SetState(TSessionState::kConnecting);
  link_->Call(
      [connection, address](TDisplayConnection& line) {
        return ConnectAndRead(line, connection, address, kIdentificationTries);
      },
      [this, done = std::move(done)](const TConnectReport& report) {
        if (report.connected) {
          capabilities_ = report.capabilities;
          identity_ = report.identity;
          NoteLoads(report.reads);
        }
        SetState(report.connected ? TSessionState::kConnected : TSessionState::kClosed);
        done(report);
      },
      [this, failed = std::move(failed)](const std::string& error) {
        SetState(TSessionState::kClosed);
        failed(error);
      });
}

void TDisplaySession::Disconnect(std::function<void()> done) {
  Restart();
  SetState(TSessionState::kClosed);
  // As a window that closes: the exchange in flight ends now, not at its time-out.
  link_->Interrupt([](TDisplayConnection& line) { line.Disconnect(); }, std::move(done));
}

// The line closed under the session: said at once, then reconnected by itself.
void TDisplaySession::LineLost(const QString& reason) {
  if (!IsConnected()) return;  // the user has disconnected meanwhile
  ForgetLoads();
  segmentsFailing_ = segmentsRead_ = false;
  reconnectAttempts_ = 0;
  reconnectFailure_ = reason;
  SetState(TSessionState::kLost);
  emit lineLost(reason);
  ScheduleReconnect();
}

void TDisplaySession::ScheduleReconnect() {
  SetState(TSessionState::kLost);
  reconnectTimer_.start(delays_(reconnectAttempts_ + 1));
}

void TDisplaySession::Reconnect() {
  ++reconnectAttempts_;
  SetState(TSessionState::kReconnecting);
  emit reconnecting(reconnectAttempts_, reconnectFailure_);
  const auto failedAttempt = [this, epoch = epoch_](const QString& why) {
    if (epoch != epoch_) return;  // the user connected or disconnected meanwhile
    reconnectFailure_ = why;
    ScheduleReconnect();
  };
  link_->Call(
      [connection = connection_, address = address_](TDisplayConnection& line) {
        return ConnectAndRead(line, connection, address, 1);
      },
      [this, epoch = epoch_, failedAttempt](const TConnectReport& report) {
        if (epoch != epoch_) return;
        if (!report.connected) return failedAttempt(QString::fromStdString(report.failure));
        capabilities_ = report.capabilities;
        NoteLoads(report.reads);
        SetState(TSessionState::kConnected);
        TConnectReport reconnect = report;
        if (identity_.DiffersFrom(report.identity)) reconnect.replaced = identity_;
        identity_ = report.identity;
        emit reconnected(reconnect);
      },
      [failedAttempt](const std::string& error) { failedAttempt(QString::fromStdString(error)); });
}

// ---- The poll ------------------------------------------------------------------------------

bool TDisplaySession::Poll(TDone<std::optional<TPollOutcome>> done, TFailed failed) {
  if (IsBusy() || !IsConnected()) return false;  // polls never queue up behind an exchange
  link_->Call([](TDisplayConnection& line) { return PollDisplay(line.Device()); },
              [this, epoch = epoch_, done = std::move(done)](const TPollOutcome& poll) {
                if (epoch != epoch_ || !IsConnected()) return done(std::nullopt);
                const TOutcomeKind segments = poll.segmentsRead.kind;
                segmentsFailing_ = !poll.Silent() && segments != TOutcomeKind::kDone &&
                                   segments != TOutcomeKind::kLineClosed;
                segmentsRead_ = segmentsRead_ || segments == TOutcomeKind::kDone;
                NoteSilence(poll.Silent());
                done(poll);
              },
              std::move(failed));
  return true;
}

void TDisplaySession::NoteSilence(bool silent) {
  SetState(silent ? TSessionState::kSilent : TSessionState::kConnected);
}

// ---- The groups ----------------------------------------------------------------------------

void TDisplaySession::LoadParams(TDone<TDateTimeParamsRead> done, TFailed failed) {
  link_->Call([](TDisplayConnection& line) { return ReadDateTimeParams(line.Device()); },
              [this, done = std::move(done)](const TDateTimeParamsRead& read) {
                paramsLoaded_ = read.ok;
                done(read);
              },
              std::move(failed));
}

void TDisplaySession::SaveParams(const TDateTimeParams& params, std::int32_t expirationSeconds,
                                 TDone<TDateTimeParamsSave> done, TFailed failed) {
  link_->Call(
      [params, expirationSeconds](TDisplayConnection& line) {
        TDateTimeParamsSave save = SaveDateTimeParams(line.Device(), params, expirationSeconds);
        NoteReadBack(save, params, expirationSeconds);
        return save;
      },
      std::move(done), std::move(failed));
}

void TDisplaySession::LoadBrightness(TDone<TBrightnessRead> done, TFailed failed) {
  link_->Call([offered = OffersAutomaticBrightness(capabilities_)](
                  TDisplayConnection& line) { return ReadBrightness(line.Device(), offered); },
              [this, done = std::move(done)](const TBrightnessRead& read) {
                brightnessLoaded_ = read.ok();
                done(read);
              },
              std::move(failed));
}

void TDisplaySession::SaveBrightness(std::int32_t value, const TBrightnessAuto& automatic,
                                     TDone<TBrightnessSave> done, TFailed failed) {
  const std::optional<TBrightnessAuto> offered =
      OffersAutomaticBrightness(capabilities_) ? std::optional(automatic) : std::nullopt;
  link_->Call(
      [value, offered](TDisplayConnection& line) {
        TBrightnessSave save = zorvid::SaveBrightness(line.Device(), value, offered);
        NoteReadBack(save, value, offered);
        return save;
      },
      std::move(done), std::move(failed));
}

void TDisplaySession::LoadClock(TDone<TClockRead> done, TFailed failed) {
  link_->Call([](TDisplayConnection& line) { return ReadClock(line.Device()); },
              [this, done = std::move(done)](const TClockRead& read) {
                clockLoaded_ = read.ok && !read.Invalid();
                done(read);
              },
              std::move(failed));
}

void TDisplaySession::SaveClock(std::optional<TDateTime> value, TDone<TClockSave> done,
                                TFailed failed) {
  link_->Call(
      [value](TDisplayConnection& line) {
        // The PC's time as the request leaves, however long the procedures before it took.
        return zorvid::SaveClock(line.Device(), value.value_or(Now()));
      },
      std::move(done), std::move(failed));
}

void TDisplaySession::WriteText(const std::string& text, TDone<TOutcome> done, TFailed failed) {
  link_->Call(
      [text](TDisplayConnection& line) {
        TZorvid& display = line.Device();
        return SendStep(display, TStep::kWriteText, 1,
                        [&] { return display.SetDisplayChars(text); });
      },
      std::move(done), std::move(failed));
}

void TDisplaySession::ShowInformation(TDone<TOutcome> done, TFailed failed) {
  link_->Call(
      [](TDisplayConnection& line) {
        TZorvid& display = line.Device();
        return SendStep(display, TStep::kShowInformation, 1,
                        [&] { return display.ShowActualInformation(); });
      },
      std::move(done), std::move(failed));
}

void TDisplaySession::WriteSegments(const TByteString& data) {
  link_->Run([data](TDisplayConnection& line) { line.Device().SetDisplayData(data); }, [] {});
}

// ---- Files and the address -----------------------------------------------------------------

void TDisplaySession::ReadSnapshot(TDone<TSnapshotRead> done, TFailed failed) {
  link_->Call(
      [capabilities = capabilities_, connection = connection_,
       address = address_](TDisplayConnection& line) {
        TZorvid& display = line.Device();
        TSnapshotRead read{ReadDisplaySettings(display, capabilities, SenderFor(display, 1)), {}};
        if (read.held.settings)
          read.snapshot =
              TSettingsSnapshot{QDateTime::currentDateTimeUtc(), display.GetIdentificationText(),
                                address, connection, *read.held.settings};
        return read;
      },
      std::move(done), std::move(failed));
}

void TDisplaySession::Restore(const TDisplaySettings& wanted, const TDisplaySettings& held,
                              TDone<TRestoreReport> done, TFailed failed) {
  link_->Call(
      [wanted, held, capabilities = capabilities_](TDisplayConnection& line) {
        TZorvid& display = line.Device();
        TRestoreReport report;
        report.restore = WriteSettingsDifferences(display, wanted, held, SenderFor(display, 1));
        report.reads = ReadSettings(display, capabilities);
        return report;
      },
      [this, done = std::move(done)](const TRestoreReport& report) {
        NoteLoads(report.reads);
        done(report);
      },
      std::move(failed));
}

void TDisplaySession::ReadCommParams(TDone<TCommParamsRead> done, TFailed failed) {
  link_->Call([](TDisplayConnection& line) { return zorvid::ReadCommParams(line); },
              std::move(done), std::move(failed));
}

void TDisplaySession::Commission(const TCommParams& wanted, TDone<TCommissioning> done,
                                 TFailed failed) {
  // The reconnects are the procedure's: attempts of a lost line before it are old.
  ++epoch_;
  reconnectTimer_.stop();
  link_->Call(
      [connection = connection_, address = address_, wanted](TDisplayConnection& line) {
        return zorvid::Commission(line, connection, address, wanted, kIdentificationTries);
      },
      [this, done = std::move(done)](const TCommissioning& outcome) {
        connection_ = outcome.connectionString;
        address_ = outcome.address;
        if (outcome.connected) {
          capabilities_ = outcome.capabilities;
        } else {
          ForgetLoads();
        }
        SetState(outcome.connected ? TSessionState::kConnected : TSessionState::kClosed);
        done(outcome);
      },
      std::move(failed));
}

}  // namespace zorvid
