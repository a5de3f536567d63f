#pragma once

// What a row of zorvidctl's command table is made of, and the actions the rows name. The table,
// with the help it prints, is in CtlCommands.cpp; the actions are in CtlReadActions.cpp,
// CtlWriteActions.cpp and CtlSettings.cpp. A row's preparer reads the command's arguments,
// refusing a bad one before anything is sent, and binds them into the action.

#include <QStringList>
#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "device/Zorvid.h"
#include "device/ZorvidRules.h"
#include "link/DisplayScan.h"
#include "link/Outcome.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlOutput.h"

namespace zorvid::ctl {

struct TCommandSpec;

// What a command needs of the line before it runs.
enum class TLineUse {
  kIdentified,  // connected to the display at --address, its identification read
  kOpened,      // the line open; the display need not answer at --address
  kScan,        // nothing: the scan opens the line itself, at each speed
};

// No upper limit on the number of arguments.
inline constexpr std::size_t kAnyCount = std::numeric_limits<std::size_t>::max();

struct TCommandArgs {
  const TCommandSpec& command;
  QStringList values;
  const TCtlOptions& options;
  int requestTries;  // for each request of the command

  std::size_t Count() const { return static_cast<std::size_t>(values.size()); }
  std::string Value(qsizetype index) const { return values[index].toStdString(); }
  // The values from `first` on, joined by blanks.
  std::string Joined(qsizetype first = 0) const {
    return values.mid(first).join(' ').toStdString();
  }
};

struct TCommandSpec {
  std::string_view verb;       // "get"
  std::string_view item;       // "text"; empty for commands of one word
  std::string_view arguments;  // usage of the arguments ("TEXT")
  std::string_view help;
  TCtlAction (*prepare)(const TCommandArgs& args);  // none for the scan (ParseScan)
  // The request the command sends, whose rule says whether --retries may repeat it; for a
  // command of several requests, each request's own.
  TStep step;
  TLineUse line = TLineUse::kIdentified;

  std::string Name() const {
    return item.empty() ? std::string(verb) : std::string(verb) + " " + std::string(item);
  }
};

// Refuses a number of arguments outside min..max with the command's usage.
void ExpectCount(const TCommandArgs& args, std::size_t min, std::size_t max);

// Raises the failed check of an answer, so that nothing of it is printed. The run names the
// step and the address.
void ExpectSound(const std::optional<TInvalidValue>& invalid);

// CtlReadActions.cpp: the commands that ask the display something (show-info and raw among
// them), each answer checked before it becomes a result, and the scan's options.
bool RunIdent(TZorvid& device, TCtlResult& result);
bool RunGetText(IZorvid& device, TCtlResult& result);
bool RunGetData(IZorvid& device, TCtlResult& result);
bool RunGetExpiration(IZorvid& device, TCtlResult& result);
bool RunGetBrightness(IZorvid& device, TCtlResult& result);
bool RunGetBrightnessAuto(IZorvid& device, TCtlResult& result);
bool RunGetClock(IZorvid& device, TCtlResult& result);
bool RunGetParams(IZorvid& device, TCtlResult& result);
bool RunGetTemperature(IZorvid& device, TCtlResult& result);
bool RunShowInfo(IZorvid& device, TCtlResult& result);
bool RunGetComm(TZorvid& device, TCtlResult& result);
bool RunIds(TZorvid& device, TCtlResult& result);
TCtlAction PrepareRaw(const TCommandArgs& args);
// The scan has no action: it opens the line itself, once per speed.
TScanOptions ParseScan(const TCommandArgs& args);

// CtlWriteActions.cpp: the commands that change the display; each refuses what the display's
// setters would refuse before anything is sent.
TCtlAction PrepareSetText(const TCommandArgs& args);
TCtlAction PrepareSetData(const TCommandArgs& args);
TCtlAction PrepareSetExpiration(const TCommandArgs& args);
TCtlAction PrepareSetBrightness(const TCommandArgs& args);
TCtlAction PrepareSetBrightnessAuto(const TCommandArgs& args);
TCtlAction PrepareSetClock(const TCommandArgs& args);
TCtlAction PrepareSetParams(const TCommandArgs& args);
TCtlAction PrepareSetComm(const TCommandArgs& args);
TCtlAction PrepareAssignAddress(const TCommandArgs& args);

}  // namespace zorvid::ctl
