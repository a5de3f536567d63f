#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zorvid::test {

// Settings "NAME=VALUE" that a child gets on top of (or instead of) the test's environment.
using TEnvironment = std::vector<std::string>;

struct TProcessResult {
  int exitCode = -1;  // 128 + signal for a killed process
  std::string out, err;
};

// Runs a program to its end with both outputs collected; past `limit` it is killed and the
// error output says so. The default is far beyond any run of the tools here, under the thread
// sanitizer on a busy machine included: only a program that hangs meets it.
TProcessResult RunProcess(std::vector<std::string> args, const TEnvironment& environment = {},
                          std::chrono::milliseconds limit = std::chrono::seconds(30));

// A program running beside the test, stopped (SIGTERM, then SIGKILL) when the object goes.
// Its error output is the test's; its standard output is dropped or, when asked for, read line
// by line (a child that writes more than a pipe holds waits until it is read).
class TChildProcess {
 public:
  enum class TOutput { kDropped, kRead };

  TChildProcess() = default;
  ~TChildProcess() { Stop(); }
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // False when the program could not be started.
  bool Start(std::vector<std::string> args, TOutput output = TOutput::kDropped);
  // The next line of its standard output, without the line break; nothing when no whole line
  // came within `limit` or the output ended.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  // Reaps the program when it ended within `limit`.
  bool ExitedWithin(std::chrono::milliseconds limit);
  void Stop();
  bool Running() const { return pid_ > 0; }
  // Stops the program where it is (SIGSTOP) and lets it go on (SIGCONT); a paused program
  // reads and answers nothing, but its connections stay open.
  void Pause(bool paused);

 private:
  void CloseOutput();

  pid_t pid_ = -1;
  int outFd_ = -1;
  std::string pending_;  // output read past the last line handed out
};

}  // namespace zorvid::test
