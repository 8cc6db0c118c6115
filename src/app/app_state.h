// State shared by the radio program's operations, and small screen helpers.
#pragma once

#include <cstdint>
#include <string>

#include "console/ui/ui_draw.h"  // clearFromLine, used by every screen of the program

namespace ondaria {

struct AppState {
  // Full path of the station list file, fixed at start-up.
  std::string stationListPath;
  // The address most recently handed to a player since start-up, exactly as
  // it was stored (it may carry the external-player marker). Never written to disk.
  std::string lastAddress;
};

AppState& appState();

// One answer to a menu question ("Que deseja?"): the key read with echo, where
// Up, Down and F9 open the option list through `chooseFromList` (which returns
// an option letter or ESC). `titleSuffix` is the chosen item's text from the
// character before its first "-" (" - folhear ..."), empty when the letter was
// typed.
struct MenuAnswer {
  uint8_t character = 0;  // 0 for an extended key
  uint8_t code = 0;       // the extended key's code
  std::string titleSuffix;
};
MenuAnswer readMenuAnswer(char (*chooseFromList)());

// The answer to "Aperte enter...": waits for Enter (true) or ESC (false, the
// user gives up what was going on); other keys are passed over.
bool waitForEnterOrEsc();

}  // namespace ondaria
