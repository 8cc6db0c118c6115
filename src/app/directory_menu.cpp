#include "app/directory_menu.h"

#include <algorithm>
#include <cstdint>

#include "app/app_state.h"
#include "app/directory_client.h"
#include "app/favourites.h"
#include "app/station_list.h"
#include "console/core/console.h"
#include "console/core/messages.h"
#include "console/core/settings.h"
#include "console/ui/field_editor.h"
#include "console/ui/marked_list.h"
#include "console/ui/option_menu.h"
#include "platform/codepage.h"
#include "playback/playback_session.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr uint8_t kEnter = 13;
constexpr uint8_t kEsc = 27;
constexpr uint8_t kKeyF1 = 59;
constexpr uint8_t kKeyF2 = 60;
constexpr int kTitleBackground = 1;
constexpr int kPromptBackground = 4;
constexpr int kMenuBackground = 5;
// Longest part of a name typed for a search.
constexpr int kNameLength = 100;
// Rows under the result list for what P tells (place, genres, format, votes).
constexpr int kInfoRows = 4;
// The row of the count of stations found; the list starts below it.
constexpr int kCountRow = 3;
// The longest address a station list entry reads back whole (the INI
// layer's read limit).
constexpr size_t kStoredAddressLength = 254;

std::string favouritesSection() { return std::string(kFavouritesSection); }

std::string effectiveCountry(const DirectoryFilters& filters) {
  return filters.countryChosen ? filters.country : directoryCountry();
}

std::string orAll(const std::string& value) {
  return value.empty() ? messageText("ODDIRTOD") : value;
}

// The state as it is searched: a Brazilian state's code written out.
std::string searchedState(const DirectoryFilters& f) {
  return effectiveCountry(f) == "BR" ? brazilianStateName(f.state) : f.state;
}

// "País: BR   Estado: todos   Gênero: todos", written and not spoken: the
// filters are heard when they are changed.
void showFilters() {
  const DirectoryFilters& f = directoryFilters();
  writeLine(messageText("ODDIRPAI") + orAll(effectiveCountry(f)) + "   " +
            messageText("ODDIRUF") + orAll(searchedState(f)) + "   " + messageText("ODDIRGEN") +
            orAll(f.tag));
}

// Asks for one filter's new value at the cursor; ESC keeps the old one.
bool askFilter(const char* key, std::string& value) {
  sayMessage(key, 0);
  std::string text;
  const uint8_t end = editFieldToRightEdge(text, whereX(), whereY(), true, kNameLength);
  writeLine();
  if (end == kEsc) return false;
  value = cleanDirectoryText(platform::cp1252ToUtf8(text), kNameLength);
  return true;
}

// F2 at the name question: a menu of the filters, then the chosen one asked.
void changeFilters() {
  DirectoryFilters& f = directoryFilters();
  const std::string items[] = {
      messageText("ODFILUF") + orAll(searchedState(f)),
      messageText("ODFILGEN") + orAll(f.tag),
      messageText("ODFILPAI") + orAll(effectiveCountry(f)),
      messageText("ODFILLIM"),
  };
  makeRoomBelow(5);
  openOptionMenu(whereX(), whereY(), 60, kMenuBackground, 4);
  for (const std::string& item : items) addOption("", item);
  const int chosen = runOptionMenu();
  writeLine();
  if (chosen == 1) {
    askFilter("ODPERUF", f.state);
  } else if (chosen == 2) {
    std::string tag;
    if (askFilter("ODPERGEN", tag)) {
      for (char& c : tag)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      f.tag = tag;
    }
  } else if (chosen == 3) {
    std::string text;
    if (!askFilter("ODPERPAI", text)) return;
    const std::string folded = foldUpper(text);
    if (folded.empty()) {
      f.countryChosen = false;
    } else if (folded == "TODOS" || folded == "*") {
      f.countryChosen = true;
      f.country.clear();
    } else if (const std::string code = normalizedCountryCode(text, ""); !code.empty()) {
      f.countryChosen = true;
      f.country = code;
    } else {
      sayMessage("ODPAISIN", 2);
    }
  } else if (chosen == 4) {
    f = DirectoryFilters{};
    sayMessage("ODOK", 1);
  }
}

int listBottomRow() { return std::max(kCountRow + 2, 24 - stripRows() - kInfoRows); }
int infoTopRow() { return listBottomRow() + 1; }

void clearInfo() { clearFromLine(infoTopRow()); }

// P or F1 on an item: place, genres, format and votes, each written and spoken.
void showStationInfo(const DirectoryStation& s) {
  clearInfo();
  auto line = [](const char* key, const std::string& value) {
    if (value.empty()) return;
    sayMessage(key, 0);
    writeLineSpoken(value.substr(0, static_cast<size_t>(kConsoleColumns - 1) -
                                        std::min<size_t>(messageText(key).size(), 40)));
  };
  std::string tags;
  for (const std::string& t : s.tags) tags += (tags.empty() ? "" : ", ") + t;
  line("ODDIRLOC", directoryPlaceText(s));
  line("ODDIRTAG", tags);
  line("ODDIRFMT", directoryFormatText(s));
  line("ODDIRVOT", std::to_string(s.votes));
}

void showListKeys() {
  clearInfo();
  sayMessage("ODDIROPC", 0);
  waitWhileSpeaking();
}

// S/N question after `key`'s text; true on S.
bool confirm(const char* key) {
  sayMessage(key, 0);
  const uint8_t answer = chooseLetter("SN");
  writeLine();
  return answer == 'S';
}

// I on an item: into a category chosen with the category choice.
void includeInCategory(const DirectoryStation& s) {
  clearInfo();
  gotoXY(1, infoTopRow());
  const std::string category = chooseCategory();
  if (category.empty()) return;
  clearInfo();
  gotoXY(1, infoTopRow());
  const std::string name = storableDirectoryName(s.name);
  if (s.address.size() > kStoredAddressLength || name.empty()) {
    sayMessage("ODENDLNG", 1);
    waitWhileSpeaking();
    return;
  }
  const std::string existing = readProfileString(category, name, "", appState().stationListPath);
  if (!existing.empty() && existing != s.address && !confirm("ODDIRSUB")) return;
  if (storeStationEntry(category, name, s.address)) sayMessage("ODOK", 1);
  waitWhileSpeaking();
}

// C on an item: into the favourite slot the user names.
void keepAsFavourite(const DirectoryStation& s) {
  clearInfo();
  gotoXY(1, infoTopRow());
  const std::string name = storableDirectoryName(s.name);
  if (s.address.size() + name.size() + 1 > kStoredAddressLength || name.empty()) {
    sayMessage("ODENDLNG", 1);
    waitWhileSpeaking();
    return;
  }
  sayMessage("ODDIRPRF", 0);
  std::string text;
  readLineSpoken(text);
  const std::optional<int> slot = parseSlotNumber(text);
  if (!slot) {
    sayMessage("ODNUMINV", 1);
    waitWhileSpeaking();
    return;
  }
  const std::string value = name + "=" + s.address;
  const std::string key = favouriteKey(*slot);
  FavouriteSlot old;
  const bool taken =
      splitFavourite(readProfileString(favouritesSection(), key, "", appState().stationListPath), old);
  if (taken && old.name + "=" + old.address != value && !confirm("ODPRFOCU")) return;
  if (storeStationEntry(favouritesSection(), key, value)) sayMessage("ODOK", 1);
  waitWhileSpeaking();
}

void play(const DirectoryStation& s, const std::string& mirror) {
  clearScreen();
  setTextBackground(kTitleBackground);
  writeLine(s.name);
  setTextBackground(0);
  writeLine(s.address);
  writeLine();
  appState().lastAddress = s.address;
  // The directory counts plays to rank its stations; it is told on the side.
  reportDirectoryPlay(mirror, s.uuid);
  // The address is never the external player's: the directory's addresses
  // are plain http(s) ones. Ctrl+R (remove) has nothing to remove here.
  playAddress(s.address);
}

// Draws the count and the list of names from the count row on. The count is
// shown, not spoken: the first station found is the first thing heard.
void openResults(const DirectoryStations& found) {
  clearFromLine(kCountRow);
  writeLine(messageText("ODDIRENC") + std::to_string(found.stations.size()));
  openList(1, whereY(), 79, listBottomRow());
  for (const DirectoryStation& s : found.stations) addListItem(s.name);
}

// The result list until ESC.
void browseResults(const DirectoryStations& found, const std::string& mirror) {
  int cursor = 1;
  bool speakFirst = true;
  openResults(found);
  for (;;) {
    const ListRunResult r = runList(cursor, speakFirst);
    cursor = r.index;
    speakFirst = true;
    if (r.key == kEsc) break;
    if (!r.chosen) {
      // Past either end: nothing is under the cursor to act on.
      if (r.key != 0) errorBeep();
      continue;
    }
    const DirectoryStation& s = found.stations[static_cast<size_t>(cursor - 1)];
    const uint8_t key = r.key == 0 ? 0 : upperAscii(r.key);
    if (key == kEnter) {
      closeList();
      play(s, mirror);
      clearScreen();
      setTextBackground(kTitleBackground);
      writeLine("Ondaria - " + messageText("ODOPC_N"));
      setTextBackground(0);
      openResults(found);
    } else if (key == 'P' || (key == 0 && r.code == kKeyF1)) {
      showStationInfo(s);
      speakFirst = false;
    } else if (key == 'I' || key == 'C') {
      closeList();
      if (key == 'I') includeInCategory(s);
      else keepAsFavourite(s);
      openResults(found);
    } else {
      showListKeys();
      speakFirst = false;
    }
  }
  closeList();
}

}  // namespace

DirectoryFilters& directoryFilters() {
  static DirectoryFilters filters;
  return filters;
}

DirectorySearch directorySearchFor(const std::string& name, const DirectoryFilters& filters) {
  DirectorySearch search;
  search.name = name;
  search.countryCode = effectiveCountry(filters);
  // Brazilian states are mostly written out in the directory ("São Paulo").
  search.state = searchedState(filters);
  search.tag = filters.tag;
  return search;
}

std::string directoryPlaceText(const DirectoryStation& s) {
  if (s.state.empty()) return s.countryCode;
  return s.countryCode.empty() ? s.state : s.state + ", " + s.countryCode;
}

std::string directoryFormatText(const DirectoryStation& s) {
  std::string text = s.codec;
  if (s.bitrate > 0) {
    if (!text.empty()) text += ' ';
    text += std::to_string(s.bitrate);
    text += " kbps";
  }
  if (s.hls) text += text.empty() ? "HLS" : ", HLS";
  return text;
}

std::string storableDirectoryName(const std::string& name) {
  const size_t start = name.find_first_not_of(";[= ");
  if (start == std::string::npos) return {};
  std::string out = name.substr(start);
  std::replace(out.begin(), out.end(), '=', '-');
  return isStorableStationName(out) ? out : std::string();
}

void searchDirectory() {
  std::string name;
  // The question is asked below the last answer, as the other searches do;
  // after the result list or the filters the screen is laid out anew.
  bool fresh = true;
  for (;;) {
    if (fresh) clearFromLine(kCountRow);
    fresh = false;
    showFilters();
    setTextBackground(kPromptBackground);
    sayMessage("ODDIRNOM", 1);
    setTextBackground(0);
    const uint8_t end = editFieldToRightEdge(name, 1, whereY(), true, kNameLength);
    writeLine();
    if (end == kEsc) {
      sayMessage("ODDESIST", 1);
      return;
    }
    fresh = true;
    if (end == kKeyF2) {
      changeFilters();
      continue;
    }
    if (end != kEnter) continue;

    const DirectoryQuery query =
        queryDirectory(directorySearchTarget(directorySearchFor(name, directoryFilters())),
                       [] { sayMessage("ODUMOMEN", 1); });
    fresh = false;
    if (query.outcome == DirectoryOutcome::givenUp) {
      sayMessage("ODDESIST", 2);
    } else if (query.outcome == DirectoryOutcome::failed) {
      sayMessage("ODERRSRV", 2);
    } else if (query.answer.stations.empty()) {
      sayMessage("ODNADAPA", 2);
    } else {
      // The waiting message, if any, gives way to the first station.
      stopSpeech();
      browseResults(query.answer, query.mirror);
      fresh = true;
    }
  }
}

}  // namespace ondaria
