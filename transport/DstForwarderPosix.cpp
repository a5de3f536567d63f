// The traffic forwarder on POSIX systems: datagrams to a Unix-domain socket.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "transport/CommunicationInterfaceDataSpy.h"

namespace zorvid {
namespace {

constexpr const char* kTerminalName = "TfMainKorvelTerm";

// One socket for the whole run, opened on first use; sends never block, so a terminal that
// does not keep up loses records instead of stalling the line.
class TDstForwarder {
 public:
  void Send(TByte direction, const TByteString& data) {
    if (data.empty()) return;
    std::lock_guard guard(mutex_);
    if (socket_ < 0) socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = DstSocketPath();
    if (path.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    TByteString record(1, static_cast<char>(direction));
    record += data;
    // No receiver, a full queue or an oversized record: nothing happens.
    ::sendto(socket_, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }

 private:
  std::mutex mutex_;
  int socket_ = -1;  // guarded by mutex_
};

void Forward(TDstForwarder* forwarder, TCiRef /*sender*/, const TByteString& data,
             TByte direction) {
  forwarder->Send(direction, data);
}

}  // namespace

std::string DstSocketPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::string(runtime) + "/" + kTerminalName;
  return std::string("/tmp/") + kTerminalName + "-" + std::to_string(::getuid());
}

TSpySink DstForwarderSink() {
  static auto* forwarder = new TDstForwarder;  // lives for the whole run, like the sink
  return TSpySink(forwarder, &Forward);
}

}  // namespace zorvid
