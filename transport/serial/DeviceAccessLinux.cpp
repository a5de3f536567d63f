// Why a device's owner, group and mode refuse this process, from the user and group databases.
#include "transport/serial/DeviceAccessLinux.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <vector>

namespace zorvid {
namespace {

// A user or group database entry by number, retried with a larger buffer while it does not fit.
template <typename TEntry, typename TId, typename TLookup>
std::optional<TEntry> DatabaseEntry(TId id, int sizeHint, TLookup lookup,
                                    std::vector<char>& storage) {
  const long hinted = sysconf(sizeHint);
  storage.resize(hinted > 0 ? static_cast<std::size_t>(hinted) : 1024);
  TEntry entry{};
  TEntry* found = nullptr;
  int error = 0;
  while ((error = lookup(id, &entry, storage.data(), storage.size(), &found)) == ERANGE)
    storage.resize(storage.size() * 2);
  if (error != 0 || !found) return std::nullopt;
  return entry;
}

struct TUserRecord {
  std::string name;
  gid_t primaryGroup;
};

std::optional<TUserRecord> UserRecord(uid_t uid) {
  std::vector<char> storage;
  const auto entry = DatabaseEntry<passwd>(uid, _SC_GETPW_R_SIZE_MAX, getpwuid_r, storage);
  if (!entry) return std::nullopt;
  return TUserRecord{entry->pw_name, entry->pw_gid};
}

std::optional<std::string> GroupName(gid_t gid) {
  std::vector<char> storage;
  const auto entry = DatabaseEntry<group>(gid, _SC_GETGR_R_SIZE_MAX, getgrgid_r, storage);
  if (!entry) return std::nullopt;
  return std::string(entry->gr_name);
}

// `user "tech"` or `group "dialout"`, or the number when the database has no name for it.
std::string EntryText(const char* kind, const std::optional<std::string>& name, unsigned id) {
  return std::string(kind) + " " + (name ? "\"" + *name + "\"" : std::to_string(id));
}

std::string UserText(uid_t uid) {
  const auto record = UserRecord(uid);
  return EntryText("user", record ? std::optional(record->name) : std::nullopt, uid);
}

std::string GroupText(gid_t gid) {
  return EntryText("group", GroupName(gid), gid);
}

bool ProcessHasGroup(gid_t gid) {
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
  const int filled = getgroups(static_cast<int>(groups.size()), groups.data());
  groups.resize(static_cast<std::size_t>(std::max(filled, 0)));
  return getegid() == gid || std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// Membership by the group database, which a login session reads only when it starts.
bool UserIsListedInGroup(const TUserRecord& user, gid_t gid) {
  int count = 16;
  std::vector<gid_t> groups;
  do {
    groups.resize(static_cast<std::size_t>(count));
  } while (getgrouplist(user.name.c_str(), user.primaryGroup, groups.data(), &count) < 0);
  groups.resize(static_cast<std::size_t>(count));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// The mode as a listing shows it, e.g. "crw-rw----".
std::string ModeText(mode_t mode) {
  std::string text(1, S_ISCHR(mode) ? 'c' : '-');
  constexpr std::array<mode_t, 9> kBits{S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                                        S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
  for (std::size_t bit = 0; bit < kBits.size(); ++bit)
    text += (mode & kBits[bit]) ? "rwx"[bit % 3] : '-';
  return text;
}

// Whose permission bits the kernel applies to this process: the owner's, the group's or
// everybody else's, the first that fits.
enum class TModeClass { kOwner, kGroup, kOther };

TModeClass ModeClassOf(const struct stat& status) {
  if (geteuid() == status.st_uid) return TModeClass::kOwner;
  return ProcessHasGroup(status.st_gid) ? TModeClass::kGroup : TModeClass::kOther;
}

bool ModeLetsReadAndWrite(mode_t mode, TModeClass modeClass) {
  const int shift = modeClass == TModeClass::kOwner ? 6 : modeClass == TModeClass::kGroup ? 3 : 0;
  return ((mode >> shift) & 06) == 06;
}

// The user is neither owner nor in the group, and the group may use the device: joining it
// (and the login that makes a membership count) is the remedy.
std::string GroupJoinAdvice(const struct stat& status) {
  const auto user = UserRecord(geteuid());
  const auto groupName = GroupName(status.st_gid);
  std::string text = "the device belongs to " + GroupText(status.st_gid) + " (mode " +
                     ModeText(status.st_mode) + ") and " + UserText(geteuid());
  if (user && UserIsListedInGroup(*user, status.st_gid))
    return text + " is in it, but this session does not have that membership yet; log in again";
  text += " is not in it";
  // usermod knows users and groups by the names in their databases only.
  if (!user || !groupName) return text;
  return text + "; add the user with \"sudo usermod -aG " + *groupName + " " + user->name +
         "\", then log in again";
}

// Whom the mode shuts out, worded to follow "which gives".
const char* WhomTheModeRefuses(TModeClass modeClass) {
  switch (modeClass) {
    case TModeClass::kOwner:
      return "its owner no";
    case TModeClass::kGroup:
      return "that group no";
    case TModeClass::kOther:
      break;
  }
  return "neither that group nor other users";
}

}  // namespace

std::string ModeRefusalText(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return {};
  const TModeClass modeClass = ModeClassOf(status);
  if (ModeLetsReadAndWrite(status.st_mode, modeClass)) return {};
  if (modeClass == TModeClass::kOther && ModeLetsReadAndWrite(status.st_mode, TModeClass::kGroup))
    return GroupJoinAdvice(status);
  return "the device belongs to " + UserText(status.st_uid) + " and " + GroupText(status.st_gid) +
         " (mode " + ModeText(status.st_mode) + "), which gives " + WhomTheModeRefuses(modeClass) +
         " read and write access";
}

}  // namespace zorvid
