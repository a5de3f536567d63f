#pragma once

// Capture files read back by tshark with the korvel dissector from the source tree, for the
// tests of everything that writes them.

#include <map>
#include <string>
#include <vector>

namespace zorvid::test {

// One frame as tshark prints it: the fields asked for, by name; "" for a field it lacks.
using TFrame = std::map<std::string, std::string>;

// The fields every dissection asks for.
extern const std::vector<std::string> kKorvelFields;

// The full path of `program` on PATH; empty when it is nowhere.
std::string FindOnPath(const std::string& program);

struct TDissection {
  std::vector<TFrame> frames;
  int exitCode = -1;
  std::string err;  // what tshark said on its error output
};

// Runs `tshark` on `file` with the dissector at `dissector`, with `home` as its home, so that no
// personal plugin or preference of the user's takes part.
TDissection DissectKorvel(const std::string& tshark, const std::string& dissector,
                          const std::string& file, const std::string& home);

}  // namespace zorvid::test
