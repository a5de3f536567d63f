#include "tools/ctl/CtlSettings.h"

#include <QDateTime>
#include <QSaveFile>
#include <QString>
#include <algorithm>
#include <memory>
#include <vector>

#include "core/EchoText.h"
#include "link/Capabilities.h"
#include "link/DisplayConnection.h"
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

void WriteFile(const std::string& file, const std::string& text) {
  QSaveFile out(QString::fromStdString(file));
  if (!out.open(QIODevice::WriteOnly) ||
      out.write(text.data(), static_cast<qint64>(text.size())) !=
          static_cast<qint64>(text.size()) ||
      !out.commit())
    throw std::runtime_error("cannot write " + Quoted(file) + ": " +
                             out.errorString().toStdString());
}

}  // namespace

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
             WriteFile(*file, json);
             result = {TLayout::kSilent, {TextField("file", *file)}, kExitOk};
             return true;
           }}};
}

TCtlAction DiffAction(const TSettingsSnapshot& snapshot, int tries) {
  return {{TStep::kNone, [wanted = snapshot.settings, tries](TZorvid& device, TCtlResult& result) {
             const TSettingsComparison comparison = CompareSettings(wanted, ReadAll(device, tries));
             result = ChangeRows(comparison.differences, "file", "display");
             AddSkipped(result, comparison.skipped);
             result.exitCode = comparison.differences.empty() ? kExitOk : kExitFailed;
             return true;
           }}};
}

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

}  // namespace zorvid::ctl
