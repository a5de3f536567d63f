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

TDateTimeParams ShownDateTimeParams(const TDateTimeParams& params,
                                    const TDisplayCapabilities& capabilities) {
  if (OffersClockSettings(capabilities)) return params;
  TDateTimeParams shown;
  shown.showAfterTurnOn = params.showAfterTurnOn;
  shown.showAfterExpiration = params.showAfterExpiration;
  shown.showTemperature = params.showTemperature;
  return shown;
}

}  // namespace zorvid
