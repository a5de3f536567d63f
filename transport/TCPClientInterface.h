#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "transport/SockClientInterface.h"

class QTcpSocket;

namespace zorvid {

// The socket's own error: a setting changed while it is connected.
class ESocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ITCPClientInterface : public virtual ISockClientInterface {};

inline constexpr TInterfaceId IID_ITCPClientInterface =
    MakeInterfaceId<ITCPClientInterface>("{6B699CD5-BA76-420E-876E-C9F7B8903638}");

// Shows the TCP settings dialog with a host and port; true when the user confirmed, with the
// chosen values written back. Installed by the user interface.
using TTcpSetupHook = bool (*)(std::string& host, std::uint16_t& port);
void SetTcpSetupHook(TTcpSetupHook hook);

// The transport over a TCP connection, provider "TCP_CLIENT". The socket is made anew on
// every open and goes on every close.
//
// Threads: everything runs on the main thread, the one running the Qt event loop: the
// socket's notifications, and so DoOpen, DoClose and DoDataRcv, arrive there. Open waits up to
// 1500 ms for the connection on the socket itself, delivering no other event. A blocking request on
// the main thread counts and reads what the system holds without the event loop (InBuffUsed pulls
// it in), and no readable notification hands those bytes to the receive path meanwhile. A close by
// the peer met there ends the request at once (IsLineClosed) and is announced once the event loop
// runs again. Every field is touched only on the main thread.
class TTCPClientInterface final : public TSockClientCoreInterface,
                                  public virtual ITCPClientInterface {
 public:
  TTCPClientInterface();
  ~TTCPClientInterface() override;

  bool GetActive() override;
  std::string GetConnectionName() override;
  std::string GetConfiguration() override;
  std::int32_t InBuffUsed() override;
  // Waits on the socket itself, so the bytes stay for the caller and no readable
  // notification hands them to the receive path.
  bool WaitForData(std::int32_t timeoutMs) override;
  void SetPortEnabled(bool value) override;

  std::string GetHost() override { return host_; }
  void SetHost(const std::string& host) override;
  std::uint16_t GetPort() override { return port_; }
  void SetPort(std::uint16_t port) override;
  std::int32_t GetLocalPort() override;

  bool HasSetup() override { return true; }
  bool Setup() override;

 protected:
  bool InternalOpen() override;
  bool InternalClose(bool force) override;
  std::int32_t InternalWrite(const TByteString& data) override;
  TByteString InternalRead() override;
  // Keys "host", "port", "active": the connection is closed, the keys applied, and it is
  // opened again when "active" says so or, without "active", when it was open before.
  bool ApplyConfiguration(const std::string& text) override;
  void BeforeDestruction() noexcept override;

 private:
  void CreateSocket();
  void DestroySocket();
  // Pulls what the system holds into the socket's buffer without the event loop, keeping the
  // readable notification quiet meanwhile; waits up to `waitMs` for bytes when none are there.
  void PullPending(int waitMs = 0);
  // Why the open failed: host, port and the socket's error (or the time waited).
  std::string OpenFailureReason() const;
  // Refuses a change of a connected socket's peer.
  void CheckChangeable(const std::string& host, std::uint16_t port);

  void OnConnected();
  void OnDisconnected();
  void OnReadyRead();
  void OnError(int code);

  QTcpSocket* socket_ = nullptr;
  bool connecting_ = false;
  bool connected_ = false;  // between the connected and the disconnected notification
  struct TSocketError {
    int code = -1;  // QAbstractSocket::UnknownSocketError: none came
    std::string text;
  };
  TSocketError socketError_;         // the last error of the connect under way
  bool pulling_ = false;             // inside PullPending: readable notifications are the puller's
  bool announcementQueued_ = false;  // PullPending's announcement of unread bytes waits to run
  // Depth of socket notifications being handled; shared with the socket's connections.
  std::shared_ptr<int> inNotification_ = std::make_shared<int>(0);
  std::string host_;
  std::uint16_t port_ = 0;
};

// Registers / unregisters the transport under "TCP_CLIENT".
void RegisterTcpClientTransport();
void UnregisterTcpClientTransport();

}  // namespace zorvid
