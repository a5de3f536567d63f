#pragma once

#include <string>

namespace zorvid {

// Why the mode of the existing device `path` refuses this process read and write access, with
// the remedy where there is one (join the device's group, or log in again for a membership
// this session does not have yet); empty when the mode lets it in, so that something else
// refused the open, or when the device cannot be examined.
std::string ModeRefusalText(const std::string& path);

}  // namespace zorvid
