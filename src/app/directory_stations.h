// Stations of the open station directory: what its answers hold, read from
// the JSON text it sends and made safe to show, speak, play and store.
//
// The directory is a community service: anyone can add a station, so every
// text of an answer is treated as hostile. Names and other texts become
// cp1252 without control bytes, runs of blanks or unbounded length; an
// address is kept only when it is an http or https address that the stream
// player can take as it is (never a local file, a command line or the
// external-player marker). A station without a usable name or address is
// left out and counted. The answer is read as a stream of events (SAX), so
// only the stations kept take memory, whatever the size of the answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

// Longest texts kept from an answer, in characters; longer ones are cut.
inline constexpr size_t kDirectoryNameLength = 100;
inline constexpr size_t kDirectoryTextLength = 200;
// Longest address kept (longer ones are no real stream address).
inline constexpr size_t kDirectoryAddressLength = 2048;
// Most stations kept from one answer; the rest are skipped.
inline constexpr size_t kDirectoryMaxStations = 20000;

struct DirectoryStation {
  std::string uuid;         // "stationuuid": hex digits and "-" only, else empty
  std::string name;         // cp1252, never empty
  std::string address;      // "url_resolved", or "url" when that is unusable
  std::vector<std::string> tags;  // genre tags, lower case as sent, cp1252
  std::string state;        // state or region, cp1252 (may be empty)
  std::string countryCode;  // two upper-case letters, or empty
  std::string language;     // cp1252 (may be empty)
  std::string codec;        // upper case ("MP3", "AAC"), or empty when unknown
  int bitrate = 0;          // kb/s, 0 when unknown
  bool hls = false;
  int64_t votes = 0;
};

struct DirectoryStations {
  bool ok = false;      // the answer was a complete JSON list
  size_t skipped = 0;   // entries left out (no usable name or address, broken, over the limit)
  std::vector<DirectoryStation> stations;  // in the order of the answer
};

// Reads an answer of the station search (a JSON list of station objects).
// Not ok for text that is not JSON, is cut short, or is not a list; entries of
// the wrong type and fields of the wrong type are skipped. Stations the
// directory marks as failing its last check ("lastcheckok" 0) are left out.
DirectoryStations parseDirectoryStations(std::string_view json);
DirectoryStations parseDirectoryStationsFile(const std::string& path);

// Reads the directory's list of mirror servers (a JSON list of objects with a
// "name"): the host names (with an optional ":port"), each once, in order.
// Names that are not host names are skipped. Empty when the text is unusable.
std::vector<std::string> parseDirectoryServers(std::string_view json);
std::vector<std::string> parseDirectoryServersFile(const std::string& path);

// A text of an answer (UTF-8) made fit for the screen and the voice: cp1252,
// characters cp1252 lacks dropped, control bytes and runs of blanks made one
// blank, blanks trimmed, cut to `maxLength` characters.
std::string cleanDirectoryText(std::string_view utf8, size_t maxLength);

// An address of an answer made fit for the stream player: blanks trimmed; only
// "http://" or "https://" addresses (either case) with a host and a valid
// port, no blanks, control bytes or the characters " < > \ ^ ` { | }, and at
// most kDirectoryAddressLength bytes; bytes above 127 are written as "%XX".
// Empty when the address is not usable.
std::string playableDirectoryAddress(std::string_view address);

// ---- Searching -------------------------------------------------------------------

// Stations a search asks for at most.
inline constexpr int kDirectorySearchLimit = 500;

// What the user asks the directory for. Texts are cp1252 as typed.
struct DirectorySearch {
  std::string name;         // part of the name; empty: any
  std::string countryCode;  // two letters; empty: any country
  std::string state;        // state or region; empty: any
  std::string tag;          // genre tag; empty: any
  int limit = kDirectorySearchLimit;
};

// The request target of a search, most voted first, failing stations hidden
// ("/json/stations/search?name=...&countrycode=BR&...&order=votes&reverse=true
// &hidebroken=true&limit=500"). Values go out as UTF-8, escaped here
// ("rock%20%26%20pop"), so a search may hold any character; the request line
// sends an escape as it stands, never escaping it twice.
std::string directorySearchTarget(const DirectorySearch& search);

// The request target that tells the directory a station was played.
std::string directoryClickTarget(const std::string& uuid);

// A country code from the settings: two ASCII letters, upper-cased; anything
// else gives `fallback`.
std::string normalizedCountryCode(std::string_view text, std::string_view fallback);

// The full name of a Brazilian state given by its two-letter code ("SP" ->
// "São Paulo", cp1252, any case), as the directory mostly writes states; the
// text itself, blanks trimmed, when it is no such code.
std::string brazilianStateName(std::string_view text);
// True when the text (cp1252) is a Brazilian state's code or name, compared
// without case and accents.
bool namesBrazilianState(std::string_view text);

}  // namespace ondaria
