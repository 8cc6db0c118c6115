// System power status (battery charge and mains), read through SDL.
#pragma once

#include <optional>

namespace platform {

struct PowerStatus {
  bool hasBattery = true;  // false: the machine has no battery at all
  int percent = 255;       // battery charge 0..100; 255 when unknown
  int acLine = 255;        // mains: 0 offline, 1 online, 255 unknown
};

// Reads the current status (SDL_GetPowerInfo; needs no SDL_Init).
PowerStatus readPowerStatus();

// Tests replace the system's answer with a fixed one; nullopt restores it.
void setPowerStatusForTests(std::optional<PowerStatus> status);

}  // namespace platform
