// Main option N: searching the open station directory and using what it
// finds, as the user meets it.
//
// The user types part of a name (nothing: the most voted stations) or F2 to
// change the filters (state, genre tag, country; the country starts as the
// setting ONDARIA/PAIS, Brazil by default, and the filters hold until the
// program ends). The stations found are offered in a list, most voted first,
// each spoken by its name. On the item under the cursor:
//   Enter   plays it through the stream player (and tells the directory);
//   P, F1   says where it is, its genres, its format and its votes;
//   I       includes it into a category chosen with the category choice;
//   C       puts it into a favourite slot;
//   ESC     back to the name question (ESC there ends the option);
// any other key says these keys.
#pragma once

#include <string>

#include "app/directory_stations.h"

namespace ondaria {

// Main option N.
void searchDirectory();

// The filters of the searches, kept for the rest of the run.
struct DirectoryFilters {
  bool countryChosen = false;  // false: the setting's country
  std::string country;         // two letters, or empty for any country
  std::string state;           // as typed (a Brazilian state's code or a name)
  std::string tag;
};
DirectoryFilters& directoryFilters();

// The search the filters and a typed name make.
DirectorySearch directorySearchFor(const std::string& name, const DirectoryFilters& filters);

// The lines of P on a station: place, genres, format, votes (label + value;
// fields the directory left empty are left out).
std::string directoryPlaceText(const DirectoryStation& station);
std::string directoryFormatText(const DirectoryStation& station);

// A station name as the station list file can hold it as an entry name: ";",
// "[", "=" and blanks at its start (which would read back as a comment, a
// section or an empty name) are dropped and any other "=" becomes "-". Empty
// when nothing is left.
std::string storableDirectoryName(const std::string& name);

}  // namespace ondaria
