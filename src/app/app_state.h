// State shared by the radio program's operations, and small screen helpers.
#pragma once

#include <string>

namespace ondaria {

struct AppState {
  // Full path of the station list file, fixed at start-up.
  std::string stationListPath;
  // The address most recently handed to a player since start-up, exactly as
  // it was stored (it may carry the external-player marker). Never written to disk.
  std::string lastAddress;
};

AppState& appState();

// Clears rows `row`…25 and leaves the cursor at column 1 of `row`; a row past
// 25 only moves the cursor.
void clearFromLine(int row);

}  // namespace ondaria
