// Talking to the open station directory: its mirror servers, its searches and
// the notice of a station played.
//
// Where the directory is: the setting ONDARIA/DIRETORIO of the shared
// settings file, an address such as kDirectoryDefaultBase. Its "/json/servers"
// lists the mirrors by host name; the list is fetched once per run (again when
// the setting changes), shuffled so that users spread over the mirrors, and
// the base itself is kept as the last one to try. A query goes to the mirror
// that answered last, and on any failure (no connection, a stall, an error
// status, an answer too large, cut short or not a station list) to the next
// one, until one answers or all have failed.
//
// Every transfer goes through the program's HTTP layer (verified TLS,
// redirections, bounded waits, the window served while waiting). Keys typed
// meanwhile cut speech; ESC gives the query up.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/directory_stations.h"

namespace ondaria {

inline constexpr const char* kDirectoryDefaultBase = "https://all.api.radio-browser.info";
// How the program names itself to the directory, as the directory asks of
// its clients.
inline constexpr const char* kDirectoryUserAgent = "Ondaria/3.0";
// Largest answer accepted: a search of every station of a large country is
// about 12 MB; anything much larger is not a station list.
inline constexpr std::uint64_t kDirectoryAnswerLimit = 32ull * 1024 * 1024;
// Largest mirror list accepted.
inline constexpr std::uint64_t kDirectoryServersLimit = 1024 * 1024;
// Wait limit of each transfer (sockets.h): about 12 s without a byte at the
// default read-wait before a silent mirror is left for the next one.
inline constexpr int kDirectoryWaitLimit = 10;
// After this long without an answer the user hears that the program waits.
inline constexpr int kDirectorySlowMs = 700;

// The setting ONDARIA/DIRETORIO, blanks and trailing "/" removed, or
// kDirectoryDefaultBase when it is empty.
std::string directoryBase();
// The setting ONDARIA/PAIS as a country code, "BR" when it is empty or not
// two letters.
std::string directoryCountry();

enum class DirectoryOutcome {
  ok,       // a mirror answered with a station list
  givenUp,  // the user pressed ESC
  failed,   // no mirror answered usefully
};

struct DirectoryQuery {
  DirectoryOutcome outcome = DirectoryOutcome::failed;
  DirectoryStations answer;
  std::string mirror;   // "https://host" of the mirror that answered
  int mirrorsTried = 0;
};

// Sends the request target (directorySearchTarget) to the mirrors in turn.
// `onSlow` is called once when no answer has come after kDirectorySlowMs.
DirectoryQuery queryDirectory(const std::string& target,
                              const std::function<void()>& onSlow = {});

// The mirrors known now, in the order they are tried (for tests); empty
// before the first query.
std::vector<std::string> directoryMirrors();

// Tells the directory that a station was played (its "/json/url/UUID"), on a
// thread of its own so that playback never waits for it. A notice still in
// flight when the next one starts, or when the program ends, is abandoned.
void reportDirectoryPlay(const std::string& mirror, const std::string& uuid);
// Waits for the notice in flight to end (tests; the program's end).
void finishDirectoryReports();

// Forgets the mirrors and the last good one (tests).
void resetDirectoryClient();

}  // namespace ondaria
