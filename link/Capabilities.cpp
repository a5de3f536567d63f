#include "link/Capabilities.h"

namespace zorvid {

TDisplayCapabilities CapabilitiesOf(std::string_view identification) {
  return {identification.find("rtc") != std::string_view::npos,
          identification.find("ZorvidL") != std::string_view::npos};
}

bool OffersClockSettings(const TDisplayCapabilities& capabilities) {
  return capabilities.hasClock;
}

bool OffersAutomaticBrightness(const TDisplayCapabilities& capabilities) {
  return capabilities.automaticBrightness;
}

}  // namespace zorvid
