#include "transport/CommunicationInterfaceDataSpy.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <vector>

namespace zorvid {
namespace {

using TSinkSlots = std::vector<std::shared_ptr<THandlerSlot<TCiRef, const TByteString&, TByte>>>;

// The installed sinks, newest first. The list is never changed in place: a change installs a
// new one, so a call walks the list it started with outside the mutex.
struct TSinkList {
  std::mutex mutex;
  std::shared_ptr<const TSinkSlots> slots =
      std::make_shared<const TSinkSlots>();  // guarded by mutex
};

// Never destroyed: a transport thread may still spy while the program exits.
TSinkList& Sinks() {
  static auto* sinks = new TSinkList;
  return *sinks;
}

std::shared_ptr<const TSinkSlots> InstalledSlots() {
  TSinkList& sinks = Sinks();
  std::lock_guard guard(sinks.mutex);
  return sinks.slots;
}

// Replaces the list by `change` applied to a copy of it.
template <class TChange>
void ChangeSlots(TChange change) {
  TSinkList& sinks = Sinks();
  std::lock_guard guard(sinks.mutex);
  auto changed = std::make_shared<TSinkSlots>(*sinks.slots);
  change(*changed);
  sinks.slots = std::move(changed);
}

void PassOn(const TSinkSlots& slots, const TCiRef& sender, const TByteString& data,
            TByte direction) {
  for (const auto& slot : slots) {
    try {
      slot->Call(sender, data, direction);
    } catch (...) {
      // The log must never break the line, nor keep the traffic from the other sinks.
    }
  }
}

std::string_view Trimmed(std::string_view text) {
  const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && isSpace(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back()))
    text.remove_suffix(1);
  return text;
}

}  // namespace

TInstalledSpySink::TInstalledSpySink(const TSpySink& sink) : slot_(std::make_shared<TSlot>()) {
  slot_->Set(sink);
  ChangeSlots([this](TSinkSlots& slots) { slots.insert(slots.begin(), slot_); });
}

// A call that took the list before the sink left it may still reach the slot: the emptied slot
// turns it away, and emptying waits for the calls already inside.
TInstalledSpySink::~TInstalledSpySink() {
  ChangeSlots([this](TSinkSlots& slots) { std::erase(slots, slot_); });
  slot_->Set({});
}

void SpyTraffic(const TCiRef& sender, const TByteString& data, TByte direction) {
  PassOn(*InstalledSlots(), sender, data, direction);
}

void TCommunicationInterfaceDataSpy::SpySent(const TByteString& data) {
  Spy(kSpySent, data);
  TCommunicationInterface::SpySent(data);
}

void TCommunicationInterfaceDataSpy::SpyReceived(const TByteString& data) {
  Spy(kSpyReceived, data);
  TCommunicationInterface::SpyReceived(data);
}

void TCommunicationInterfaceDataSpy::Spy(TByte direction, const TByteString& data) {
  // The transport is not referenced when nobody listens: it may be on its way out.
  const std::shared_ptr<const TSinkSlots> slots = InstalledSlots();
  if (!slots->empty()) PassOn(*slots, Self(), data, direction);
}

bool IsDstSwitch(std::string_view argument) {
  argument = Trimmed(argument);
  if (!argument.empty() && (argument.front() == '/' || argument.front() == '-'))
    argument.remove_prefix(1);
  return argument.size() == 3 &&
         std::equal(argument.begin(), argument.end(), "DST", [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

bool HasDstSwitch(int argc, const char* const* argv) {
  for (int i = 0; i < argc; ++i)
    if (argv[i] && IsDstSwitch(argv[i])) return true;
  return false;
}

bool InstallDstForwarderIfRequested(int argc, const char* const* argv) {
  if (!HasDstSwitch(argc, argv)) return false;
  // Installed once, for the rest of the run, like the sink list itself.
  [[maybe_unused]] static const auto* forwarder = new TInstalledSpySink(DstForwarderSink());
  return true;
}

}  // namespace zorvid
