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

// One display of several on the line (--display).
struct TSimDisplayChoice {
  TByte address = kZorvidDefaultAddress;
  std::optional<std::string> ident;  // nothing: the one every display gets
};

struct TSimOptions {
  // Every display's settings; with `displays` each of them takes its own address and text.
  TSimDisplayConfig display;
  std::vector<TSimDisplayChoice> displays;
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

// The displays on the line: one from `display`, or one per --display, each with identifiers
// of its own drawn from `seed` (the first display's are those of a single display).
std::vector<TSimDisplayConfig> DisplayConfigs(const TSimOptions& options, std::uint32_t seed);

}  // namespace zorvid::sim
