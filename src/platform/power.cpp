#include "platform/power.h"

#include <SDL.h>

namespace platform {

namespace {
std::optional<PowerStatus>& fixedStatus() {
  static std::optional<PowerStatus> status;
  return status;
}
}  // namespace

void setPowerStatusForTests(std::optional<PowerStatus> status) { fixedStatus() = status; }

PowerStatus readPowerStatus() {
  if (fixedStatus()) return *fixedStatus();
  int seconds = -1, percent = -1;
  SDL_PowerState state = SDL_GetPowerInfo(&seconds, &percent);
  PowerStatus status;
  status.percent = (percent >= 0 && percent <= 100) ? percent : 255;
  switch (state) {
    case SDL_POWERSTATE_NO_BATTERY:
      status.hasBattery = false;
      status.acLine = 1;
      break;
    case SDL_POWERSTATE_ON_BATTERY: status.acLine = 0; break;
    case SDL_POWERSTATE_CHARGING:
    case SDL_POWERSTATE_CHARGED: status.acLine = 1; break;
    case SDL_POWERSTATE_UNKNOWN:
    default: status.acLine = 255; break;
  }
  return status;
}

}  // namespace platform
