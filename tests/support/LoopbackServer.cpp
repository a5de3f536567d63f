#include "tests/support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace zorvid::test {
namespace {

constexpr int kPollMs = 5;

sockaddr_in LoopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// A socket listening on 127.0.0.1 at an ephemeral port, which goes to `port`, with room for
// `backlog` connections that wait to be accepted.
int ListenOnLoopback(std::uint16_t& port, int backlog = 4) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("cannot listen on 127.0.0.1 with backlog " + std::to_string(backlog) +
                             ": errno " + std::to_string(errno));
  port = ntohs(address.sin_port);
  return fd;
}

bool Readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, kPollMs) > 0;
}

}  // namespace

TLoopbackServer::TLoopbackServer(TResponder responder) : responder_(std::move(responder)) {
  listener_ = ListenOnLoopback(port_);
  thread_ = std::thread(&TLoopbackServer::Serve, this);
}

TFlood::TFlood(TLoopbackServer& server)
    : thread_([this, &server] {
        TByteString noise(1 << 16, '\0');
        for (std::size_t i = 0; i < noise.size(); ++i)
          noise[i] = static_cast<char>(i * 131 + 7);
        while (flooding_)
          server.Send(noise);
      }) {}

TFlood::~TFlood() {
  Stop();
  thread_.join();
}

TLoopbackServer::~TLoopbackServer() {
  stop_ = true;
  thread_.join();
  DropClient();
  ::close(listener_);
}

std::uint16_t TLoopbackServer::UnusedPort() {
  std::uint16_t port = 0;
  ::close(ListenOnLoopback(port));
  return port;
}

void TLoopbackServer::Send(const TByteString& bytes) {
  std::lock_guard guard(mutex_);
  if (client_ >= 0) (void)::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void TLoopbackServer::DropClient() {
  std::lock_guard guard(mutex_);
  if (client_ >= 0) ::close(client_);
  client_ = -1;
}

TByteString TLoopbackServer::Received() {
  std::lock_guard guard(mutex_);
  return received_;
}

void TLoopbackServer::Serve() {
  while (!stop_) {
    int client;
    {
      std::lock_guard guard(mutex_);
      client = client_;
    }
    if (client < 0) {
      if (!Readable(listener_)) continue;
      const int accepted = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (accepted < 0) continue;
      std::lock_guard guard(mutex_);
      client_ = accepted;
      ++accepted_;
      continue;
    }
    if (!Readable(client)) continue;
    char chunk[4096];
    std::lock_guard guard(mutex_);
    if (client_ != client) continue;  // dropped meanwhile
    const auto count = ::recv(client, chunk, sizeof chunk, MSG_DONTWAIT);
    if (count == 0) {  // the client went away
      ::close(client_);
      client_ = -1;
      continue;
    }
    if (count < 0) continue;
    const TByteString bytes(chunk, static_cast<std::size_t>(count));
    received_ += bytes;
    if (!responder_) continue;
    const TByteString reply = responder_(bytes);
    if (!reply.empty()) (void)::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
  }
}

TFullListener::TFullListener() : listener_(ListenOnLoopback(port_, 0)) {
  const sockaddr_in address = LoopbackAddress(port_);
  for (int& filler : fillers_) {
    filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    (void)::connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
}

TFullListener::~TFullListener() {
  for (const int filler : fillers_)
    ::close(filler);
  ::close(listener_);
}

}  // namespace zorvid::test
