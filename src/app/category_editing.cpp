#include "app/category_editing.h"

#include <algorithm>
#include <vector>

#include "app/app_state.h"
#include "app/station_list.h"
#include "console/core/console.h"
#include "console/core/ini_text.h"
#include "console/core/settings.h"
#include "console/ui/field_editor.h"
#include "console/ui/field_text.h"
#include "console/ui/option_menu.h"
#include "playback/external_player.h"
#include "playback/playback_session.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr uint8_t kEnter = 13;
constexpr uint8_t kEsc = 27;
constexpr int kPromptBackground = 4;
constexpr int kMenuBackground = 5;
// Longest value typed when editing an item.
constexpr int kItemValueLength = 255;
// Row where the edit and remove questions start, below the title and the
// category choice.
constexpr int kQuestionRow = 5;

const std::string& listFile() { return appState().stationListPath; }

// The category's entries in file order in a pop-up menu below the cursor;
// returns the chosen key, or an empty text after ESC.
std::string chooseEntry(const std::string& category) {
  const std::vector<std::string> keys = profileKeyNames(category, listFile());
  const int row = whereY();
  openOptionMenu(1, row, 80, kMenuBackground, 26 - row - stripRows());
  for (const std::string& key : keys) addOption("", key);
  const int chosen = runOptionMenu();
  if (chosen < 1 || chosen > static_cast<int>(keys.size())) return {};
  return keys[static_cast<size_t>(chosen - 1)];
}

// True when the file already has a section of this name (names compare as
// the INI layer matches them: blanks trimmed, case ignored).
bool sectionExists(const std::string& name) {
  const std::string wanted = ini::foldName(ini::trimBlanks(name));
  for (const std::string& section : profileSectionNames(listFile()))
    if (ini::foldName(section) == wanted) return true;
  // A value can never hold a line end, so this default marks a missing entry;
  // it finds sections beyond the length limit of the section list too.
  return readProfileString(name, std::string(kPlaceholderEntry), "\n", listFile()) != "\n";
}

}  // namespace

void editItem(const std::string& category) {
  for (;;) {
    gotoXY(1, kQuestionRow);
    sayMessage("ODITEMED", 1);
    const std::string key = chooseEntry(category);
    if (key.empty()) return;
    writeLine(key);
    writeLine();
    clearFromLine(whereY());

    setTextBackground(kPromptBackground);
    sayMessage("ODEDENDR", 1);
    setTextBackground(0);
    const std::string stored = readProfileString(category, key, "", listFile());
    std::string value = stored;
    // The typing limit is for what the user types: a stored value longer than
    // it is offered whole (as far as the editor reaches), with room to type
    // as much again.
    const int maxLength = std::max(kItemValueLength, static_cast<int>(stored.size()) + kItemValueLength);
    const uint8_t end = editField(value, whereX(), whereY(), true, 80, maxLength);
    if (end == kEnter) {
      writeLine();
      // Enter without a change writes nothing, so a value is never rewritten
      // in a form the user did not ask for (cut by the editor, or with
      // characters this program cannot show).
      if (unchangedByEdit(stored, value, std::min(maxLength, kMaxFieldLength)) ||
          storeStationEntry(category, key, value))
        sayMessage("ODOK", 1);
    } else if (end == kEsc) {
      clearToEndOfLine();
      sayMessage("ODDESIST", 1);
    }
    writeLine();
  }
}

void includeItems(const std::string& category) {
  for (;;) {
    sayMessage("ODITEMIN", 1);
    std::string name;
    readLineSpoken(name);
    if (name.empty()) return;
    // Refused before the address is asked for, so nothing typed is lost.
    if (!isStorableStationName(name)) {
      errorBeep();
      continue;
    }
    sayMessage("ODITEMCT", 1);
    std::string content;
    readLineSpoken(content);
    if (storeStationEntry(category, name, content)) sayMessage("ODOK", 2);
  }
}

void removeItem(const std::string& category) {
  for (;;) {
    gotoXY(1, kQuestionRow);
    clearFromLine(kQuestionRow);
    sayMessage("ODITEMRM", 1);
    const std::string key = chooseEntry(category);
    if (key.empty()) return;

    sayMessage("ODCNFRMI", 0);
    writeSpoken(key);
    writeText("? ");
    const uint8_t answer = chooseLetter("SN");
    writeLine();
    if (answer == 'S' && eraseStationEntry(category, key)) sayMessage("ODOKRM", 2);
  }
}

void createCategory() {
  sayMessage("ODNOVSEC", 1);
  std::string name;
  readLineSpoken(name);
  if (name.empty()) return;
  // The layout has no empty section of its own: writing an entry creates the
  // header at the end of the file, and erasing the entry leaves the header.
  // An existing section is left alone, so that no station that happens to
  // carry the placeholder's name is overwritten and erased.
  if (!sectionExists(name)) {
    const std::string placeholder(kPlaceholderEntry);
    if (!storeStationEntry(name, placeholder, placeholder)) return;
    if (!eraseStationEntry(name, placeholder)) return;
  }
  sayMessage("ODOK", 2);
}

void destroyCategory() {
  sayMessage("ODCATDST", 1);
  std::string name;
  readLineSpoken(name);
  if (name.empty()) return;
  sayMessage("ODPERIGO", 1);
  sayMessage("ODAPTD", 0);
  const KeyEcho key = readCharEcho();
  writeLine();
  if (key.character != 'D' && key.character != 'd') {
    sayMessage("ODDESIST", 2);
    return;
  }
  if (eraseStationEntry(name, "")) sayMessage("ODOK", 2);
}

void testAddress() {
  sayMessage("ODDIGURL", 1);
  std::string address;
  readLineSpoken(address);
  if (address.empty()) {
    sayMessage("ODDESIST", 1);
    return;
  }
  sayMessage("ODTOCEXT", 0);
  const uint8_t answer = chooseLetter("SN");
  writeLine();
  if (answer == kEsc) {
    sayMessage("ODDESIST", 1);
    return;
  }
  // No removal is offered after the playback: the address is not in the file.
  if (answer == 'S') {
    appState().lastAddress = std::string(kExternalMarker) + address;
    playExternal(address);
  } else {
    appState().lastAddress = address;
    playAddress(address);
  }
}

}  // namespace ondaria
