#include "app/main_menu.h"

#include <array>
#include <cstdlib>
#include <string_view>

#include "app/app_state.h"
#include "app/category_editing.h"
#include "app/directory_menu.h"
#include "app/favourites.h"
#include "app/search.h"
#include "app/station_list.h"
#include "app/station_update.h"
#include "braille/braille_display.h"
#include "console/core/console.h"
#include "console/core/magnified_strip.h"
#include "console/core/messages.h"
#include "console/core/settings.h"
#include "console/ui/braille_keyboard.h"
#include "console/ui/field_editor.h"
#include "console/ui/option_menu.h"
#include "console/ui/screen_review.h"
#include "net/sockets.h"
#include "platform/codepage.h"
#include "playback/playback_session.h"
#include "playback/stream_player.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr uint8_t kEsc = 27;
constexpr uint8_t kKeyF1 = 59;

// Message keys of the main options, in menu order (matching kMainOptionLetters).
constexpr std::array<std::string_view, 12> kMainOptionKeys = {
    "ODOPC_P", "ODOPC_F", "ODOPC_E", "ODOPC_I", "ODOPC_R", "ODOPC_C",
    "ODOPC_D", "ODOPC_A", "ODOPC_T", "ODOPC_B", "ODOPC_N", "OD_ESC"};

// One main option: its letter and what it runs; the options that work inside
// a category run only after the user chose one.
struct MainOption {
  char letter;
  void (*run)();
  void (*runInCategory)(const std::string& category) = nullptr;
};

constexpr std::array<MainOption, 11> kMainOptions = {{
    {'A', updateStationList},
    {'B', searchByName},
    {'C', createCategory},
    {'D', destroyCategory},
    {'E', nullptr, editItem},
    {'F', nullptr, browseCategory},
    {'I', nullptr, includeItems},
    {'N', searchDirectory},
    {'P', favouritesMenu},
    {'R', nullptr, removeItem},
    {'T', testAddress},
}};

const MainOption* findOption(char letter) {
  for (const MainOption& o : kMainOptions)
    if (o.letter == letter) return &o;
  return nullptr;
}

std::string soundDirectoryFromSettings() {
  std::string dir = readSetting("ONDARIA", "DIRONDARIA");
  if (!dir.empty()) return dir;
  std::string family = readSetting("LUMARE", "PGMLUMARE");
  // Without a family directory the recordings sit beside the program.
  if (family.empty()) family = programDirectory();
  return family + "\\som\\ondaria";
}

}  // namespace

void showGreeting(bool spoken) {
  clearScreen();
  setTextBackground(1);
  if (spoken) {
    sayMessage("ODINIC", 0);
    writeLineSpoken(kVersionText);
  } else {
    writeText(messageText("ODINIC") + kVersionText);
    writeLine();
  }
  writeLine();
  setTextBackground(0);
}

void startUp(bool spokenGreeting) {
  // Before the window exists: its creation opens the braille display and
  // applies the keyboard mode of the settings.
  installBrailleKeyboard();
  installBrailleDisplay();
  clearScreen();
  setWindowTitle(kWindowTitle);
  installLowVisionAids();
  startSpeech(0, soundDirectoryFromSettings());
  // The magnified strip, opened by speech at row 1, moves to the bottom rows
  // of the screen, which the menus keep free for it.
  const int factor = stripFactor();
  closeStrip();
  openStrip(kConsoleRows + 1 - factor, factor);
  showGreeting(spokenGreeting);
  // What the window or terminal had to tell when it opened (letters made
  // smaller than asked, a terminal too small) is said before anything else.
  deliverNotices();
  if (!initStreamPlayer()) {
    // Without a sound output the program cannot play anything: it says so
    // and ends with a failure status.
    sayMessage("ODEIBASS", 2);
    finishProgram(spokenGreeting, kExitNoAudio);
  }
  if (!netStartup()) sayMessage("ODNAOCON", 1);

  appState().stationListPath = locateStationList();

  // From here on the way out is ESC in the main menu: the window cannot be
  // closed and the break key no longer ends the program.
  setCloseEnabled(false);
  setBreakEndsProgram(false);
}

char chooseMainOption() {
  makeRoomBelow(9);
  openOptionMenu(whereX(), whereY(), 50, 5, static_cast<int>(kMainOptionKeys.size()));
  for (std::string_view key : kMainOptionKeys) addOption(key, messageText(key));
  const int chosen = runOptionMenu();
  if (chosen < 1 || chosen > static_cast<int>(kMainOptionKeys.size())) return static_cast<char>(kEsc);
  const char letter = kMainOptionLetters[chosen - 1];
  writeText(std::string_view(&letter, 1));
  writeLine();
  return letter;
}

void sayMainHelp() {
  writeLine();
  sayMessage("ODOPCAO", 1);
  for (std::string_view key : kMainOptionKeys) sayMessage(key, 1);
  flushKeys();
  errorBeep();
}

void mainMenu() {
  for (;;) {
    showGreeting(false);
    setTextBackground(1);
    sayMessage("ODOQUE", 0);
    setTextBackground(0);

    const MenuAnswer key = readMenuAnswer(chooseMainOption);
    const uint8_t c = key.character;
    const std::string& suffix = key.titleSuffix;
    if (c == kEsc) {
      writeLine();
      writeLine();
      return;
    }
    if (c == 0 && key.code == kKeyF1) {
      sayMainHelp();
      continue;
    }

    clearScreen();
    setTextBackground(1);
    writeLine("Ondaria" + suffix);
    setTextBackground(0);
    writeLine();

    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
    const MainOption* option = c == 0 ? nullptr : findOption(upper);
    if (!option) {
      sayMessage("ODOPINV", 1);
      continue;
    }
    if (option->runInCategory) {
      const std::string category = chooseCategory();
      if (!category.empty()) option->runInCategory(category);
    } else {
      option->run();
    }
  }
}

void finishProgram(bool sayGoodbye, int exitStatus) {
  setCloseEnabled(true);
  setBreakEndsProgram(true);
  netCleanup();
  freeStreamPlayer();
  delayMs(1000);
  if (sayGoodbye) sayMessage("ODFIM", 1);
  endSpeech();
  closeConsole(exitStatus);
}

int programMain(int argc, char** argv) {
  const bool hasAddress = argc > 1;
  startUp(!hasAddress);
  if (hasAddress) {
    // The shell hands the address over in UTF-8.
    playAddress(addressFromOutside(argv[1]));
  } else {
    mainMenu();
  }
  finishProgram(!hasAddress);
}

}  // namespace ondaria
