#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

extern char** environ;

namespace zorvid::test {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr auto kStopGrace = 2s;  // between SIGTERM and SIGKILL

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string NameOf(const std::string& setting) {
  return setting.substr(0, setting.find('='));
}

// The test's environment with `changes` replacing the settings of the same names.
std::vector<std::string> ChildEnvironment(const TEnvironment& changes) {
  std::vector<std::string> result;
  for (char** setting = environ; *setting; ++setting) {
    const std::string name = NameOf(*setting);
    const bool replaced = std::any_of(changes.begin(), changes.end(),
                                      [&](const std::string& c) { return NameOf(c) == name; });
    if (!replaced) result.emplace_back(*setting);
  }
  result.insert(result.end(), changes.begin(), changes.end());
  return result;
}

// Starts a program with its output going to the given descriptors (-1: /dev/null).
pid_t Spawn(std::vector<std::string> args, const TEnvironment& environment, int outFd, int errFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::pair<int, int> redirections[] = {{outFd, STDOUT_FILENO}, {errFd, STDERR_FILENO}};
  for (const auto& [fd, target] : redirections) {
    if (fd < 0)
      posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_WRONLY, 0);
    else if (fd != target)
      posix_spawn_file_actions_adddup2(&actions, fd, target);
  }
  std::vector<std::string> settings = ChildEnvironment(environment);
  const std::vector<char*> argv = PointersTo(args);
  const std::vector<char*> envp = PointersTo(settings);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit code, or 128 + signal for a killed process.
int WaitExitCode(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::chrono::milliseconds Left(TClock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
}

// Reads both pipes to their end; past `limit` the process is killed.
void Drain(pid_t pid, int outFd, int errFd, std::chrono::milliseconds limit,
           TProcessResult& result) {
  const auto deadline = TClock::now() + limit;
  std::vector<pollfd> fds{{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    const auto left = Left(deadline);
    if (left <= 0ms) {
      kill(pid, SIGKILL);
      result.err += "\n[killed: no exit within the time limit]";
      return;
    }
    if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0) continue;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

TProcessResult RunProcess(std::vector<std::string> args, const TEnvironment& environment,
                          std::chrono::milliseconds limit) {
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return {};
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return {};
  }
  const pid_t pid = Spawn(std::move(args), environment, outPipe[1], errPipe[1]);
  close(outPipe[1]);
  close(errPipe[1]);
  TProcessResult result;
  if (pid > 0) {
    Drain(pid, outPipe[0], errPipe[0], limit, result);
    result.exitCode = WaitExitCode(pid);
  }
  close(outPipe[0]);
  close(errPipe[0]);
  return result;
}

bool TChildProcess::Start(std::vector<std::string> args, TOutput output) {
  Stop();
  int outPipe[2] = {-1, -1};
  if (output == TOutput::kRead && pipe2(outPipe, O_CLOEXEC) != 0) return false;
  pid_ = Spawn(std::move(args), {}, outPipe[1], STDERR_FILENO);
  if (outPipe[1] >= 0) close(outPipe[1]);
  outFd_ = outPipe[0];
  if (pid_ <= 0) {
    pid_ = -1;
    CloseOutput();
  }
  return pid_ > 0;
}

std::optional<std::string> TChildProcess::ReadLine(std::chrono::milliseconds limit) {
  const auto deadline = TClock::now() + limit;
  for (;;) {
    const auto end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    const auto left = Left(deadline);
    if (outFd_ < 0 || left <= 0ms) return std::nullopt;
    pollfd readable{outFd_, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[1024];
    const ssize_t got = read(outFd_, buffer, sizeof buffer);
    if (got <= 0) return std::nullopt;
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

bool TChildProcess::ExitedWithin(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return true;
  const auto deadline = TClock::now() + limit;
  do {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return true;
    }
    std::this_thread::sleep_for(1ms);
  } while (TClock::now() < deadline);
  return false;
}

void TChildProcess::Pause(bool paused) {
  if (pid_ > 0) kill(pid_, paused ? SIGSTOP : SIGCONT);
}

void TChildProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGCONT);  // a paused program takes no SIGTERM
    kill(pid_, SIGTERM);
    if (!ExitedWithin(kStopGrace)) {
      kill(pid_, SIGKILL);
      WaitExitCode(pid_);
      pid_ = -1;
    }
  }
  CloseOutput();
}

void TChildProcess::CloseOutput() {
  if (outFd_ >= 0) close(outFd_);
  outFd_ = -1;
  pending_.clear();
}

}  // namespace zorvid::test
