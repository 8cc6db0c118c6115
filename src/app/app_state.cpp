#include "app/app_state.h"

#include "console/core/console.h"

namespace ondaria {

AppState& appState() {
  static AppState state;
  return state;
}

void clearFromLine(int row) {
  for (int y = row; y <= kConsoleRows; ++y) {
    gotoXY(1, y);
    clearToEndOfLine();
  }
  gotoXY(1, row);
}

}  // namespace ondaria
