#include "app/search.h"

#include <fstream>
#include <iterator>

#include "app/app_state.h"
#include "app/station_list.h"
#include "console/core/console.h"
#include "console/core/ini_file.h"
#include "console/core/settings.h"
#include "console/ui/field_editor.h"
#include "console/ui/marked_list.h"
#include "platform/codepage.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr uint8_t kEnter = 13;
constexpr uint8_t kEsc = 27;
constexpr int kTitleBackground = 1;
// Pause after "Não encontrei nada parecido", so the message is heard before
// the main menu speaks again.
constexpr int kNothingFoundPauseMs = 1000;

std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string foldForSearch(std::string_view text) {
  std::string folded = foldUpper(text);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

std::vector<std::string> readStationListLines() {
  std::vector<std::string> lines;
  std::ifstream in(ini::matchFileName(nativePath(appState().stationListPath)), std::ios::binary);
  if (!in) return lines;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Read as the INI layer reads it: Windows-1252 or UTF-8, lines ending in
  // CR LF, LF or a lone CR.
  const std::string text = platform::decodeFileText(bytes, platform::detectTextEncoding(bytes));
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text, start, end - start);
    start = end;
    if (start < text.size() && text[start] == '\r' && start + 1 < text.size() &&
        text[start + 1] == '\n')
      start += 2;
    else if (start < text.size())
      ++start;
  }
  return lines;
}

std::vector<SearchResult> findStations(const std::vector<std::string>& lines,
                                       std::string_view foldedQuery) {
  std::vector<SearchResult> results;
  std::string category;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = trimmed(lines[i]);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      // The name ends at the last "]"; a header without one runs to the line end.
      const size_t close = line.rfind(']');
      const std::string_view name =
          close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1);
      category = std::string(trimmed(name));
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view name = trimmed(line.substr(0, equals));
    if (name.empty()) continue;
    if (foldForSearch(name).find(foldedQuery) == std::string::npos) continue;
    results.push_back({i, std::string(name), category});
  }
  return results;
}

std::string searchResultText(const SearchResult& result) {
  return result.name + " em " + result.category;
}

std::string entryLineAddress(std::string_view line) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return {};
  std::string_view value = trimmed(line.substr(equals + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

void searchByName() {
  for (;;) {
    sayMessage("ODNOMBUS", 1);
    std::string query;
    readLineSpoken(query);
    if (query.empty()) {
      sayMessage("ODDESIST", 1);
      return;
    }
    if (query.size() < kMinimumQueryLength) {
      sayMessage("ODNOMINV", 2);
      continue;
    }

    // Read again for every query: changes made meanwhile are seen.
    if (!stationListReadable()) return;
    const std::vector<std::string> lines = readStationListLines();
    std::vector<SearchResult> results = findStations(lines, foldForSearch(query));
    if (results.empty()) {
      sayMessage("ODNADAPA", 2);
      delayMs(kNothingFoundPauseMs);
      return;
    }
    // What the list cannot hold could not be chosen either.
    if (results.size() > static_cast<size_t>(kMaxListItems)) results.resize(kMaxListItems);

    openList(1, whereY(), 79, 24 - stripRows());
    for (const SearchResult& result : results) addListItem(searchResultText(result));
    ListRunResult r = runList(1, true);
    while (r.key != kEnter && r.key != kEsc) r = runList(r.index, false);
    const std::string chosenText = getListItem(r.index).text;
    closeList();
    if (r.key == kEsc || !r.chosen) {
      clearFromLine(4);
      continue;
    }

    const std::string address =
        entryLineAddress(lines[results[static_cast<size_t>(r.index - 1)].line]);
    clearScreen();
    setTextBackground(kTitleBackground);
    writeLine(chosenText);
    setTextBackground(0);
    appState().lastAddress = address;
    playStoredAddress(address, MarkerMatch::AnyCase);
    return;
  }
}

}  // namespace ondaria
