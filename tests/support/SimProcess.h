#pragma once

// zorvid-sim as built (ZORVID_SIM_PATH), listening on a loopback port it picks itself and
// announces, so no other program can take the port between a choice and the listen. It announces
// its line within milliseconds of its start (a sanitizer build within a fraction of a second);
// kStartLimit is only met by a simulator that does not come up.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace zorvid::test {

inline constexpr std::chrono::seconds kStartLimit{20};

class TSimProcess {
 public:
  // A test failure when the simulator does not start or names no port within kStartLimit.
  explicit TSimProcess(const std::vector<std::string>& options = {}) {
    std::vector<std::string> args{ZORVID_SIM_PATH, "--tcp", "127.0.0.1:0"};
    args.insert(args.end(), options.begin(), options.end());
    if (!process_.Start(args, TChildProcess::TOutput::kRead)) {
      ADD_FAILURE() << "cannot start " << ZORVID_SIM_PATH;
      return;
    }
    while (port_ == 0) {
      const std::optional<std::string> line = process_.ReadLine(kStartLimit);
      if (!line) break;
      if (line->starts_with("TCP ")) port_ = std::stoi(line->substr(line->rfind(':') + 1));
    }
    EXPECT_NE(port_, 0) << "zorvid-sim printed no TCP port";
  }

  std::string Connection() const {
    return "provider=TCP_CLIENT;host=127.0.0.1;port=" + std::to_string(port_);
  }
  int Port() const { return port_; }
  // The next line the simulator prints (its --log), nothing when none came within `limit`.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit) {
    return process_.ReadLine(limit);
  }
  // The simulator ends, and with it every connection to it.
  void Stop() { process_.Stop(); }
  // A paused simulator answers nothing until it goes on; its connections stay open.
  void Pause(bool paused) { process_.Pause(paused); }

 private:
  TChildProcess process_;
  int port_ = 0;
};

// zorvid-sim on a pseudo-terminal of its own, reached through the serial transport; with
// `link`, through that symbolic link to it (the simulator removes the link when it ends).
class TSimPty {
 public:
  // A test failure when the simulator does not start or names no terminal within kStartLimit.
  explicit TSimPty(const std::vector<std::string>& options = {}, const std::string& link = {}) {
    std::vector<std::string> args{ZORVID_SIM_PATH, "--pty"};
    if (!link.empty()) args.push_back(link);
    args.insert(args.end(), options.begin(), options.end());
    if (!process_.Start(args, TChildProcess::TOutput::kRead)) {
      ADD_FAILURE() << "cannot start " << ZORVID_SIM_PATH;
      return;
    }
    const std::optional<std::string> announced = process_.ReadLine(kStartLimit);
    EXPECT_TRUE(announced && announced->starts_with("PTY ")) << "no pseudo-terminal named";
    if (announced) path_ = link.empty() ? announced->substr(4) : link;
  }

  const std::string& Path() const { return path_; }
  std::string Connection() const { return "provider=SERIAL_PORT;device=" + path_; }
  // The simulator ends, and its terminal with it.
  void Stop() { process_.Stop(); }

 private:
  TChildProcess process_;
  std::string path_;
};

}  // namespace zorvid::test
