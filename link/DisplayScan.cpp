#include "link/DisplayScan.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <optional>
#include <utility>

#include "core/EchoText.h"
#include "core/TimeoutManager.h"
#include "protocol/Korvel97.h"
#include "protocol/KorvelStackDevice.h"
#include "transport/ConnectionString.h"
#include "transport/SerialCommunicationInterface.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;

// An identification request carries no data.
constexpr std::size_t kRequestLength = kPacket97MinSize;
// The answer's frame and a typical identification text ("ZorvidL;v1.0;rtc"). A longer one
// costs nothing but time: the part that misses the time-out arrives as a late answer.
constexpr std::size_t kExpectedAnswerLength = kPacket97MinSize + 16;
// What the two ends take beyond the wire, from the request's first byte written to the
// answer's last byte read. Measured with bench/exchange_bench (BM_IdentificationRoundTrip)
// against zorvid-sim on a pseudo-terminal, where the wire takes no time, through the serial
// transport, on the 2-core build machine with both cores busy with other work (load 2 to
// 2.8): median 0.05 ms, 99th percentile 0.08 to 0.10 ms, 99.9th 0.12 to 0.15 ms, worst of
// 2000 0.5 to 0.7 ms (three runs). 2 ms is about three times the worst; it keeps all 254
// addresses at 9600 Bd under 10 s (38 ms each). A display slower than this is still found,
// later (see Ask), as long as its answer comes before the scan leaves the speed.
constexpr double kAnswerMarginMs = 2.0;
constexpr auto kShortestAddressTimeout = 20ms;

// The SIGs of one speed, in turn from 1 (0 is the unsolicited packets'): 255 of them, one for
// the broadcast and one for each of at most 254 addresses, so that a late answer's SIG names
// the request it answers.
constexpr TByte kFirstSig = 1;

TByte NextSig(TByte sig) {
  return sig == 0xFF ? kFirstSig : static_cast<TByte>(sig + 1);
}

std::string InQuotesWhole(const std::string& text) {
  return InQuotes(EscapeControls(text));
}

// " at 9600 Bd", nothing for a line without a speed.
std::string AtSpeed(std::int32_t baud) {
  return baud > 0 ? " at " + std::to_string(baud) + " Bd" : "";
}

// An answer the stack took, parsed; nothing when it is no readable packet after all.
std::optional<TKorvelFormat97> Parsed(const TByteString& text) {
  if (ValidatePacket97(text) != kPacket97Valid) return std::nullopt;
  try {
    TKorvelFormat97 packet;
    ParsePacket97(text, packet);
    return packet;
  } catch (const EKorvelPacketError&) {
    return std::nullopt;
  }
}

}  // namespace

// Answers that come after their request gave up. At the broadcast address it receives every
// packet the stack does not take as the answer of the request in flight, and keeps those that
// acknowledge with 0 for the scanning thread, which judges them.
//
// Threads: DoAnswer runs on whichever thread delivers received data (the scanning thread
// during a request; a transport's own thread may deliver too); mutex_ guards answers_.
class TLateAnswers final : public TKorvelStackDevice {
 public:
  TLateAnswers() : TKorvelStackDevice(kBroadcastAddress, "TLateAnswers") {}

  std::vector<TKorvelFormat97> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(answers_, {});
  }

 protected:
  std::int32_t DoAnswer(const TKorvelFormat97& packet) override {
    if (packet.Inst != 0) return 0;
    std::lock_guard lock(mutex_);
    answers_.push_back(packet);
    return 0;
  }

 private:
  std::mutex mutex_;
  std::vector<TKorvelFormat97> answers_;  // guarded by mutex_
};

// What one speed's requests have been.
struct TDisplayScan::TPass {
  std::int32_t baud = 0;
  std::chrono::milliseconds timeout{};
  std::array<std::optional<TByte>, 256> askedBySig{};  // the address each SIG went to
  TByte sig = 0;                                       // the last one used
};

TDisplayScan::TDisplayScan(TScanOptions options, TProgress progress, TFound found)
    : options_(std::move(options)),
      progress_(std::move(progress)),
      found_(std::move(found)),
      stack_(New<TKorvelStack>()),
      late_(New<TLateAnswers>()) {
  stack_->AddDevice(late_);
}

TDisplayScan::~TDisplayScan() {
  stack_->SetCommunicationInterface({});
  stack_->RemoveDevice(late_);
}

void TDisplayScan::Stop() {
  stopped_ = true;
  stack_->Abandon();
}

std::chrono::milliseconds TDisplayScan::AddressTimeout(double charTimeMs) {
  const double wireMs = static_cast<double>(kRequestLength + kExpectedAnswerLength) * charTimeMs;
  const auto timeout =
      std::chrono::milliseconds(static_cast<long long>(std::ceil(wireMs + kAnswerMarginMs)));
  return std::max<std::chrono::milliseconds>(timeout, kShortestAddressTimeout);
}

TScanResult TDisplayScan::Run() {
  TScanResult result;
  TCiRef line;
  if (!CreateTransport(options_.connection, line)) {
    result.failure =
        "no transport for " + InQuotesWhole(options_.connection) + " (provider missing or unknown)";
    return result;
  }
  const TRef<ISerialCommunicationInterface> serial = Supports<ISerialCommunicationInterface>(line);
  std::vector<std::int32_t> bauds = serial ? options_.bauds : std::vector<std::int32_t>{0};
  if (bauds.empty()) bauds.push_back(serial->GetBaudRate());
  done_ = 0;
  total_ = static_cast<int>(bauds.size()) * (AddressCount() + 1);
  for (const std::int32_t baud : bauds) {
    if (stopped_ || !result.failure.empty()) break;
    if (serial) serial->SetBaudRate(baud);
    if (!line->Open()) {
      result.failure = "cannot open " + InQuotesWhole(options_.connection) + AtSpeed(baud) + ": " +
                       line->GetFailureReason();
      break;
    }
    stack_->SetCommunicationInterface(line);
    ScanPass(line, baud, result);
    stack_->SetCommunicationInterface({});
    line->Close(false);
  }
  result.stopped = stopped_;
  return result;
}

int TDisplayScan::AddressCount() const {
  const int last = std::min(options_.last, kHighestOwnAddress);
  return std::max(last - options_.first + 1, 0);
}

void TDisplayScan::ScanPass(const TCiRef& line, std::int32_t baud, TScanResult& result) {
  TPass pass{baud, AddressTimeout(line->GetCharTime()), {}, 0};
  late_->Take();  // a straggler of the speed before has nothing to do with this one
  Ask(kBroadcastAddress, pass, result);
  for (int i = 0;
       i < AddressCount() && !stopped_ && !line->IsLineClosed() && result.failure.empty(); ++i)
    Ask(static_cast<TByte>(options_.first + i), pass, result);
  // The last address's answer may still be on its way.
  if (!stopped_ && result.failure.empty()) WaitForLateAnswers(line, pass.timeout);
  TakeLateAnswers(pass, result);
  // A line that closed under the scan (a peer's close, a bridge unplugged) answers no more.
  if (line->IsLineClosed() && result.failure.empty()) {
    const std::string why = line->GetFailureReason();
    result.failure = "the line " + InQuotesWhole(options_.connection) + AtSpeed(baud) + " closed" +
                     (why.empty() ? "" : ": " + why);
  }
}

// One identification request. Its answer is a display; so is an answer to an earlier request
// of this speed that has come meanwhile, however late.
void TDisplayScan::Ask(TByte address, TPass& pass, TScanResult& result) {
  pass.sig = NextSig(pass.sig);
  pass.askedBySig[pass.sig] = address;
  TByteString text;
  TRequestMiss missed;
  bool answered = false;
  try {
    answered = stack_->RequestWithReason(address, pass.sig, kInstIdentification, {}, text,
                                         static_cast<std::int32_t>(pass.timeout.count()), missed);
  } catch (const EKorvelStackError&) {
    // Noise that the receive path refused (a packet to the refused address): no answer.
  } catch (const std::exception& error) {
    result.failure = "asking address " + AddressText(address) + AtSpeed(pass.baud) + " on " +
                     InQuotesWhole(options_.connection) + ": " + error.what();
  }
  if (const auto answer = answered ? Parsed(text) : std::nullopt; answer && answer->Inst == 0)
    Accept(*answer, pass.baud, result);
  TakeLateAnswers(pass, result);
  ++done_;
  if (progress_) progress_(address, pass.baud, done_, total_);
}

void TDisplayScan::TakeLateAnswers(const TPass& pass, TScanResult& result) {
  for (const TKorvelFormat97& answer : late_->Take()) {
    const std::optional<TByte> asked = pass.askedBySig[answer.Sig];
    if (asked && (*asked == answer.Adr || *asked == kBroadcastAddress))
      Accept(answer, pass.baud, result);
  }
}

void TDisplayScan::WaitForLateAnswers(const TCiRef& line, std::chrono::milliseconds wait) {
  TDeadline deadline;
  deadline.Start(static_cast<std::int32_t>(wait.count()));
  while (!deadline.Expired() && !stopped_) {
    const auto remaining =
        static_cast<std::int32_t>(std::max<std::int64_t>(deadline.Remaining(), 0));
    if (!line->WaitForData(remaining)) {
      if (line->IsLineClosed()) return;
      continue;
    }
    try {
      stack_->icDataRcv(line);
    } catch (const EKorvelStackError&) {
      // As in Ask: refused noise is no answer; any other failure ends the scan there.
    }
  }
}

void TDisplayScan::Accept(const TKorvelFormat97& answer, std::int32_t baud, TScanResult& result) {
  if (answer.Adr > kHighestOwnAddress) return;
  const auto known = std::find_if(result.found.begin(), result.found.end(), [&](const auto& found) {
    return found.address == answer.Adr && found.baud == baud;
  });
  if (known != result.found.end()) return;
  const TFoundDisplay display{answer.Adr, baud, answer.Data};
  // By speed in the order scanned (this speed's come last so far), then by address.
  const auto place = std::find_if(
      result.found.begin(), result.found.end(),
      [&](const TFoundDisplay& found) { return found.baud == baud && found.address > answer.Adr; });
  result.found.insert(place, display);
  if (found_) found_(display);
}

}  // namespace zorvid
