// Search by name (main option B): every station of every category whose name
// contains a typed text, case and accents ignored, listed in file order as
// "name em category"; Enter plays the chosen one.
//
// The search reads the station list file as plain lines, so it sees every
// entry of every section in file order, duplicates and entries before the
// first section included. Lines are taken as the INI layer takes them: a
// header's name lies between "[" and the last "]", comment lines (";") are no
// stations, names are trimmed, and an address is the value as the layer reads
// it (blanks trimmed, a pair of enclosing quotes removed), so that a station
// found here plays exactly the address the category browse would play.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

// Shortest query accepted.
inline constexpr size_t kMinimumQueryLength = 3;

// foldUpper, then ASCII letters lower-cased: the form in which the query and
// the names are compared.
std::string foldForSearch(std::string_view text);

// The lines of the station list file without their line ends (CR LF or LF);
// empty when the file is missing or cannot be read.
std::vector<std::string> readStationListLines();

struct SearchResult {
  size_t line = 0;       // 0-based line number of the entry
  std::string name;      // the station's name
  std::string category;  // the section in force at that line (empty before the first)
};

// Every entry whose folded name contains `foldedQuery`, in file order.
std::vector<SearchResult> findStations(const std::vector<std::string>& lines,
                                       std::string_view foldedQuery);

// "name em category".
std::string searchResultText(const SearchResult& result);

// The address of an entry line, as the INI layer reads its value.
std::string entryLineAddress(std::string_view line);

void searchByName();

}  // namespace ondaria
