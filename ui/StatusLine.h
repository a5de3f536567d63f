#pragma once

// The main window's status line: what the last procedure came to and what state the line is
// in, as text and colour, on two lines, with the details (the step, the address, the tries and
// the reason the line or the system gave) in the tooltip and behind a button reached by Tab.
// The texts and their colours are hidden labels of their own ("lblLan…" in "pnllanguage"), as
// the window always had them.
//
// Threads: user-interface thread only.

#include <QColor>
#include <QLabel>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <vector>

#include "link/DisplaySession.h"
#include "link/Outcome.h"

namespace zorvid {

// How one group's load ended: `loaded` when its values show (those a rule refuses marked).
struct TGroupLoad {
  bool loaded = false;
  TOutcome outcome;
};

class TStatusLine : public QWidget {
  Q_OBJECT

 public:
  enum TStatus {
    kOpenOk,
    kOpenErr,
    kLoadOk,
    kLoadErr,
    kSaveOk,
    kSaveErr,
    kShowInfoOk,
    kShowInfoErr,
    kBusy,
    kSilent,
    kLineLost,
    kReconnecting,
    kReconnected,
    kDisconnected,
    kConnectedNotLoaded,
    kLoadFirst,
    kParamsSavedExpirationNot,
    kBrightnessSavedAutomaticNot,
    kSavedNotVerified,
    kSavedOtherValues,
    kFileSaved,
    kFileNotSaved,
    kFileRefused,
    kFileSame,
    kFileNotWritten,
    kCommReadErr,
    kCommChanged,
    kCommEnableErr,
    kCommWriteErr,
    kCommBack,
    kCommLost,
    kLoadedInvalid,
    kPollFailed,
    kCommUnchanged,
    kCommUnknown,
    kSaveUnknown,
    kProcedureFailed,
    kAnotherDisplay,
    kStatusCount
  };

  explicit TStatusLine(QWidget* parent = nullptr);

  QString Text(TStatus status) const;
  QColor Colour(TStatus status) const;
  // The text, elided to the line's two lines, and its details: the whole text when it did not
  // fit, and why it failed.
  void ShowText(const QString& text, const QColor& colour, const QString& details = {});
  void Show(TStatus status, const QString& details = {});
  // The status's text with the outcome's cause after a colon, its step and reason in the
  // details. A write whose answer was lost is no failure to save: nobody knows whether it was
  // stored.
  void ShowOutcome(TStatus status, const TOutcome& outcome);
  // Every group's load: `allLoaded` when all came sound, else the first that did not, with its
  // cause, every failure in the details.
  void ShowLoads(const std::vector<TGroupLoad>& loads, TStatus allLoaded);
  // A group's load from its button: green, marked, or why not.
  void ShowLoad(const TGroupLoad& load);
  // A write of one request: done, or why not.
  void ShowSave(const TOutcome& outcome);
  // A save of two steps: the failure when the first failed, `onlyFirst` when only the first was
  // written, then whether the read back came and what it found other than sent.
  void ShowTwoStepSave(bool firstWritten, bool secondWritten, TStatus onlyFirst,
                       const TOutcome& outcome, const std::vector<TSettingChange>& differences);
  void ShowClockSave(const TClockSave& save);
  void ShowRestore(const TSettingsRestore& restore);
  // A connect that failed: the identification's outcome when the line opened and the display
  // did not answer as it should, else the transport's reason.
  void ShowConnectFailure(const TConnectReport& report);
  // Only the display's refusal is said as one; a lost answer leaves open what it took.
  void ShowCommissioning(const TCommissioning& outcome);
  // A reconnect found another unit on the line: which one it was and which it is.
  void ShowAnotherDisplay(const TDisplayIdentity& before, const TDisplayIdentity& now);
  // What the session's state says by itself: silent since when, the line lost and why, an
  // attempt to reconnect.
  void ShowState(const TDisplaySession& session);
  // The details' button, last in the window's tab order.
  QWidget* DetailsButton() const { return details_; }

 private:
  void BuildTexts();
  void ShowDetails();

  QLabel* text_;
  QToolButton* details_;
  QString detailsText_;
  std::array<QLabel*, kStatusCount> texts_{};
};

}  // namespace zorvid
