#include "tools/sim/SimResponder.h"

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

TSimResponder::TSimResponder(TSimDisplay& display, TSimFaults faults, std::uint32_t seed)
    : display_(display), faults_(std::move(faults)), random_(seed) {}

std::optional<TByteString> TSimResponder::Respond(const TKorvelFormat97& request) {
  if (!display_.Hears(request.Adr) || faults_.silent.contains(request.Inst)) return {};
  std::optional<TByteString> answer;
  if (const auto forced = faults_.forcedAcks.find(request.Inst); forced != faults_.forcedAcks.end())
    answer = BuildPacket97(display_.Address(), request.Sig, forced->second, {});
  else if (const auto data = faults_.forcedData.find(request.Inst);
           data != faults_.forcedData.end())
    answer = BuildPacket97(display_.Address(), request.Sig, 0, data->second);
  else
    answer = display_.Answer(request);
  const bool lost = Chance(faults_.drop);
  const bool damaged = Chance(faults_.corrupt);
  if (!answer || lost) return {};
  if (damaged) BreakChecksum(*answer);
  return answer;
}

TByteString TSimResponder::UnsolicitedPacket() const {
  return BuildPacket97(display_.Address(), 0, kAckUnsolicited, {});
}

bool TSimResponder::Chance(double p) {
  // mt19937's output is fixed by the standard, unlike the library's distributions.
  const double draw = static_cast<double>(random_()) / 4294967296.0;
  return draw < p;
}

}  // namespace zorvid::sim
