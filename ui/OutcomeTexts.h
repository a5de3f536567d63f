#pragma once

// The window's words for the settings' keys and for how a procedure ended: the outcome's kind
// and step in the window's language, the stack's and the system's own reason framed by a
// translated sentence.

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "device/ZorvidRules.h"
#include "link/Outcome.h"
#include "link/SettingsSnapshot.h"

namespace zorvid {

// A settings file's key or group as the window names it ("brightness-auto.min": "minimální jas").
QString KeyName(const std::string& key);
QStringList KeyNameList(const std::vector<std::string>& keys);
// A value as the file writes it, in words: "ano" and "ne" for a flag.
QString ValueText(const std::string& value);
// "časový posun (odesláno 120, přečteno 0); ..."
QString ReadBackText(const std::vector<TSettingChange>& changes);

QString FieldName(TSettingField field);
// "minimální jas 30 (povoleno 6..10)"
QString ShownInvalidValue(const TInvalidValue& invalid);

// What failed and why, for the status line: "jas – displej neodpovídá".
QString OutcomeCause(const TOutcome& outcome);
// `status` with the cause after a colon instead of its final "!" or ".".
QString WithCause(const QString& status, const TOutcome& outcome);
// The step, the address, the tries and the reason the stack or the system gave, for the
// status line's details.
QString OutcomeDetails(const TOutcome& outcome);

}  // namespace zorvid
