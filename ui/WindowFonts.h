#pragma once
// The fonts the window asks for by name. Each names first a free family that Debian packages and
// that has the metrics of the family the layout was drawn for, and that family second, so that
// the same text takes the same room on every desktop, whatever else fontconfig would substitute
// (a desktop with printing maps "Arial" to Nimbus Sans, whose glyphs are wider).
#include <QFont>

namespace zorvid {

// The address list's notations: Liberation Sans (fonts-liberation2), metric-compatible with
// Arial, at `pointSize`.
QFont AddressListFont(int pointSize);

// The time prefix of a log line: DejaVu Sans Mono (fonts-dejavu-core) at 6 pt, the system's
// fixed font where it is missing.
QFont LogPrefixFont();

// The text of a log line: Carlito (fonts-crosextra-carlito), metric-compatible with Calibri, at
// 10 pt, the system's general font where it is missing.
QFont LogTextFont();

}  // namespace zorvid
