#pragma once

#include <QString>
#include <string>
#include <vector>

#include "core/Types.h"

namespace zorvid {

// One connection that succeeded: the connection string the line was opened with and the
// display's address.
struct TRecentConnection {
  std::string connection;
  TByte address = 0;
  friend bool operator==(const TRecentConnection&, const TRecentConnection&) = default;
};

// The last connections that succeeded, newest first, each once (a string with another address
// is another connection), at most kCapacity, kept in a settings file so that they outlive the
// program. Several programs may share the file: each adds to what the file holds then.
//
// A file that cannot be read or parsed is ignored with a warning naming the file and QSettings'
// status, and so is an entry without a string or with an address outside 0..255: what is left is
// used, and the next Add writes the file anew.
//
// Threads: the user-interface thread only.
class TRecentConnections {
 public:
  static constexpr std::size_t kCapacity = 8;

  // Reads the list from the settings file at `path`.
  explicit TRecentConnections(QString path);

  const std::vector<TRecentConnection>& Entries() const { return entries_; }
  // Reads the file again, puts `entry` first, drops an older copy of it and what falls beyond
  // kCapacity, and writes the file. A file that cannot be written is warned about; the list
  // still holds the entry until the program ends.
  void Add(const TRecentConnection& entry);
  const QString& Path() const { return path_; }

 private:
  void Read();
  void Write();

  const QString path_;
  std::vector<TRecentConnection> entries_;
  bool damaged_ = false;  // the file could not be parsed, and has not been written since
};

// The user's settings file of the program: QSettings' default file for the organisation and
// application names the program has set (on Linux under $XDG_CONFIG_HOME, else ~/.config).
QString UserSettingsPath();

}  // namespace zorvid
