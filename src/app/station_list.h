// The station list file and the category browse.
//
// The station list file (appState().stationListPath, normally ondaria.ini) is
// the program's only database: an INI file whose sections are categories of
// stations and whose entries are stations, key = station name, value = its
// address. The section "PREFERIDAS" (any case) holds the twenty favourite slots
// instead and is not a category. Every read and write goes through the INI
// layer of console/core/settings.h, whose writes replace the file atomically,
// so no operation can leave a half-written list.
//
// An address that begins with the external-player marker "FFMPEG " is played
// by the external player with the address that follows the marker; any other
// address goes to the stream player whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

// The seven characters that send a station to the external player.
inline constexpr std::string_view kExternalMarker = "FFMPEG ";
// The section of the favourite slots; compared upper-cased.
inline constexpr std::string_view kFavouritesSection = "PREFERIDAS";

// Rows kept free at the bottom of the screen for the magnified strip: its
// factor (0 when the strip is off).
int stripRows();

// ---- The file ---------------------------------------------------------------

// The default name of the station list file.
inline constexpr std::string_view kStationListName = "ondaria.ini";

// Where the station list lives, fixed at start-up: the setting
// ONDARIA/DIRINDICE, or kStationListName in the user's settings directory.
// A list in the system-wide settings directory (which a user cannot change)
// is never the one used: the user's directory holds the user's own copy of
// it, and when that copy does not exist yet the system-wide list is copied
// there byte for byte as its starting content. Should the copy fail, the
// system-wide list is used as it is (it can be read, not changed).
std::string locateStationList();

// The categories of the station list file in file order: every section name
// except the favourites section, whatever its case.
std::vector<std::string> categoryNames();

// True when `name` can be a station name in the file: a key that is not empty
// after trimming blanks and holds no "=", line break or NUL, and does not begin
// with ";" or "[" (such a line would read back as a comment or a section).
bool isStorableStationName(std::string_view name);

// Writes one entry of the station list file. A name or value the layout
// cannot hold is refused with errorBeep; a file that cannot be written is
// reported with "Erro de escrita do arquivo". True when the entry was written.
bool storeStationEntry(const std::string& section, const std::string& name,
                       const std::string& value);
// True when the editor's result `edited` is what it was given: `stored`,
// which the editor holds cut to `maxLength` characters and returns without
// trailing blanks. Such an edit must not be written back.
bool unchangedByEdit(std::string_view stored, std::string_view edited, int maxLength);

// Erases one entry (an empty name: the whole section); a file that cannot be
// written is reported as above. True on success, also when nothing was there.
bool eraseStationEntry(const std::string& section, const std::string& name);

// Says that a file cannot be read: the message `key` ("Não consigo ler ...: ")
// followed by the reason for the system's error number (no permission, a
// folder, too big, a disk or system error).
void reportReadError(std::string_view key, int error);

// True when the station list file can be read (a missing file reads as an
// empty list); otherwise says why it cannot and returns false, so that no
// menu is shown empty without a word.
bool stationListReadable();

// ---- Playing ----------------------------------------------------------------

// How a stored address is checked for the external-player marker: as typed
// (the category browse) or in any case (favourites and search).
enum class MarkerMatch { Exact, AnyCase };

// True when `value` begins with the marker under `match`.
bool hasExternalMarker(std::string_view value, MarkerMatch match);

// Plays a stored address: with the marker, the external player gets the text
// after it with blanks trimmed at both ends (blanks never belong to an
// address); otherwise the stream player gets the whole value. Returns the
// player's result (negative: the user asked for the station's removal).
int playStoredAddress(const std::string& value, MarkerMatch match);

// ---- The category choice and the browse --------------------------------------

// Sorts station names alphabetically without regard to case and accents
// ("Ábaco" sorts with "Abelha"), stably (names that compare equal keep file
// order) and the same in every locale.
void sortStationNames(std::vector<std::string>& names);

// The first-letter move of the browse: from the 1-based `cursor` (0 before
// the first name), the next name after it whose first character, upper-cased
// with its accent removed, is `letter` upper-cased (ASCII letters). Returns its
// 1-based position, or names.size() + 1 when no later name begins so.
int nextByFirstLetter(const std::vector<std::string>& names, int cursor, uint8_t letter);

// Offers the categories in an option menu; returns the chosen name, or an
// empty text when the user left with ESC.
std::string chooseCategory();

// Main option F: the category's stations in alphabetical order; Enter plays
// one, letters move to the next station beginning with them, ESC ends with
// "Fim do Folheamento.". A playback ended with Ctrl+R offers the station's
// removal.
void browseCategory(const std::string& category);

}  // namespace ondaria
