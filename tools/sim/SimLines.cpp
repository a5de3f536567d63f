#include "tools/sim/SimLines.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "core/HexText.h"
#include "protocol/Korvel97.h"
#include "transport/serial/SerialBaudLinux.h"

namespace zorvid::sim {
namespace {

// Bytes waiting for a reader that does not read are dropped beyond this, so a pseudo-terminal
// nobody has opened cannot make the simulator grow.
constexpr std::size_t kOutputLimit = 0x10000;
constexpr int kListenBacklog = 8;
constexpr std::size_t kReadChunk = 4096;

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

void MakeNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

std::string EndpointText(const std::string& host, std::uint16_t port) {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::uint16_t BoundPort(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

// A listening socket on the first address of `host` that takes it; -1 when none does.
int Listen(const addrinfo* candidates) {
  for (const addrinfo* at = candidates; at; at = at->ai_next) {
    const int fd = socket(at->ai_family, at->ai_socktype, at->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, at->ai_addr, at->ai_addrlen) == 0 && listen(fd, kListenBacklog) == 0) {
      MakeNonBlocking(fd);
      return fd;
    }
    const int error = errno;
    close(fd);
    errno = error;
  }
  return -1;
}

}  // namespace

TSimLines::TSimLines(TSimResponder& responder, TSimLinesConfig config, std::ostream& out)
    : responder_(responder), config_(std::move(config)), out_(out) {}

TSimLines::~TSimLines() {
  for (TLine* line : {&client_, &pty_})
    RecordWaiting(*line);
  CloseFd(client_.fd);
  CloseFd(listener_);
  CloseFd(pty_.fd);
  CloseFd(ptySlave_);
  CloseFd(stopPipe_[0]);
  CloseFd(stopPipe_[1]);
  if (ptyLink_.empty()) return;
  // Only our own link goes; someone may have replaced it meanwhile.
  std::array<char, 4096> target{};
  const ssize_t size = readlink(ptyLink_.c_str(), target.data(), target.size() - 1);
  if (size > 0 && std::string(target.data(), static_cast<std::size_t>(size)) == ptyPath_)
    unlink(ptyLink_.c_str());
}

void TSimLines::Open() {
  if (pipe(stopPipe_) != 0) throw SystemError("cannot create the stop pipe");
  MakeNonBlocking(stopPipe_[0]);
  MakeNonBlocking(stopPipe_[1]);
  if (config_.pcap) capture_.emplace(*config_.pcap);
  if (config_.tcp) OpenTcp(*config_.tcp);
  if (config_.pty) OpenPty(*config_.pty);
  if (config_.unsolicitedMs > 0)
    nextUnsolicited_ = TClock::now() + std::chrono::milliseconds(config_.unsolicitedMs);
}

void TSimLines::OpenTcp(const TTcpEndpoint& endpoint) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* candidates = nullptr;
  const std::string where = EndpointText(endpoint.host, endpoint.port);
  const int lookup = getaddrinfo(endpoint.host.c_str(), std::to_string(endpoint.port).c_str(),
                                 &hints, &candidates);
  if (lookup != 0)
    throw std::runtime_error("cannot resolve TCP address " + where + ": " + gai_strerror(lookup));
  listener_ = Listen(candidates);
  freeaddrinfo(candidates);
  if (listener_ < 0) throw SystemError("cannot listen on TCP " + where);
  tcpPort_ = BoundPort(listener_);
  Announce("TCP " + EndpointText(endpoint.host, tcpPort_));
}

void TSimLines::OpenPty(const std::string& link) {
  if (openpty(&pty_.fd, &ptySlave_, nullptr, nullptr, nullptr) != 0)
    throw SystemError("cannot create a pseudo-terminal");
  const char* path = ttyname(ptySlave_);
  if (!path) throw SystemError("cannot name the new pseudo-terminal");
  ptyPath_ = path;
  termios raw{};
  tcgetattr(ptySlave_, &raw);
  cfmakeraw(&raw);
  if (tcsetattr(ptySlave_, TCSANOW, &raw) != 0)
    throw SystemError("cannot set raw mode on " + ptyPath_);
  const std::int32_t baud = responder_.Baud();
  if (!SetAnyBaudRate(ptySlave_, baud))
    throw SystemError("cannot set " + std::to_string(baud) + " Bd on " + ptyPath_);
  MakeNonBlocking(pty_.fd);
  fcntl(ptySlave_, F_SETFD, FD_CLOEXEC);
  if (!link.empty()) {
    struct stat existing {};
    if (lstat(link.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) unlink(link.c_str());
    if (symlink(ptyPath_.c_str(), link.c_str()) != 0)
      throw SystemError("cannot create the link " + link + " to " + ptyPath_);
    ptyLink_ = link;
  }
  Announce("PTY " + ptyPath_);
}

void TSimLines::Announce(const std::string& line) {
  out_ << line << std::endl;
}

void TSimLines::Run() {
  while (Step(std::numeric_limits<int>::max())) {
  }
}

bool TSimLines::Step(int maxWaitMs) {
  std::vector<pollfd> polled{{stopPipe_[0], POLLIN, 0}};
  // A client being served keeps the next one waiting in the listen queue.
  const int acceptor = client_.fd < 0 ? listener_ : -1;
  polled.push_back({acceptor, POLLIN, 0});
  for (const TLine* line : {&client_, &pty_})
    polled.push_back(
        {line->fd, static_cast<short>(POLLIN | (line->output.empty() ? 0 : POLLOUT)), 0});

  if (poll(polled.data(), polled.size(), PollTimeout(maxWaitMs, TClock::now())) < 0 &&
      errno != EINTR)
    throw SystemError("poll failed");

  if (polled[0].revents) stopping_ = true;
  if (polled[1].revents) AcceptClient();
  TLine* lines[] = {&client_, &pty_};
  for (std::size_t i = 0; i < 2; ++i) {
    if (polled[i + 2].revents & POLLOUT) Flush(*lines[i]);
    if (polled[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) Receive(*lines[i]);
  }
  ReleaseDue(TClock::now());
  return !stopping_;
}

int TSimLines::PollTimeout(int maxWaitMs, TClock::time_point now) const {
  std::optional<TClock::time_point> due = nextUnsolicited_;
  for (const TLine* line : {&client_, &pty_})
    if (!line->delayed.empty() && (!due || line->delayed.front().first < *due))
      due = line->delayed.front().first;
  if (!due) return maxWaitMs;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - now).count();
  return static_cast<int>(std::clamp<long long>(wait, 0, maxWaitMs));
}

void TSimLines::AcceptClient() {
  const int fd = accept(listener_, nullptr, nullptr);
  if (fd < 0) return;  // the peer gave up before we got to it
  MakeNonBlocking(fd);
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  client_.fd = fd;
  client_.socket = true;
}

void TSimLines::Receive(TLine& line) {
  if (line.fd < 0) return;  // hung up while writing
  char buffer[kReadChunk];
  const ssize_t size = read(line.fd, buffer, sizeof buffer);
  if (size < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (size <= 0) return Hangup(line);
  const auto now = TClock::now();
  // The master of a pseudo-terminal sees the speed its other side set: a display hears only a
  // line at its own speed. A socket has none.
  const std::optional<std::int32_t> baud = line.socket ? std::nullopt : ReadBaudRate(line.fd);
  std::vector<TTrafficRecord> records;
  line.cutter.Cut(TTrafficDirection::kToDisplay,
                  std::string_view(buffer, static_cast<std::size_t>(size)),
                  std::chrono::system_clock::now(), records);
  Record(records);
  for (const TTrafficRecord& record : records) {
    if (record.kind != TTrafficRecord::TKind::kPacket) continue;
    Log("<", record.bytes);
    TKorvelFormat97 request;
    ParsePacket97(record.bytes, request);
    if (auto answer = responder_.Respond(request, baud)) Schedule(line, std::move(*answer), now);
  }
}

// A TCP client that went away frees the line for the next one. The pseudo-terminal cannot hang
// up while we hold its other end; should it fail all the same, it is closed rather than polled
// in a busy loop.
void TSimLines::Hangup(TLine& line) {
  if (!line.socket) std::fprintf(stderr, "zorvid-sim: the line %s failed\n", ptyPath_.c_str());
  CloseFd(line.fd);
  RecordWaiting(line);
  line.delayed.clear();
  line.output.clear();
}

void TSimLines::Schedule(TLine& line, TByteString packet, TClock::time_point now) {
  if (config_.delayMs <= 0) return Send(line, packet);
  line.delayed.emplace_back(now + std::chrono::milliseconds(config_.delayMs), std::move(packet));
}

void TSimLines::Send(TLine& line, const TByteString& packet) {
  if (line.fd < 0 || line.output.size() + packet.size() > kOutputLimit) return;
  Log(">", packet);
  Record(CutChunk(TTrafficDirection::kFromDisplay, packet, std::chrono::system_clock::now()));
  line.output += packet;
  Flush(line);
}

void TSimLines::Flush(TLine& line) {
  while (!line.output.empty()) {
    const ssize_t written =
        line.socket ? send(line.fd, line.output.data(), line.output.size(), MSG_NOSIGNAL)
                    : write(line.fd, line.output.data(), line.output.size());
    if (written < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (written <= 0) return Hangup(line);
    line.output.erase(0, static_cast<std::size_t>(written));
  }
}

void TSimLines::ReleaseDue(TClock::time_point now) {
  for (TLine* line : {&client_, &pty_}) {
    while (!line->delayed.empty() && line->delayed.front().first <= now) {
      const TByteString packet = std::move(line->delayed.front().second);
      line->delayed.pop_front();
      Send(*line, packet);
    }
  }
  if (!nextUnsolicited_ || *nextUnsolicited_ > now) return;
  for (TLine* line : {&client_, &pty_})
    Send(*line, responder_.UnsolicitedPacket());
  // After a stall the timer starts afresh instead of sending the missed packets in a burst.
  const auto period = std::chrono::milliseconds(config_.unsolicitedMs);
  *nextUnsolicited_ += period;
  if (*nextUnsolicited_ <= now) *nextUnsolicited_ = now + period;
}

void TSimLines::Log(const char* direction, std::string_view packet) {
  if (config_.log) out_ << direction << ' ' << FormatHexSpaced(packet) << std::endl;
}

// What waited for the rest of a request never gets it once the line closes or the simulator
// ends.
void TSimLines::RecordWaiting(TLine& line) {
  std::vector<TTrafficRecord> unfinished;
  line.cutter.Flush(std::chrono::system_clock::now(), unfinished);
  Record(unfinished);
}

// A capture that cannot be written any more is reported once; the display goes on answering.
void TSimLines::Record(const std::vector<TTrafficRecord>& records) {
  if (!capture_ || records.empty() || !capture_->Failure().empty()) return;
  if (!capture_->Write(records))
    std::fprintf(stderr, "zorvid-sim: %s\n", capture_->Failure().c_str());
}

}  // namespace zorvid::sim
