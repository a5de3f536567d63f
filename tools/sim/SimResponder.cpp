#include "tools/sim/SimResponder.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace zorvid::sim {
namespace {

// The checksum sits before the terminator.
void BreakChecksum(TByteString& packet) {
  char& checksum = packet[packet.size() - 2];
  checksum = static_cast<char>(static_cast<TByte>(checksum) ^ 0xFF);
}

}  // namespace

TSimIdentifiers IdentifiersFromSeed(std::uint32_t seed) {
  // A generator of its own, so the identifiers do not shift the fault sequence.
  std::mt19937 random(seed ^ 0x5A17D15Au);
  return {static_cast<std::uint16_t>(random()), static_cast<std::uint16_t>(random()),
          static_cast<std::uint32_t>(random())};
}

TByteString Collide(const std::vector<TByteString>& answers) {
  std::size_t longest = 0;
  for (const TByteString& answer : answers)
    longest = std::max(longest, answer.size());
  TByteString mixed;
  for (std::size_t at = 0; at < longest; ++at)
    for (const TByteString& answer : answers)
      if (at < answer.size()) mixed += answer[at];
  return mixed;
}

TSimResponder::TSimResponder(TSimDisplay& display, TSimFaults faults, std::uint32_t seed)
    : TSimResponder(std::vector<TSimDisplay*>{&display}, std::move(faults), seed) {}

TSimResponder::TSimResponder(std::vector<TSimDisplay*> displays, TSimFaults faults,
                             std::uint32_t seed)
    : displays_(std::move(displays)), faults_(std::move(faults)), random_(seed) {
  if (displays_.empty()) throw std::invalid_argument("a line without a display answers nothing");
}

std::optional<TByteString> TSimResponder::Respond(const TKorvelFormat97& request,
                                                  std::optional<std::int32_t> lineBaud) {
  std::vector<TByteString> answers;
  for (TSimDisplay* display : displays_) {
    if (lineBaud && display->Baud() != *lineBaud) continue;
    if (auto answer = RespondAs(*display, request)) answers.push_back(std::move(*answer));
  }
  if (answers.empty()) return {};
  return Collide(answers);
}

std::optional<TByteString> TSimResponder::RespondAs(TSimDisplay& display,
                                                    const TKorvelFormat97& request) {
  if (!display.Hears(request.Adr) || faults_.silent.contains(request.Inst)) return {};
  std::optional<TByteString> answer;
  if (const auto forced = faults_.forcedAcks.find(request.Inst); forced != faults_.forcedAcks.end())
    answer = BuildPacket97(display.Address(), request.Sig, forced->second, {});
  else if (const auto data = faults_.forcedData.find(request.Inst);
           data != faults_.forcedData.end())
    answer = BuildPacket97(display.Address(), request.Sig, 0, data->second);
  else
    answer = display.Answer(request);
  if (answer && faults_.loseAnswerOnce.erase(request.Inst) > 0) return {};
  const bool lost = Chance(faults_.drop);
  const bool damaged = Chance(faults_.corrupt);
  if (!answer || lost) return {};
  if (damaged) BreakChecksum(*answer);
  return answer;
}

std::int32_t TSimResponder::Baud() const {
  return displays_.front()->Baud();
}

TByteString TSimResponder::UnsolicitedPacket() const {
  return BuildPacket97(displays_.front()->Address(), 0, kAckUnsolicited, {});
}

bool TSimResponder::Chance(double p) {
  // mt19937's output is fixed by the standard, unlike the library's distributions.
  const double draw = static_cast<double>(random_()) / 4294967296.0;
  return draw < p;
}

}  // namespace zorvid::sim
