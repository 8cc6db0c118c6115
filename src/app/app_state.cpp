#include "app/app_state.h"

#include "console/core/console.h"
#include "console/ui/field_editor.h"
#include "console/ui/option_menu.h"

namespace ondaria {

AppState& appState() {
  static AppState state;
  return state;
}

MenuAnswer readMenuAnswer(char (*chooseFromList)()) {
  constexpr uint8_t kEsc = 27, kKeyF9 = 67, kKeyUp = 72, kKeyDown = 80;
  const KeyEcho key = readCharEcho();
  MenuAnswer answer{key.character, key.code, {}};
  if (answer.character == 0 &&
      (key.code == kKeyUp || key.code == kKeyDown || key.code == kKeyF9)) {
    answer.character = static_cast<uint8_t>(chooseFromList());
    if (answer.character != kEsc) {
      const std::string& text = chosenOptionText();
      const size_t dash = text.find('-');
      if (dash != std::string::npos) answer.titleSuffix = text.substr(dash == 0 ? 0 : dash - 1);
    }
  }
  return answer;
}

bool waitForEnterOrEsc() {
  constexpr uint8_t kEnter = 13, kEsc = 27;
  for (;;) {
    const uint8_t c = readKey();
    if (c == kEnter) return true;
    if (c == kEsc) return false;
    if (c == 0) readKey();  // an extended key's code byte is no answer either
  }
}

}  // namespace ondaria
