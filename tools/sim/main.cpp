// zorvid-sim: a Zorvid display in software, for demonstrations and end-to-end tests.
//
// Single-threaded: main sets up the displays, the responder and the lines and then runs the
// lines' poll loop; the signal handler only writes one byte to the loop's stop pipe.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <deque>
#include <exception>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "tools/sim/SimDisplay.h"
#include "tools/sim/SimLines.h"
#include "tools/sim/SimOptions.h"
#include "tools/sim/SimResponder.h"

namespace {

volatile std::sig_atomic_t gStopFd = -1;

extern "C" void OnStopSignal(int) {
  const char byte = 's';
  [[maybe_unused]] const ssize_t written = write(gStopFd, &byte, 1);
}

void InstallSignalHandlers(int stopFd) {
  gStopFd = stopFd;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

int Simulate(zorvid::sim::TSimOptions options) {
  using namespace zorvid::sim;
  const std::uint32_t seed = options.seed.value_or(std::random_device{}());
  // A deque, whose elements stay where they are while the responder points at them.
  std::deque<TSimDisplay> displays;
  std::vector<TSimDisplay*> line;
  for (const TSimDisplayConfig& config : DisplayConfigs(options, seed))
    line.push_back(&displays.emplace_back(config));
  TSimResponder responder(std::move(line), options.faults, seed);
  TSimLines lines(responder, options.lines, std::cout);
  lines.Open();
  InstallSignalHandlers(lines.StopFd());
  lines.Run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  zorvid::sim::TSimOptions options;
  try {
    options = zorvid::sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const zorvid::sim::ESimOptionError& error) {
    std::cerr << "zorvid-sim: " << error.what() << "\nTry 'zorvid-sim --help'.\n";
    return 2;
  }
  if (options.help) {
    std::cout << zorvid::sim::SimUsage();
    return 0;
  }
  if (options.version) {
    std::cout << "zorvid-sim " << ZORVID_SIM_VERSION << "\n";
    return 0;
  }
  try {
    return Simulate(std::move(options));
  } catch (const std::exception& error) {
    std::cerr << "zorvid-sim: " << error.what() << "\n";
    return 1;
  }
}
