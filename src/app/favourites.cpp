#include "app/favourites.h"

#include <algorithm>
#include <cstdint>

#include "app/app_state.h"
#include "app/station_list.h"
#include "console/core/console.h"
#include "console/core/messages.h"
#include "console/core/settings.h"
#include "console/ui/field_editor.h"
#include "console/ui/marked_list.h"
#include "console/ui/option_menu.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr uint8_t kEnter = 13;
constexpr uint8_t kEsc = 27;
constexpr uint8_t kKeyF1 = 59;
constexpr int kTitleBackground = 1;
constexpr int kPromptBackground = 4;
constexpr int kMenuBackground = 5;
// Option letters of the favourites menu in menu order, then ESC.
constexpr std::string_view kFavouriteLetters = "FPU\x1B";
constexpr std::string_view kFavouriteOptionKeys[] = {"ODOPP_F", "ODOPP_P", "ODOPP_U", "OD_ESC"};
// Digits of a slot number beyond which the text cannot be one (and the
// conversion could overflow).
constexpr size_t kMaxNumberDigits = 9;

const std::string& listFile() { return appState().stationListPath; }
std::string favouritesSection() { return std::string(kFavouritesSection); }

std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// The heading of the browse actions: the section's name as a title line.
void showSlotHeading() {
  clearScreen();
  setTextBackground(kTitleBackground);
  writeLine("PREFERIDAS");
  setTextBackground(0);
  writeLine();
}

// Shows the file's slots in the open browse list again.
void refreshFavouriteItems() {
  const FavouriteSlots slots = loadFavourites();
  for (int n = 1; n <= kFavouriteCount; ++n)
    setListItem(n, favouriteItemText(n, slots[static_cast<size_t>(n - 1)].name));
}

// Plays a favourite's address: with the marker in any case through the
// external player, else through the stream player. The result is not used: a
// favourite is never removed by a playback.
void playFavouriteAddress(const std::string& address) {
  playStoredAddress(address, MarkerMatch::AnyCase);
}

// Edits `text` in a field at the cursor that reaches the right edge; the
// result is then written over the field as a line. A stored text longer than
// the typing limit keeps its length, so that editing never cuts it, and the
// limit is room for what is typed beyond it.
uint8_t editSlotText(std::string& text, int limit) {
  const int column = whereX();
  const int row = whereY();
  const int maxLength = text.size() > static_cast<size_t>(limit)
                            ? static_cast<int>(text.size()) + limit
                            : limit;
  const uint8_t key = editFieldToRightEdge(text, column, row, true, maxLength);
  if (key == kEsc) return key;
  gotoXY(column, row);
  writeLine(text);
  return key;
}

}  // namespace

bool splitFavourite(std::string_view value, FavouriteSlot& slot) {
  slot = {};
  const size_t equals = value.find('=');
  if (equals == std::string_view::npos || equals == 0) return false;
  slot.name = std::string(value.substr(0, equals));
  slot.address = std::string(value.substr(equals + 1));
  return true;
}

FavouriteSlots loadFavourites() {
  FavouriteSlots slots;
  // One read of the whole section; the keys must be exactly "1" to "20".
  for (const auto& [key, value] : readProfileSection(favouritesSection(), listFile())) {
    for (int n = 1; n <= kFavouriteCount; ++n) {
      if (key != favouriteKey(n)) continue;
      splitFavourite(value, slots[static_cast<size_t>(n - 1)]);
      break;
    }
  }
  return slots;
}

std::string favouriteKey(int n) { return std::to_string(n); }

std::string favouriteItemText(int n, std::string_view name) {
  return std::to_string(n) + " - " + std::string(name);
}

std::optional<int> parseSlotNumber(std::string_view text) {
  text = trimmed(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > kMaxNumberDigits) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < 1 || value > kFavouriteCount) return std::nullopt;
  return value;
}

// ---- The menu -------------------------------------------------------------------

char chooseFavouritesOption() {
  makeRoomBelow(5);
  openOptionMenu(whereX(), whereY(), 50, kMenuBackground,
                 static_cast<int>(kFavouriteLetters.size()));
  for (std::string_view key : kFavouriteOptionKeys) addOption(key, messageText(key));
  const int chosen = runOptionMenu();
  if (chosen < 1 || chosen > static_cast<int>(kFavouriteLetters.size())) return static_cast<char>(kEsc);
  const char letter = kFavouriteLetters[static_cast<size_t>(chosen - 1)];
  writeText(std::string_view(&letter, 1));
  writeLine();
  return letter;
}

void favouritesMenu() {
  for (;;) {
    clearScreen();
    setTextBackground(kTitleBackground);
    writeLine("Ondaria - Preferidas");
    writeLine();
    setTextBackground(kPromptBackground);
    sayMessage("ODPROQUE", 0);
    setTextBackground(0);

    const MenuAnswer key = readMenuAnswer(chooseFavouritesOption);
    const uint8_t c = key.character;
    const std::string& suffix = key.titleSuffix;
    if (c == kEsc) {
      writeLine();
      writeLine();
      return;
    }
    if (c == 0 && key.code == kKeyF1) {
      writeLine();
      for (std::string_view k : {"ODOPCAO", "ODOPP_F", "ODOPP_P", "ODOPP_U", "OD_ESC"})
        sayMessage(k, 1);
      flushKeys();
      errorBeep();
      continue;
    }

    clearScreen();
    setTextBackground(kTitleBackground);
    writeLine("Preferidas" + suffix);
    setTextBackground(0);
    writeLine();
    const uint8_t option = c == 0 ? 0 : upperAscii(c);
    // The slots cannot be shown or played from a list that cannot be read.
    if ((option == 'F' || option == 'P') && !stationListReadable()) continue;
    switch (option) {
      case 'F': browseFavourites(); break;
      case 'P': playFavouriteByNumber(); break;
      case 'U': playLastAddress(); break;
      default: sayMessage("ODOPINV", 1); break;
    }
  }
}

// ---- The browse -----------------------------------------------------------------

void browseFavourites() {
  clearScreen();
  setTextBackground(kTitleBackground);
  sayMessage("ODFOLPRF", 1);
  setTextBackground(0);

  const int row = whereY();
  openList(whereX(), row, 80, row + kFavouriteCount);
  FavouriteSlots slots = loadFavourites();
  for (int n = 1; n <= kFavouriteCount; ++n)
    addListItem(favouriteItemText(n, slots[static_cast<size_t>(n - 1)].name));

  int cursor = 1;
  std::string chosenName, chosenAddress;
  flushKeys();
  for (;;) {
    const ListRunResult r = runList(cursor, true);
    cursor = r.index;
    if (!r.chosen) break;
    const uint8_t c = upperAscii(r.key);
    if (c == kEnter) {
      chosenName = slots[static_cast<size_t>(cursor - 1)].name;
      chosenAddress = slots[static_cast<size_t>(cursor - 1)].address;
      break;
    }
    if (c == kEsc) break;
    switch (c) {
      case 'A':
      case 'R': removeFavourite(cursor); break;
      case 'C': cloneFavourite(cursor); break;
      case 'E': editFavourite(cursor); break;
      default:
        gotoXY(1, 25);
        sayMessage("ODREDENT", 0);
        waitWhileSpeaking();
        break;
    }
    slots = loadFavourites();
  }
  closeList();

  if (chosenAddress.empty()) return;
  clearScreen();
  setTextBackground(kTitleBackground);
  writeLine(chosenName);
  setTextBackground(0);
  writeLine();
  appState().lastAddress = chosenAddress;
  playFavouriteAddress(chosenAddress);
}

void removeFavourite(int n) {
  showSlotHeading();
  sayMessage("ODCNFRMI", 0);
  writeNumberSpoken(n);
  writeText(" ");
  if (chooseLetter("SN") != 'S') return;
  clearFromLine(3);
  clickSound();
  clickSound();
  eraseStationEntry(favouritesSection(), favouriteKey(n));
  refreshFavouriteItems();
}

void editFavourite(int n) {
  showSlotHeading();
  FavouriteSlot slot;
  const std::string stored = readProfileString(favouritesSection(), favouriteKey(n), "", listFile());
  splitFavourite(stored, slot);
  // The question below decides the marker anew. It is taken off in any case,
  // as playing recognises it, so that answering N really drops it.
  if (hasExternalMarker(slot.address, MarkerMatch::AnyCase))
    slot.address.erase(0, kExternalMarker.size());

  sayMessage("ODEDNOMR", 1);
  if (editSlotText(slot.name, kFavouriteNameLength) == kEsc) return;
  // The first "=" of the stored value ends the name, and a value without a
  // name reads as an empty slot: such a name would lose the favourite.
  const std::string name(trimmed(slot.name));
  if (name.empty() || name.find('=') != std::string::npos) {
    errorBeep();
    return;
  }
  sayMessage("ODEDENDR", 1);
  if (editSlotText(slot.address, kFavouriteAddressLength) == kEsc) return;
  sayMessage("ODUSAPGX", 0);
  const uint8_t answer = chooseLetter("SN");
  if (answer == kEsc) return;
  writeLine();

  const std::string value =
      name + "=" + (answer == 'S' ? std::string(kExternalMarker) : std::string()) + slot.address;
  // The same favourite again is not written: a value holding characters this
  // program cannot show must not be rewritten in the form it was shown in.
  if (value != stored) storeStationEntry(favouritesSection(), favouriteKey(n), value);
  refreshFavouriteItems();
}

void cloneFavourite(int n) {
  showSlotHeading();
  const std::string value = readProfileString(favouritesSection(), favouriteKey(n), "", listFile());
  sayMessage("ODONDCLN", 0);
  std::string text;
  readLineSpoken(text);
  const std::optional<int> target = parseSlotNumber(text);
  if (!target) {
    sayMessage("ODNUMINV", 2);
    waitWhileSpeaking();
    return;
  }
  // A slot cloned onto itself is already what it would become (and a value
  // read back cut at the read limit must not replace the whole one).
  if (*target != n && !storeStationEntry(favouritesSection(), favouriteKey(*target), value)) return;
  refreshFavouriteItems();
  sayMessage("ODOK", 2);
}

// ---- Playing by number and the last address -----------------------------------

void playFavouriteByNumber() {
  sayMessage("ODINFNUM", 0);
  std::string text;
  readLineSpoken(text);
  const std::optional<int> n = parseSlotNumber(text);
  if (!n) {
    sayMessage("ODNUMINV", 2);
    sayMessage("ODUSEFF", 1);
    return;
  }
  // The slot's own key, whatever form of the number was typed ("05" is 5).
  FavouriteSlot slot;
  if (!splitFavourite(readProfileString(favouritesSection(), favouriteKey(*n), "", listFile()),
                      slot)) {
    sayMessage("ODERRRAD", 2);
    return;
  }
  clearScreen();
  setTextBackground(kTitleBackground);
  writeLineSpoken(slot.name);
  setTextBackground(0);
  writeLine(slot.address);
  writeLine();
  appState().lastAddress = slot.address;
  playFavouriteAddress(slot.address);
}

void playLastAddress() {
  clearScreen();
  setTextBackground(kTitleBackground);
  writeLine(appState().lastAddress);
  setTextBackground(0);
  writeLine();
  // With nothing heard since start-up the stream player reports the empty
  // address itself.
  playFavouriteAddress(appState().lastAddress);
}

}  // namespace ondaria
