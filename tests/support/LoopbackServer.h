#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "core/Types.h"

namespace zorvid::test {

// A TCP server on 127.0.0.1 with an ephemeral port, serving one client at a time on a thread
// of its own, so that it answers while the main thread is blocked in a request. Every chunk it
// receives goes to the responder, whose result (if any) is sent back.
class TLoopbackServer {
 public:
  using TResponder = std::function<TByteString(const TByteString& received)>;

  explicit TLoopbackServer(TResponder responder = {});
  ~TLoopbackServer();
  TLoopbackServer(const TLoopbackServer&) = delete;
  TLoopbackServer& operator=(const TLoopbackServer&) = delete;

  std::uint16_t Port() const { return port_; }
  // Sends bytes to the connected client (if any).
  void Send(const TByteString& bytes);
  // Closes the current client's connection from the server's side.
  void DropClient();
  int Accepted() const { return accepted_; }
  // Everything received so far from all clients.
  TByteString Received();

  // A loopback port nobody listens on.
  static std::uint16_t UnusedPort();

 private:
  void Serve();

  TResponder responder_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  int client_ = -1;       // guarded by mutex_
  TByteString received_;  // guarded by mutex_
  std::thread thread_;
};

// A peer that floods the line: sends noise to the server's client from a thread of its own
// until stopped. A send blocked on a full line ends when the client closes its end, so the
// owner stops the flood, closes the client and then lets the flood go (which joins its thread).
class TFlood {
 public:
  explicit TFlood(TLoopbackServer& server);
  ~TFlood();
  TFlood(const TFlood&) = delete;
  TFlood& operator=(const TFlood&) = delete;

  void Stop() { flooding_ = false; }

 private:
  std::atomic<bool> flooding_{true};
  std::thread thread_;
};

// A listener on 127.0.0.1 whose queue is full: the kernel drops further connection requests
// unanswered.
class TFullListener {
 public:
  TFullListener();
  ~TFullListener();
  TFullListener(const TFullListener&) = delete;
  TFullListener& operator=(const TFullListener&) = delete;

  std::uint16_t Port() const { return port_; }

 private:
  std::uint16_t port_ = 0;  // before listener_, whose set-up fills it in
  int listener_ = -1;
  int fillers_[4] = {-1, -1, -1, -1};  // the connections that fill the queue
};

}  // namespace zorvid::test
