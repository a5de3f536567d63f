#pragma once

#include <QString>
#include <QUrl>
#include <cstdint>
#include <optional>

namespace zorvid {

// The program file's version in its two 32-bit words: major and minor in the most significant
// word, release and build in the least significant one, each half a 16-bit number.
struct TFileVersion {
  std::uint32_t mostSignificant = 0;
  std::uint32_t leastSignificant = 0;
};

// The version of the running program, or none when the program carries no version. Each
// executable that links the user interface defines it (CMake's zorvid_program_version).
std::optional<TFileVersion> ProgramFileVersion();

// "major.minor.release.build" in decimal.
QString FileVersionText(const TFileVersion& version);

// The program's home page, which the About window's link opens.
QUrl ProgramHomePage();

}  // namespace zorvid
