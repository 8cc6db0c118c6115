#include "app/station_list.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <utility>

#include "app/app_state.h"
#include "console/core/console.h"
#include "console/core/ini_file.h"
#include "console/core/magnified_strip.h"
#include "console/core/settings.h"
#include "console/ui/marked_list.h"
#include "console/ui/option_menu.h"
#include "playback/external_player.h"
#include "playback/playback_session.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr uint8_t kEnter = 13;
constexpr uint8_t kEsc = 27;
// Colour indexes with a fixed role: title lines and prompts.
constexpr int kTitleBackground = 1;
constexpr int kPromptBackground = 4;

const std::string& listFile() { return appState().stationListPath; }

bool holdsLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool isFavouritesSection(std::string_view name) {
  if (name.size() != kFavouritesSection.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (upperAscii(static_cast<uint8_t>(name[i])) != static_cast<uint8_t>(kFavouritesSection[i]))
      return false;
  return true;
}

}  // namespace

namespace {

std::string parentOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool sameDirectory(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  if (std::filesystem::equivalent(nativePath(a), nativePath(b), ec)) return true;
  return nativePath(a) == nativePath(b);
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(ini::matchFileName(nativePath(path)), ec);
}

// Copies `from` to `to` byte for byte through the INI layer's atomic write,
// creating the folders on the way.
bool copyStartingList(const std::string& from, const std::string& to) {
  const auto text = ini::loadIniFile(ini::matchFileName(nativePath(from)));
  if (!text) return false;
  std::error_code ec;
  std::filesystem::create_directories(nativePath(parentOf(to)), ec);
  return ini::storeIniFile(nativePath(to),
                           std::make_shared<ini::IniText>(text->bytes(), text->encoding()));
}

}  // namespace

std::string locateStationList() {
  const std::string user = userSettingsDirectory();
  const std::string system = systemSettingsDirectory();
  std::string path = readSetting("ONDARIA", "DIRINDICE");
  std::string systemList;
  if (path.empty()) {
    path = user + "/" + std::string(kStationListName);
    systemList = system + "/" + std::string(kStationListName);
  } else if (sameDirectory(parentOf(path), system)) {
    // A list named in the system-wide directory: the user's copy of it.
    systemList = path;
    path = user + "/" + baseNameOf(systemList);
  } else {
    return path;
  }
  if (fileExists(path) || !fileExists(systemList)) return path;
  return copyStartingList(systemList, path) ? path : systemList;
}

int stripRows() { return stripFactor(); }

// ---- The file ---------------------------------------------------------------

std::vector<std::string> categoryNames() {
  std::vector<std::string> names = profileSectionNames(listFile());
  // A section without a name cannot be chosen (an empty answer means ESC) nor
  // written to, so it is no category either.
  std::erase_if(names, [](const std::string& n) { return n.empty() || isFavouritesSection(n); });
  return names;
}

bool isStorableStationName(std::string_view name) {
  const std::string_view key = trimmed(name);
  if (key.empty() || holdsLineBreakOrNul(name)) return false;
  if (key.find('=') != std::string_view::npos) return false;
  return key.front() != ';' && key.front() != '[';
}

bool storeStationEntry(const std::string& section, const std::string& name,
                       const std::string& value) {
  if (!isStorableStationName(name) || trimmed(section).empty() || holdsLineBreakOrNul(section) ||
      holdsLineBreakOrNul(value)) {
    errorBeep();
    return false;
  }
  if (!writeProfileString(section, name, value, listFile())) {
    sayMessage("ODERRWAR", 2);
    return false;
  }
  return true;
}

bool unchangedByEdit(std::string_view stored, std::string_view edited, int maxLength) {
  std::string_view offered = stored.substr(0, static_cast<size_t>(std::max(maxLength, 0)));
  offered = offered.substr(0, offered.find_last_not_of(' ') + 1);
  return edited == offered;
}

bool eraseStationEntry(const std::string& section, const std::string& name) {
  if (!eraseProfileEntry(section, name, listFile())) {
    sayMessage("ODERRWAR", 2);
    return false;
  }
  return true;
}

void reportReadError(std::string_view key, int error) {
  const char* reason = "ODERRDIS";
  if (error == EACCES || error == EPERM) reason = "ODSEMPER";
  else if (error == EISDIR) reason = "ODEPASTA";
  else if (error == EFBIG) reason = "ODGRANDE";
  sayMessage(key, 0);
  sayMessage(reason, 1);
}

bool stationListReadable() {
  const int error = profileReadError(listFile());
  if (error == 0) return true;
  reportReadError("ODLSTILE", error);
  writeLine(listFile());
  writeLine();
  return false;
}

// ---- Playing ----------------------------------------------------------------

bool hasExternalMarker(std::string_view value, MarkerMatch match) {
  if (value.size() < kExternalMarker.size()) return false;
  for (size_t i = 0; i < kExternalMarker.size(); ++i) {
    uint8_t c = static_cast<uint8_t>(value[i]);
    if (match == MarkerMatch::AnyCase) c = upperAscii(c);
    if (c != static_cast<uint8_t>(kExternalMarker[i])) return false;
  }
  return true;
}

int playStoredAddress(const std::string& value, MarkerMatch match) {
  if (hasExternalMarker(value, match))
    return playExternal(std::string(trimmed(std::string_view(value).substr(kExternalMarker.size()))));
  return playAddress(value);
}

// ---- The category choice and the browse --------------------------------------

void sortStationNames(std::vector<std::string>& names) {
  // Fold every name once; the comparison is then plain byte order, which does
  // not depend on the locale.
  std::vector<std::pair<std::string, size_t>> keys;
  keys.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) keys.emplace_back(foldUpper(names[i]), i);
  std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
    return std::string_view(a.first) < std::string_view(b.first);
  });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (const auto& k : keys) sorted.push_back(std::move(names[k.second]));
  names = std::move(sorted);
}

int nextByFirstLetter(const std::vector<std::string>& names, int cursor, uint8_t letter) {
  const int count = static_cast<int>(names.size());
  const uint8_t wanted = upperAscii(letter);
  for (int i = std::max(cursor + 1, 1); i <= count; ++i) {
    const std::string& name = names[static_cast<size_t>(i - 1)];
    if (name.empty()) continue;
    const uint8_t first =
        static_cast<uint8_t>(foldUpper(upperWithAccents(std::string_view(name).substr(0, 1)))[0]);
    if (first == wanted) return i;
  }
  return count + 1;
}

std::string chooseCategory() {
  if (!stationListReadable()) return {};
  setTextBackground(kPromptBackground);
  sayMessage("ODSELCAT", 1);
  setTextBackground(0);
  const std::vector<std::string> names = categoryNames();
  const int row = whereY();
  openOptionMenu(1, row, 80, 0, 26 - row - stripRows());
  for (const std::string& name : names) addOption("", name);
  const int chosen = runOptionMenu();
  if (chosen < 1 || chosen > static_cast<int>(names.size())) return {};
  return names[static_cast<size_t>(chosen - 1)];
}

namespace {

// Runs the browse list from `cursor` until Enter or ESC; other characters move
// to the next station beginning with them. Returns the last run's result.
ListRunResult runBrowseList(const std::vector<std::string>& names, int cursor) {
  ListRunResult r = runList(cursor, true);
  while (r.key != kEnter && r.key != kEsc) {
    cursor = r.index;
    if (r.key != 0) {
      cursor = nextByFirstLetter(names, cursor, r.key);
      if (cursor > static_cast<int>(names.size())) errorBeep();
    }
    r = runList(cursor, true);
  }
  return r;
}

// Plays the station `name`; after a playback ended with Ctrl+R asks whether to
// remove it and, on S, removes it from the file and from `names`.
void playFromBrowse(const std::string& category, std::vector<std::string>& names, int cursor) {
  const std::string name = names[static_cast<size_t>(cursor - 1)];
  const std::string value = readProfileString(category, name, "", listFile());
  if (value.empty()) return;  // a station without an address has nothing to play

  clearFromLine(3);
  setTextBackground(kPromptBackground);
  writeLine(name);
  setTextBackground(0);
  writeLine(value);
  writeLine();
  appState().lastAddress = value;
  if (playStoredAddress(value, MarkerMatch::Exact) >= 0) return;

  sayMessage("ODCNFRMI", 0);
  writeSpoken(name);
  writeText("? ");
  const uint8_t answer = chooseLetter("SN");
  writeLine();
  if (answer != 'S') return;
  if (!eraseStationEntry(category, name)) return;
  names.erase(names.begin() + (cursor - 1));
  sayMessage("ODOKRM", 2);
}

}  // namespace

void browseCategory(const std::string& category) {
  std::vector<std::string> names = profileKeyNames(category, listFile());
  sortStationNames(names);
  // The list shows at most kMaxListItems names; the rest could not be chosen.
  if (names.size() > static_cast<size_t>(kMaxListItems)) names.resize(kMaxListItems);
  int cursor = 0;
  for (;;) {
    clearScreen();
    setTextBackground(kTitleBackground);
    writeLineSpoken(category);
    setTextBackground(0);
    writeLine();
    setTextBackground(kPromptBackground);
    sayMessage("ODSELRAD", 1);
    setTextBackground(0);

    openList(1, whereY(), 50, 24 - stripRows());
    for (const std::string& name : names) addListItem(name);
    const ListRunResult r = runBrowseList(names, cursor);
    cursor = r.index;
    closeList();

    if (r.key == kEsc) break;
    if (r.chosen) playFromBrowse(category, names, cursor);
  }
  clearFromLine(3);
  sayMessage("ODFIMFOL", 2);
}

}  // namespace ondaria
