#include "tools/ctl/CtlSettings.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/EchoText.h"
#include "link/Capabilities.h"
#include "link/DisplayConnection.h"
#include "link/SettingsSnapshot.h"
#include "tools/ctl/CtlArguments.h"
#include "tools/ctl/CtlConnection.h"
#include "tools/ctl/CtlOutput.h"

namespace zorvid::ctl {
namespace {

TDisplaySettings ReadAll(TZorvid& device, int tries) {
  const TDisplaySettingsRead read = ReadDisplaySettings(
      device, CapabilitiesOf(device.GetIdentificationText()), SenderFor(device, tries));
  if (!read.settings) throw TOutcomeError(read.outcome);
  return *read.settings;
}

// The groups of the skipped keys: what the display does not have.
std::vector<std::string> SkippedGroups(const std::vector<std::string>& keys) {
  std::vector<std::string> groups;
  for (const std::string& key : keys) {
    const std::string group = key.substr(0, key.find('.'));
    if (std::find(groups.begin(), groups.end(), group) == groups.end()) groups.push_back(group);
  }
  return groups;
}

void AddSkipped(TCtlResult& result, const std::vector<std::string>& keys) {
  for (const std::string& group : SkippedGroups(keys))
    result.fields.push_back(TextField("skipped", group + " (the display does not have it)"));
}

// One row per key: the two values under the names `wanted` and `held`.
TCtlResult ChangeRows(const std::vector<TSettingChange>& changes, const std::string& wanted,
                      const std::string& held) {
  TCtlResult result{TLayout::kRows, {}, kExitOk};
  for (const TSettingChange& change : changes)
    result.fields.push_back(
        GroupField(change.key, {TextField(wanted, change.wanted), TextField(held, change.held)}));
  return result;
}

std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items)
    text += (text.empty() ? "" : ", ") + item;
  return text.empty() ? "nothing" : text;
}

std::string ReadBackText(const std::vector<TSettingChange>& readBack) {
  std::string text;
  for (const TSettingChange& change : readBack)
    text += (text.empty() ? "" : "; ") + change.key + " sent " + change.wanted + ", read " +
            change.held;
  return text;
}

// From the display's settings to the file's, as the restore goes.
TCtlResult Restored(const TSettingsComparison& comparison) {
  std::vector<TSettingChange> changes;
  for (const TSettingChange& change : comparison.differences)
    changes.push_back({change.key, change.held, change.wanted});
  return ChangeRows(changes, "from", "to");
}

// A bad file is bad input: refused before anything is sent.
TSettingsSnapshot SettingsFile(const std::string& file) {
  try {
    return LoadSnapshot(file);
  } catch (const TSettingsFileError& error) {
    Refuse(EscapeControls(error.what()));
  }
}

TCtlAction GetAllAction(int tries) {
  return {{TStep::kNone, [tries](TZorvid& device, TCtlResult& result) {
             const TDisplaySettings settings = ReadAll(device, tries);
             result = {TLayout::kLines, {}, kExitOk};
             for (const TSettingKey& key : SettingKeys())
               if (const std::optional<std::int32_t> value = key.Get(settings))
                 result.fields.push_back(key.flag ? BitField(key.key, *value != 0)
                                                  : IntegerField(key.key, *value));
             return true;
           }}};
}

// Without a file the snapshot goes to standard output.
TCtlAction BackupAction(const std::optional<std::string>& file, const TCtlOptions& options,
                        int tries) {
  return {{TStep::kNone, [file, options, tries](TZorvid& device, TCtlResult& result) {
             TSettingsSnapshot snapshot;
             snapshot.settings = ReadAll(device, tries);
             snapshot.readAt = QDateTime::currentDateTimeUtc();
             snapshot.identification = device.GetIdentificationText();
             snapshot.address = options.address;
             snapshot.connection = options.connection;
             const std::string json = SnapshotJson(snapshot);
             if (!file) {
               result = {TLayout::kBare, {DocumentField("snapshot", json)}, kExitOk};
               return true;
             }
             SaveSnapshot(snapshot, *file);  // a failure names the file and the system's reason
             result = {TLayout::kSilent, {TextField("file", *file)}, kExitOk};
             return true;
           }}};
}

// Exit 0 when the display holds the file's settings, 1 when a key differs.
TCtlAction DiffAction(const TSettingsSnapshot& snapshot, int tries) {
  return {{TStep::kNone, [wanted = snapshot.settings, tries](TZorvid& device, TCtlResult& result) {
             const TSettingsComparison comparison = CompareSettings(wanted, ReadAll(device, tries));
             result = ChangeRows(comparison.differences, "file", "display");
             AddSkipped(result, comparison.skipped);
             result.exitCode = comparison.differences.empty() ? kExitOk : kExitFailed;
             return true;
           }}};
}

// A dry run reads and prints what it would write, and writes nothing.
TCtlAction RestoreAction(const TSettingsSnapshot& snapshot, bool dryRun, int tries) {
  return {
      {TStep::kNone,
       [wanted = snapshot.settings, dryRun, tries](TZorvid& device, TCtlResult& result) {
         const TDisplaySettings held = ReadAll(device, tries);
         const TSettingsComparison comparison = CompareSettings(wanted, held);
         result = Restored(comparison);
         AddSkipped(result, comparison.skipped);
         if (dryRun) {
           result.fields.push_back(TextField("dry-run", "nothing was written"));
           return true;
         }
         const TSettingsRestore restore =
             WriteSettingsDifferences(device, wanted, held, SenderFor(device, tries));
         if (!restore.outcome.Ok()) {
           const std::string done = "written: " + Listed(restore.written) +
                                    "; not written: " + Listed(restore.notWritten);
           throw TOutcomeError(restore.outcome, restore.failedReadingBack
                                                    ? " (reading back after writing; " + done + ")"
                                                    : " (" + done + ")");
         }
         if (!restore.readBack.empty())
           throw TAnswerError("read back other than written: " + ReadBackText(restore.readBack) +
                              " (written: " + Listed(restore.written) + ")");
         return true;
       }}};
}

}  // namespace

TCtlAction PrepareGetAll(const TCommandArgs& args) {
  ExpectCount(args, 0, 0);
  return GetAllAction(args.requestTries);
}

TCtlAction PrepareBackup(const TCommandArgs& args) {
  ExpectCount(args, 0, 1);
  const std::optional<std::string> file =
      args.Count() == 1 ? std::optional(args.Value(0)) : std::nullopt;
  return BackupAction(file, args.options, args.requestTries);
}

TCtlAction PrepareDiff(const TCommandArgs& args) {
  ExpectCount(args, 1, 1);
  return DiffAction(SettingsFile(args.Value(0)), args.requestTries);
}

// The command's own option comes before the file, read by a parser of its own.
TCtlAction PrepareRestore(const TCommandArgs& args) {
  QCommandLineParser parser;
  const QCommandLineOption dryRun("dry-run");
  parser.addOption(dryRun);
  if (!parser.parse(QStringList{"restore"} + args.values)) Refuse(ParserError(parser));
  const QStringList files = parser.positionalArguments();
  if (files.size() != 1) ExpectCount({args.command, files, args.options, args.requestTries}, 1, 1);
  return RestoreAction(SettingsFile(files[0].toStdString()), parser.isSet(dryRun),
                       args.requestTries);
}

}  // namespace zorvid::ctl
