#include "playback/stream_player.h"

#include <algorithm>
#include <mutex>

#include "console/core/console.h"
#include "console/ui/ui_draw.h"
#include "net/http_download.h"
#include "platform/codepage.h"
#include "platform/icy_metadata.h"
#include "platform/stream_engine.h"
#include "speech/say_message.h"

namespace ondaria {

namespace {

struct PlayerState {
  std::mutex lock;  // guards `info`: the metadata callback writes from the stream's thread
  StationInfo info;
  std::string lastShown{kNoTitleShown};
  // Handed to the engine once at set-up; empty: direct connections.
  const std::string proxy;
};

PlayerState& player() {
  static PlayerState state;
  return state;
}

// The buffer wait ends once the download buffer is filled past this share:
// enough to ride over the first network hiccups without a long silent start.
constexpr uint64_t kBufferPercent = 75;
// Pause between two looks at the buffer; the wait pumps the window meanwhile.
constexpr int kBufferPollMs = 10;
// A server that stays connected but sends nothing must not hold the program:
// past this, playback starts with what there is (the engine waits for data).
constexpr int kBufferWaitLimitMs = 10000;
// A header value is cut to this many characters.
constexpr size_t kHeaderValueMax = 999;

constexpr uint64_t kNotAvailable = ~uint64_t{0};


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

// Waits until the download buffer is filled enough, the download has ended,
// or the engine cannot tell how full it is.
void waitForBuffer(StreamHandle handle) {
  for (int waited = 0; waited < kBufferWaitLimitMs; waited += kBufferPollMs) {
    const uint64_t total = platform::StreamGetFilePosition(handle, platform::FILEPOS_END);
    // Unknown or zero size: nothing to divide by, nothing to wait for.
    if (total == kNotAvailable || total == 0) return;
    const uint64_t buffered = platform::StreamGetFilePosition(handle, platform::FILEPOS_BUFFER);
    if (buffered == kNotAvailable) return;
    if (buffered * 100 / total > kBufferPercent) return;
    if (platform::StreamGetFilePosition(handle, platform::FILEPOS_CONNECTED) == 0) return;
    delayMs(kBufferPollMs);
  }
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

}  // namespace

bool initStreamPlayer() {
  if (!platform::Init(-1, 44100, 0, nullptr, nullptr)) return false;
  platform::SetConfig(platform::CONFIG_NET_PLAYLIST, 1);
  platform::SetConfig(platform::CONFIG_NET_PREBUF, 0);
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
    std::string line = trimmedText(raw);
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
    entries.push_back(resolveEntry(line, base));
  }
  return entries;
}

bool loadProgrammeList(const std::string& address, std::vector<std::string>& list) {
  list.clear();
  const std::string kind = upperAscii(address.size() >= 4 ? address.substr(address.size() - 4) : address);
  if (kind != ".M3U" && kind != ".PLS") {
    list.push_back(address);
    return true;
  }
  // A "file://" playlist is the local file of that path.
  const std::string source = startsWithNoCase(address, "file://") ? address.substr(7) : address;
  std::vector<std::string> lines;
  if (!loadListFromAddress(source, lines)) return false;
  list = playlistEntries(lines, kind, source);
  return true;
}

int openStream(const std::string& address, StreamHandle& handle, bool announce) {
  if (announce) sayMessage("ODTNTCNX", 1);
  if (handle != 0) platform::StreamFree(handle);
  const char* url = address.c_str();
  handle = platform::StreamCreateURL(url, 0, kStreamFlags, downloadNothing, nullptr);
  if (handle == 0) handle = platform::AAC_StreamCreateURL(url, 0, kStreamFlags, downloadNothing, nullptr);
  if (handle == 0) handle = platform::HLS_StreamCreateURL(url, kStreamFlags, downloadNothing, nullptr);
  if (handle == 0) return platform::ErrorGetCode();
  if (announce) sayMessage("ODOK", 2);

  waitForBuffer(handle);
  readHeaderTags(handle);
  readStreamTitle(handle);
  platform::ChannelSetSync(handle, platform::SYNC_META, 0, metadataArrived, nullptr);
  platform::ChannelPlay(handle, false);
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
