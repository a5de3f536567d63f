#include "tests/support/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace zorvid::test {
namespace {

using TClock = std::chrono::steady_clock;

void MakeRaw(int handle) {
  termios terminal{};
  if (tcgetattr(handle, &terminal) != 0) return;
  cfmakeraw(&terminal);
  tcsetattr(handle, TCSANOW, &terminal);
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

TPseudoTerminal::TPseudoTerminal() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) Fail("openpty");
  slavePath_ = name;
  MakeRaw(slave_);
  MakeRaw(master_);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

TPseudoTerminal::~TPseudoTerminal() {
  CloseMaster();
  if (slave_ >= 0) close(slave_);
}

bool TPseudoTerminal::Send(std::string_view bytes, std::chrono::milliseconds timeout) {
  const auto deadline = TClock::now() + timeout;
  while (!bytes.empty()) {
    if (TClock::now() > deadline) return false;
    const ssize_t written = write(master_, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno != EAGAIN && errno != EINTR)
      Fail("write to the master of " + slavePath_);
    pollfd writable{master_, POLLOUT, 0};
    poll(&writable, 1, 10);
  }
  return true;
}

std::string TPseudoTerminal::Receive(std::size_t count, std::chrono::milliseconds timeout) {
  std::string received;
  const auto deadline = TClock::now() + timeout;
  char buffer[65536];
  while (received.size() < count) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now());
    if (left.count() <= 0) break;
    pollfd readable{master_, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t got = read(master_, buffer, std::min(sizeof buffer, count - received.size()));
    if (got > 0) received.append(buffer, static_cast<std::size_t>(got));
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
  return received;
}

int TPseudoTerminal::SlaveInputCount() const {
  int count = 0;
  return ioctl(slave_, FIONREAD, &count) == 0 ? count : -1;
}

void TPseudoTerminal::HoldOutput(bool held) {
  if (tcflow(slave_, held ? TCOOFF : TCOON) != 0) Fail("tcflow on " + slavePath_);
}

void TPseudoTerminal::CloseMaster() {
  if (master_ < 0) return;
  close(master_);
  master_ = -1;
}

TPortMapping::TPortMapping(int number, const std::string& path)
    : variable_("ZORVID_COM" + std::to_string(number)) {
  setenv(variable_.c_str(), path.c_str(), 1);
}

TPortMapping::~TPortMapping() {
  unsetenv(variable_.c_str());
}

}  // namespace zorvid::test
