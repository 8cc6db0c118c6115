#include "playback/stream_player.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "console/core/console.h"
#include "console/ui/ui_draw.h"
#include "net/http_download.h"
#include "platform/codepage.h"
#include "platform/icy_metadata.h"
#include "platform/stream_engine.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

struct PlayerState {
  std::mutex lock;  // guards `info`: the metadata callback writes from the stream's thread
  StationInfo info;
  std::string lastShown{kNoTitleShown};
  // Handed to the engine once at set-up; empty: direct connections.
  const std::string proxy;
  FailureReason failure;
  // Set by the reconnection sync (the stream's thread): kOutage when a
  // connection is lost, back to kNoOutage when the stream plays on or ends.
  std::atomic<int> outage{0};
};

PlayerState& player() {
  static PlayerState state;
  return state;
}

// Longest wait between two looks at an opening: the engine wakes the console
// when it ends, and a key wakes it at once.
constexpr int kOpenPollMs = 50;
// Wait limit of a playlist download (sockets.h): about ten seconds of
// silence for the connection and for each line, as for an opening.
constexpr int kPlaylistWaitLimit = 8;
// A header value is cut to this many characters.
constexpr size_t kHeaderValueMax = 999;

constexpr uint8_t kCtrlBreak = 3;  // Ctrl+Break (and Ctrl+C) make this byte
constexpr uint8_t kEsc = 27;


std::string upperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && upperAscii(s.substr(0, prefix.size())) == upperAscii(prefix);
}

bool hasScheme(std::string_view entry) { return entry.find("://") != std::string_view::npos; }

// An entry of a playlist made absolute against the playlist's own address
// (a web address or a local path). Entries with a scheme or a leading "/"
// (local playlists) stay as they are.
std::string resolveEntry(const std::string& entry, const std::string& base) {
  if (base.empty() || hasScheme(entry)) return entry;
  const size_t scheme = base.find("://");
  if (scheme == std::string::npos) {
    if (entry[0] == '/') return entry;
    const size_t slash = base.rfind('/');
    return slash == std::string::npos ? entry : base.substr(0, slash + 1) + entry;
  }
  const size_t hostEnd = base.find('/', scheme + 3);
  const std::string root = hostEnd == std::string::npos ? base : base.substr(0, hostEnd);
  if (entry[0] == '/') return root + entry;
  if (hostEnd == std::string::npos) return root + "/" + entry;
  std::string path = base.substr(0, base.find_first_of("?#", hostEnd));
  return path.substr(0, path.rfind('/') + 1) + entry;
}

void downloadNothing(const void*, uint32_t, void*) {}

void metadataArrived(platform::HSYNC, uint32_t channel, uint32_t, void*) { readStreamTitle(channel); }

// States of an outage for its notice.
constexpr int kNoOutage = 0;
constexpr int kOutage = 1;      // the connection is being reopened
constexpr int kOutageSaid = 2;  // ... and the user has been told

void connectionLost(platform::HSYNC, uint32_t, uint32_t data, void*) {
  if (data == 0) {
    int none = kNoOutage;
    player().outage.compare_exchange_strong(none, kOutage);
  } else {
    player().outage = kNoOutage;
  }
}

// ESC or Ctrl+Break among the keys waiting (extended keys skipped).
bool cancelKeyWaiting() {
  for (int i = 0; i < keyCount(); ++i) {
    const uint8_t k = peekKey(i);
    if (k == 0) {
      ++i;  // the code byte of an extended key
    } else if (k == kEsc || k == kCtrlBreak) {
      return true;
    }
  }
  return false;
}

// The catalogue message for why an opening failed.
FailureReason reasonFor(const platform::ErrorDetail& detail) {
  using platform::FailReason;
  switch (detail.reason) {
    case FailReason::NoSuchFile: return {"ODARQNEX"};
    case FailReason::BadAddress: return {"ODENDINV"};
    case FailReason::UnknownHost: return {"ODNAOSRV"};
    case FailReason::Refused: return {"ODRECUSA"};
    case FailReason::Unreachable: return {"ODSEMROT"};
    case FailReason::Certificate: return {"ODCERTIF"};
    case FailReason::Tls: return {"ODERRTLS"};
    case FailReason::HttpStatus: return {"ODRESPHT", detail.status};
    case FailReason::Redirects: return {"ODREDIRS"};
    case FailReason::NotHttp: return {"ODERRSRV"};
    case FailReason::Closed: return {"ODFECHOU"};
    case FailReason::NoAudio: return {"ODSEMAUD"};
    case FailReason::EmptyPlaylist: return {"ODLISVAZ"};
    case FailReason::None:
    case FailReason::Timeout:  // its result says it already
    case FailReason::Cancelled: break;
  }
  return {};
}

// The same for a playlist that could not be downloaded.
FailureReason reasonFor(const DownloadResult& result) {
  switch (result.failure) {
    case NetFailure::badAddress: return {"ODENDINV"};
    case NetFailure::noConnection: return {"ODSEMCNX"};
    case NetFailure::badAnswer: return {"ODERRSRV"};
    case NetFailure::timedOut: return {"ODTIMOUT"};
    case NetFailure::httpStatus: return {"ODRESPHT", result.status};
    case NetFailure::tooManyRedirects:
    case NetFailure::redirectWithoutLocation: return {"ODREDIRS"};
    case NetFailure::truncated: return {"ODFECHOU"};
    case NetFailure::cannotCreateFile:
    case NetFailure::writeFailed: return {"ODERRWAR"};
    default: return {};
  }
}

}  // namespace

bool initStreamPlayer() {
  if (!platform::Init(-1, 44100, 0, nullptr, nullptr)) return false;
  platform::SetConfig(platform::CONFIG_NET_PLAYLIST, 1);
  platform::SetConfig(platform::CONFIG_NET_PREBUF, 0);
  platform::SetConfig(platform::CONFIG_NET_TIMEOUT, kOpenTimeoutMs);
  platform::SetConfig(platform::CONFIG_NET_READTIMEOUT, kStallMs);
  platform::SetConfig(platform::CONFIG_NET_RECONNECT, kReconnectWindowMs);
  platform::SetConfigPtr(platform::CONFIG_NET_PROXY, player().proxy.c_str());
  // A new title, a stall or the end of a stream ends the playback session's
  // wait at once, so it need not poll.
  platform::setStreamWakeHook([] { wakeConsole(); });
  return true;
}

void freeStreamPlayer() {
  platform::setStreamWakeHook(nullptr);
  platform::Free();
}

std::vector<std::string> playlistEntries(const std::vector<std::string>& lines,
                                         std::string_view kind, const std::string& base) {
  const bool pls = upperAscii(kind) == ".PLS";
  std::vector<std::string> entries;
  for (const std::string& raw : lines) {
    std::string_view text = raw;
    // A byte-order mark (an editor's UTF-8 signature) before the first line.
    if (&raw == &lines.front() && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::string line = trimmedText(text);
    if (pls) {
      if (upperAscii(std::string_view(line).substr(0, 4)) != "FILE") continue;
      const size_t equals = line.find('=');
      // "File1" without "=" or without an address names nothing to play.
      if (equals == std::string::npos) continue;
      line = trimmedText(std::string_view(line).substr(equals + 1));
    } else if (!line.empty() && line[0] == '#') {
      continue;
    }
    if (line.empty()) continue;
    entries.push_back(resolveEntry(addressFromOutside(line), base));
  }
  return entries;
}

bool loadProgrammeList(const std::string& address, std::vector<std::string>& list) {
  list.clear();
  player().failure = {};
  const std::string kind = upperAscii(address.size() >= 4 ? address.substr(address.size() - 4) : address);
  if (kind != ".M3U" && kind != ".PLS") {
    list.push_back(address);
    return true;
  }
  // A "file://" playlist is the local file of that path.
  const std::string source = startsWithNoCase(address, "file://") ? address.substr(7) : address;
  std::vector<std::string> lines;
  // ESC or Ctrl+Break gives the download up, as it does an opening.
  setNetGiveUpCheck(cancelKeyWaiting);
  DownloadOptions options = playlistDownload();
  options.waitLimit = kPlaylistWaitLimit;
  const DownloadResult result = loadListFromAddress(engineAddress(source), lines, options);
  const bool givenUp = netGivenUp();
  setNetGiveUpCheck(nullptr);
  if (givenUp) {
    player().failure = {"ODDESIST"};
    flushKeys();
    return false;
  }
  if (!result) {
    player().failure = reasonFor(result);
    return false;
  }
  list = playlistEntries(lines, kind, source);
  return true;
}

std::string engineAddress(const std::string& address) { return platform::cp1252ToUtf8(address); }

std::string addressFromOutside(const std::string& entry) {
  if (!platform::isValidUtf8(entry)) return entry;
  std::string out;
  size_t pos = 0;
  while (pos < entry.size()) {
    const size_t start = pos;
    char32_t cp = 0;
    platform::decodeUtf8(entry, pos, cp);
    uint8_t byte = 0;
    if (platform::codePointToCp1252(cp, byte)) {
      out += static_cast<char>(byte);
    } else {
      static const char* const kHex = "0123456789ABCDEF";
      for (size_t i = start; i < pos; ++i) {
        const auto b = static_cast<uint8_t>(entry[i]);
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
    }
  }
  return out;
}

// Feeds the header lines of a tag block (zero-terminated texts ended by an
// empty one) to parseIcyHeader.
void readHeaderTags(StreamHandle handle) {
  const char* tags = platform::ChannelGetTags(handle, platform::TAG_ICY);
  if (!tags) tags = platform::ChannelGetTags(handle, platform::TAG_HTTP);
  if (!tags) return;
  for (const char* line = tags; *line; line += std::char_traits<char>::length(line) + 1)
    parseIcyHeader(line);
}


FailureReason lastFailureReason() { return player().failure; }

bool takeReconnectNotice(StreamHandle handle) {
  // Said only once the music has stopped: a connection reopened while the
  // buffer still plays is never heard, and needs no word.
  if (player().outage.load() != kOutage || platform::ChannelIsActive(handle) != platform::ACTIVE_STALLED) {
    return false;
  }
  int lost = kOutage;
  return player().outage.compare_exchange_strong(lost, kOutageSaid);
}

int openStream(const std::string& address, StreamHandle& handle, bool announce) {
  player().failure = {};
  player().outage = kNoOutage;
  if (handle != 0) platform::StreamFree(handle);
  handle = 0;
  // The engine opens on a thread of its own while the program speaks and
  // keeps serving keys; the stream starts as soon as it has audio in hand.
  const platform::HOPEN opening = platform::StreamOpenURL(engineAddress(address).c_str(), kStreamFlags,
                                                          downloadNothing, nullptr, true, kStartCushionMs);
  if (opening == 0) return platform::ErrorGetCode();
  if (announce) sayMessage("ODTNTCNX", 1);
  int error = 0;
  platform::ErrorDetail detail;
  while (!platform::StreamOpenResult(opening, &handle, &error, &detail)) {
    pumpWindowMessages();
    if (cancelKeyWaiting()) {
      platform::StreamOpenCancel(opening);
      flushKeys();
      return kResultCancelled;
    }
    waitForConsoleEvent(kOpenPollMs);
  }
  if (handle == 0) {
    player().failure = reasonFor(detail);
    return error;
  }
  readHeaderTags(handle);
  readStreamTitle(handle);
  platform::ChannelSetSync(handle, platform::SYNC_META, 0, metadataArrived, nullptr);
  platform::ChannelSetSync(handle, platform::SYNC_RECONNECT, 0, connectionLost, nullptr);
  if (announce) sayMessage("ODOK", 2);
  return 0;
}

void parseIcyHeader(std::string_view line) {
  struct Field {
    std::string_view name;
    std::string StationInfo::*field;
  };
  // In this order: the first name the line begins with (letter case counts) wins.
  static constexpr Field kFields[] = {
      {"icy-br", &StationInfo::bitRate},     {"icy-genre", &StationInfo::genre},
      {"icy-notice1", &StationInfo::note1},  {"icy-notice2", &StationInfo::note2},
      {"icy-pub", &StationInfo::pub},        {"icy-url", &StationInfo::url},
      {"icy-metaint", &StationInfo::metaint}};
  const size_t colon = line.find(':');
  std::string_view value = colon == std::string_view::npos ? line : line.substr(colon + 1);
  value = value.substr(0, kHeaderValueMax);
  for (const Field& f : kFields) {
    if (line.substr(0, f.name.size()) != f.name) continue;
    // Servers send UTF-8 today; older ones cp1252, which is kept byte for byte.
    std::string text = platform::utf8ToCp1252(value);
    std::lock_guard<std::mutex> guard(player().lock);
    player().info.*(f.field) = std::move(text);
    return;
  }
}

void takeStreamMetadata(std::string_view meta) {
  platform::StreamMetadata fields = platform::parseStreamMetadata(meta);
  if (!fields.hasTitle) return;
  std::lock_guard<std::mutex> guard(player().lock);
  player().info.title = std::move(fields.title);
  if (fields.hasImage) player().info.image = std::move(fields.image);
}

void readStreamTitle(StreamHandle handle) {
  // The engine's text stays valid on this thread until it asks for tags again.
  const char* meta = platform::ChannelGetTags(handle, platform::TAG_META);
  if (meta) takeStreamMetadata(meta);
}

void clearStationInfo() {
  std::lock_guard<std::mutex> guard(player().lock);
  player().info = StationInfo{};
}

StationInfo stationInfo() {
  std::lock_guard<std::mutex> guard(player().lock);
  return player().info;
}

const std::string& lastShownTitle() { return player().lastShown; }

void setLastShownTitle(std::string_view title) { player().lastShown = std::string(title); }

}  // namespace ondaria
