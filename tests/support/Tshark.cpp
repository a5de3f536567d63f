#include "tests/support/Tshark.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/ChildProcess.h"

namespace zorvid::test {

const std::vector<std::string> kKorvelFields{"frame.protocols",
                                             "korvel.direction",
                                             "korvel.address",
                                             "korvel.sig",
                                             "korvel.instruction.name",
                                             "korvel.acknowledge",
                                             "korvel.request.instruction",
                                             "korvel.checksum.status",
                                             "korvel.noise",
                                             "_ws.col.Info",
                                             "_ws.expert.message",
                                             "_ws.malformed",
                                             "_ws.lua.error"};

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream directories(path ? path : "");
  for (std::string directory; std::getline(directories, directory, ':');) {
    const std::string candidate = directory + "/" + program;
    if (!directory.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

TDissection DissectKorvel(const std::string& tshark, const std::string& dissector,
                          const std::string& file, const std::string& home) {
  std::vector<std::string> args{tshark, "-X", "lua_script:" + dissector, "-r", file};
  args.insert(args.end(), {"-T", "fields", "-E", "separator=\t"});
  for (const std::string& field : kKorvelFields)
    args.insert(args.end(), {"-e", field});
  const TProcessResult result = RunProcess(args, {"HOME=" + home});
  TDissection dissection{{}, result.exitCode, result.err};
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    TFrame frame;
    std::istringstream values(line);
    for (const std::string& field : kKorvelFields)
      std::getline(values, frame[field], '\t');
    dissection.frames.push_back(frame);
  }
  return dissection;
}

}  // namespace zorvid::test
