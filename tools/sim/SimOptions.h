#pragma once

// The simulator's command line.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/sim/SimDisplay.h"
#include "tools/sim/SimLines.h"
#include "tools/sim/SimResponder.h"

namespace zorvid::sim {

struct TSimOptions {
  TSimDisplayConfig display;
  TSimFaults faults;
  TSimLinesConfig lines;
  std::optional<std::uint32_t> seed;
  bool help = false;
  bool version = false;
};

// A bad command line; what() names the option and the value.
class ESimOptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `args` without the program name. Without --tcp or --pty the simulator listens on TCP
// 127.0.0.1:10001. Throws ESimOptionError.
TSimOptions ParseSimOptions(const std::vector<std::string>& args);

std::string SimUsage();

}  // namespace zorvid::sim
