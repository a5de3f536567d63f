#include "ui/ProgramVersion.h"

#ifndef ZORVID_HOMEPAGE_URL
#error "ZORVID_HOMEPAGE_URL must be defined by the build"
#endif

namespace zorvid {

QString FileVersionText(const TFileVersion& version) {
  return QStringLiteral("%1.%2.%3.%4")
      .arg(version.mostSignificant >> 16)
      .arg(version.mostSignificant & 0xFFFFu)
      .arg(version.leastSignificant >> 16)
      .arg(version.leastSignificant & 0xFFFFu);
}

QUrl ProgramHomePage() {
  return QUrl(QStringLiteral(ZORVID_HOMEPAGE_URL));
}

}  // namespace zorvid
