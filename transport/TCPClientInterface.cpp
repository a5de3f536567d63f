#include "transport/TCPClientInterface.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#include "core/Errors.h"
#include "core/TimeoutManager.h"
#include "transport/ConnectionString.h"

namespace zorvid {
namespace {

constexpr std::int32_t kOpenWaitMs = 1500;
// Twice the largest packet: an answer never waits for the buffer to drain.
constexpr qint64 kReadBufferSize = 2 * 0x10000;

std::atomic<TTcpSetupHook> tcpSetupHook{nullptr};

// Counts the socket notifications being handled, so the socket is not deleted under one. The
// count is shared with the connections: a handler may drop the last reference to the transport
// inside a notification, and the count must outlive it.
struct TNotificationScope {
  std::shared_ptr<int> depth;
  explicit TNotificationScope(std::shared_ptr<int> counter) : depth(std::move(counter)) {
    ++*depth;
  }
  ~TNotificationScope() { --*depth; }
};

std::uint16_t PortValue(const std::string& text, std::int32_t value) {
  if (value < 0 || value > 0xFFFF)
    throw EConvertError("Connection string key \"port\": '" + text +
                        "' is not a TCP port (0..65535)");
  return static_cast<std::uint16_t>(value);
}

}  // namespace

void SetTcpSetupHook(TTcpSetupHook hook) {
  tcpSetupHook = hook;
}

TTCPClientInterface::TTCPClientInterface() : TSockClientCoreInterface("TTCPClientInterface") {
  CreateSocket();
}

TTCPClientInterface::~TTCPClientInterface() = default;

void TTCPClientInterface::BeforeDestruction() noexcept {
  if (socket_) {
    try {
      Close(true);
    } catch (...) {
      // Going away: nobody is left to tell.
    }
    DestroySocket();
  }
  TSockClientCoreInterface::BeforeDestruction();
}

void TTCPClientInterface::CreateSocket() {
  DestroySocket();
  socket_ = new QTcpSocket();
  // A display on the local network is reached directly, never through a proxy.
  socket_->setProxy(QNetworkProxy::NoProxy);
  // A peer that sends without end is held back by the system's flow control instead of
  // filling the process's memory: the socket takes no more than this before it is read.
  socket_->setReadBufferSize(kReadBufferSize);
  // The socket is the context of its connections: they go with it.
  const auto notify = [this](void (TTCPClientInterface::*handler)()) {
    return [this, handler, depth = inNotification_] {
      const TNotificationScope scope(depth);
      (this->*handler)();
    };
  };
  QObject::connect(socket_, &QTcpSocket::connected, socket_,
                   notify(&TTCPClientInterface::OnConnected));
  QObject::connect(socket_, &QTcpSocket::disconnected, socket_,
                   notify(&TTCPClientInterface::OnDisconnected));
  QObject::connect(socket_, &QTcpSocket::errorOccurred, socket_,
                   [this, depth = inNotification_](QAbstractSocket::SocketError code) {
                     const TNotificationScope scope(depth);
                     OnError(static_cast<int>(code));
                   });
}

void TTCPClientInterface::DestroySocket() {
  QTcpSocket* socket = std::exchange(socket_, nullptr);
  connected_ = false;
  announcementQueued_ = false;  // the socket's queued calls go with it
  if (!socket) return;
  QObject::disconnect(socket, nullptr, nullptr, nullptr);
  socket->abort();
  // Inside one of its own notifications the socket must outlive the emitting call.
  if (*inNotification_ > 0)
    socket->deleteLater();
  else
    delete socket;
}

void TTCPClientInterface::OnConnected() {
  QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] { OnReadyRead(); });
  connecting_ = false;
  connected_ = true;
  DoOpen();
}

void TTCPClientInterface::OnDisconnected() {
  connecting_ = false;
  connected_ = false;
  SetFailureReason("connection to " + host_ + ":" + std::to_string(port_) +
                   " closed by the other side");
  if (!pulling_) {
    DoClose();
    return;
  }
  // Inside a blocking request, which holds the stack's and the line's lock: the close is
  // announced once the event loop runs again, never under those locks. The socket is the
  // context, so a socket made anew before then (a new open) drops the stale announcement.
  QMetaObject::invokeMethod(
      socket_,
      [this, depth = inNotification_] {
        const TNotificationScope scope(depth);
        DoClose();
      },
      Qt::QueuedConnection);
}

void TTCPClientInterface::OnReadyRead() {
  if (!pulling_) DoDataRcv();
}

void TTCPClientInterface::OnError(int code) {
  // The wait of PullPending ends as a time-out when nothing came: not an error.
  if (pulling_) return;
  if (connecting_ && socket_) socketError_ = {code, socket_->errorString().toStdString()};
  if (code == QAbstractSocket::SocketTimeoutError) Close(false);
  connecting_ = false;
}

bool TTCPClientInterface::GetActive() {
  return socket_ && connected_;
}

std::string TTCPClientInterface::GetConnectionName() {
  return "TCPC " + host_ + ":" + std::to_string(port_);
}

std::string TTCPClientInterface::GetConfiguration() {
  return "provider=TCP_CLIENT;host=" + host_ + ";port=" + std::to_string(port_);
}

void TTCPClientInterface::SetPortEnabled(bool value) {
  TSockClientCoreInterface::SetPortEnabled(value);
  if (!value) Close(true);
}

std::int32_t TTCPClientInterface::GetLocalPort() {
  return socket_ ? socket_->localPort() : 0;
}

bool TTCPClientInterface::InternalOpen() {
  // A nested open (from a notification of the forced close below) returns at once.
  if (connecting_) return GetActive();
  Close(true);
  CreateSocket();
  connecting_ = true;
  socketError_ = {};
  socket_->connectToHost(QString::fromStdString(host_), port_);
  // The wait is on the socket itself: its connected and error notifications arrive inside it,
  // and nothing else is delivered meanwhile (no user input, no timer), so no window can
  // re-enter the program in the middle of an open. A connect not made by then is given up.
  if (socket_ && !connected_) socket_->waitForConnected(kOpenWaitMs);
  connecting_ = false;
  if (!GetActive()) SetFailureReason(OpenFailureReason());
  return GetActive();
}

std::string TTCPClientInterface::OpenFailureReason() const {
  const std::string peer = host_ + ":" + std::to_string(port_);
  const std::string& text = socketError_.text;
  switch (socketError_.code) {
    case QAbstractSocket::ConnectionRefusedError:
      return "connection to " + peer + " refused: " + text;
    case QAbstractSocket::HostNotFoundError:
      return "host not found: " + peer + ": " + text;
    case QAbstractSocket::UnknownSocketError:  // no error came: the wait ran out
    case QAbstractSocket::SocketTimeoutError:
      return "connection to " + peer + " timed out after " + std::to_string(kOpenWaitMs) + " ms";
    default:
      return "connection to " + peer + " failed: " + text + " (socket error " +
             std::to_string(socketError_.code) + ")";
  }
}

bool TTCPClientInterface::InternalClose(bool force) {
  if (socket_) {
    try {
      if (force) socket_->abort();
      socket_->close();
      DestroySocket();
    } catch (...) {
      return false;
    }
  }
  return !GetActive();
}

std::int32_t TTCPClientInterface::InternalWrite(const TByteString& data) {
  if (!socket_) return 0;
  socket_->write(data.data(), static_cast<qint64>(data.size()));
  socket_->flush();  // a blocking request gives the event loop no chance to send
  return static_cast<std::int32_t>(data.size());
}

void TTCPClientInterface::PullPending(int waitMs) {
  if (!socket_ || !connected_) return;
  pulling_ = true;
  const bool pulled = socket_->waitForReadyRead(waitMs);
  pulling_ = false;
  if (!pulled || !socket_ || announcementQueued_) return;
  // If the caller leaves some of these bytes unread, the receive path still hears of them
  // once the event loop runs again. One announcement is enough however often a long request
  // pulls: each would otherwise stay queued, and grow the memory, until the request ends.
  announcementQueued_ = true;
  QMetaObject::invokeMethod(
      socket_,
      [this] {
        announcementQueued_ = false;
        if (socket_ && socket_->bytesAvailable() > 0) DoDataRcv();
      },
      Qt::QueuedConnection);
}

std::int32_t TTCPClientInterface::InBuffUsed() {
  PullPending();
  return socket_ ? static_cast<std::int32_t>(socket_->bytesAvailable()) : 0;
}

bool TTCPClientInterface::WaitForData(std::int32_t timeoutMs) {
  if (InBuffUsed() != 0) return true;
  PullPending(std::max(timeoutMs, 0));
  return socket_ && socket_->bytesAvailable() > 0;
}

TByteString TTCPClientInterface::InternalRead() {
  TWriteLocker guard(*this);
  if (!socket_ || !connected_) return {};
  PullPending();
  if (!socket_) return {};
  const QByteArray bytes = socket_->readAll();
  return TByteString(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void TTCPClientInterface::CheckChangeable(const std::string& host, std::uint16_t port) {
  if (GetActive() && (host != host_ || port != port_))
    throw ESocketError("Can't change value while socket is active");
}

void TTCPClientInterface::SetHost(const std::string& host) {
  CheckChangeable(host, port_);
  host_ = host;
  DoConfigurationChanged();
}

void TTCPClientInterface::SetPort(std::uint16_t port) {
  CheckChangeable(host_, port);
  port_ = port;
  DoConfigurationChanged();
}

bool TTCPClientInterface::Setup() {
  const TTcpSetupHook hook = tcpSetupHook;
  if (!hook) return false;
  std::string host = host_;
  std::uint16_t port = port_;
  if (!hook(host, port)) return false;
  CheckChangeable(host, port);
  // Kept as the transport's own settings, so the next open uses what the user confirmed.
  host_ = host;
  port_ = port;
  DoConfigurationChanged();
  return true;
}

bool TTCPClientInterface::ApplyConfiguration(const std::string& text) {
  const TConnectionSettings settings(text);
  const bool wasActive = GetActive();
  SetActive(false);
  if (const auto host = settings.Find("host")) host_ = *host;
  if (const auto port = settings.Int("port")) port_ = PortValue(*settings.Find("port"), *port);
  SetActive(settings.Active("active").value_or(wasActive));
  return true;
}

void RegisterTcpClientTransport() {
  RegisterTransport(&ConstructTransport<TTCPClientInterface>, "TCP_CLIENT",
                    {"host", "port", "active"});
}

void UnregisterTcpClientTransport() {
  UnregisterTransport(&ConstructTransport<TTCPClientInterface>);
}

}  // namespace zorvid
