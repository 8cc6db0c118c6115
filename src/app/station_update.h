// Main option A: bringing the station list file up to date, either from a
// change file the user names (entries added, replaced or deleted section by
// section) or by fetching a complete new list over HTTP(S) that replaces the
// old one. The twenty favourites may be kept across either kind of update.
//
// The station list file is never left damaged: a fetched list is written to a
// temporary file beside it and renamed over it only after the whole transfer
// succeeded and the result reads as a station list, so a failed, partial or
// nonsensical transfer leaves the old file byte for byte as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/http_download.h"

namespace ondaria {

// Number of favourite slots kept across an update (slots "1" to "20" of the
// section "PREFERIDAS").
inline constexpr int kFavouriteSlots = 20;

// The favourites saved for one update: empty when the user did not ask to
// keep them, otherwise the stored values of the twenty slots in slot order.
using SavedFavourites = std::vector<std::string>;

// Main option A: asks whether to keep the favourites, then whether to update
// from the internet (N: from a change file; any other answer, ESC included:
// from the internet), runs that update and writes the favourites back. The
// internet update fetches the list at the update source when one is set, and
// otherwise builds it from the open station directory (directory_update.h).
void updateStationList();

// Asks whether to keep the favourites; on S returns the values of the twenty
// slots, otherwise an empty list.
SavedFavourites saveFavourites();
// Writes saved value n back as slot n for n = 1..20 (nothing when `saved` is
// empty) and empties `saved`. False when the station list could not be written.
bool restoreFavourites(SavedFavourites& saved);

// The change-file update: asks for the file name and whether existing entries
// may be replaced, then applies the file line by line.
void updateFromChangeFile();

// What became of one change line.
enum class ChangeResult {
  applied,      // written, deleted, or left alone because it already had a value
  invalid,      // the line could not be applied; nothing changed, nothing said
  writeFailed,  // the station list file could not be written; nothing reported
};

// Applies one line "key=value" of a change file to `section` of the station
// list file. A value with a non-blank character sets the entry (untrimmed),
// unless `overwrite` is false and the entry already has a value; an empty or
// blank value deletes the entry, and the line "=" deletes the whole section.
// A line without "=", one outside any section (before the first section line,
// or under "[]"), a blank but non-empty key, or text the station list file
// cannot hold (see console/core/ini_text.h) is invalid; the caller reports it.
ChangeResult applyChange(const std::string& section, const std::string& line, bool overwrite);

// Invalid lines of one change file reported one by one, each shown, spoken
// and waiting for Enter (or ESC, which gives up the rest of the file); the
// ones after them are only counted and told in one sentence at the end, so a
// wrong or damaged file cannot hold the user in a row of questions.
inline constexpr int kInvalidLinesReported = 3;
// Characters of an invalid line shown and spoken.
inline constexpr size_t kInvalidLineShown = 70;

// The internet update: fetches the complete list from the update source into
// a temporary file and renames it over the station list file. On failure the
// user hears why and the station list file is unchanged. True on success.
bool updateFromInternet();

// The update source: the setting SITEATUALIZA, blanks trimmed; empty when
// none is set.
std::string updateSource();

// The parts of an update source: everything up to and including the first
// "//" is dropped; the host is the text before the next "/" (empty when there
// is none, which makes the fetch fail) and the path the text from that "/" on.
// `secure` is true for an "https:" source, which is fetched over TLS.
struct UpdateSourceParts {
  bool secure = false;
  std::string host;  // "name" or "name:port"
  std::string path;
};
UpdateSourceParts splitUpdateSource(const std::string& url);

// Outcome of one transfer, for the caller and for tests.
struct FetchResult {
  bool ok = false;
  int status = 0;  // last HTTP status, 0 when no answer was read
  NetFailure failure = NetFailure::none;
  std::uint64_t bytes = 0;
  explicit operator bool() const { return ok; }
};

// The HTTP transfer of a complete list: GET `path` from `host` (TLS when
// `secure`), redirections followed, the body stored in `fileName` (created or
// replaced) up to the station list size limit. Shows the answer's status on
// the screen and clicks before and after the body; says "Erro de escrita do
// arquivo" when the file cannot be written. Success means a 200 answer whose
// whole body is in the file; after a failure the file may hold part of it.
FetchResult fetchToFile(const std::string& host, const std::string& path,
                        const std::string& fileName, bool secure = false);

// True when the file holds at least one section line ("[" as the first
// non-blank character of a line, a "]" later on it): an error page or a
// captive portal's login page answered with 200 has none and must not replace
// the station list.
bool looksLikeStationList(const std::string& fileName);

// Replaces the station list file with a complete new list that `write` puts
// into the temporary file it is given (beside the list, or beside the file a
// symbolic link of the list's name points at). The new list takes the old
// one's place with one rename, after its bytes reached the disk and only when
// `write` succeeded and the file reads as a station list; otherwise the
// temporary file is deleted and the old list is left as it was. At every
// moment the station list file is either the old list or the new one. A list
// that may not be replaced (read-only, see ini::canReplaceFile) is refused
// before `write` is called.
bool replaceStationList(const std::function<bool(const std::string& temporary)>& write);

}  // namespace ondaria
