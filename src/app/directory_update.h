// Main option A's directory source: a complete station list of one country
// built from the open station directory, with categories from the stations'
// genre tags.
//
// The stations of the country (the setting ONDARIA/PAIS) come most voted
// first. Their tags are read as genres: common ones get a Portuguese name
// ("news" and "notícias" are both "Notícias"), and tags that name no genre
// (the country, a state, "fm", "web radio", ...) are passed over. The
// kDirectoryGenres genres held by the most stations become categories, each
// with its kDirectoryStationsPerGenre most voted stations (a station may be
// in several); stations in none of them go to "Outras", up to
// kDirectoryOtherStations. Categories are in alphabetical order, "Outras"
// last. Within a category a name that is already there gets its state in
// parentheses; should that be taken too, the station is left out.
//
// The new list replaces the old one as the update from an address does
// (station_update.h): at once and whole, or not at all.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/directory_stations.h"

namespace ondaria {

inline constexpr size_t kDirectoryGenres = 20;
inline constexpr size_t kDirectoryStationsPerGenre = 100;
inline constexpr size_t kDirectoryOtherStations = 300;
// Stations asked for: every station of even the largest countries.
inline constexpr int kDirectoryUpdateLimit = 10000;

// The category a tag names, or empty when the tag names no genre.
std::string genreCategory(const std::string& tag);

struct DirectoryList {
  std::string text;  // the station list file: cp1252, CR LF
  size_t stations = 0;    // entries written (a station in two categories counts twice)
  size_t categories = 0;
};

// Builds the station list file from the stations (most voted first) of
// `countryCode`.
DirectoryList buildDirectoryList(const std::vector<DirectoryStation>& stations,
                                 const std::string& countryCode);

// The directory source of main option A: asks to confirm, fetches the
// country's stations, and replaces the station list. True when replaced.
bool updateFromDirectory();

}  // namespace ondaria
