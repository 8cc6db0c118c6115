#include "platform/stream_playlist.h"

#include <algorithm>
#include <cctype>

namespace platform {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool endsWith(const std::string& s, const char* suffix) {
  std::string_view suf(suffix);
  return s.size() >= suf.size() && s.compare(s.size() - suf.size(), suf.size(), suf) == 0;
}

// Blanks, control characters and a UTF-8 byte-order mark.
std::string_view trim(std::string_view s) {
  if (s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// The path of an address without its query and fragment, lower case.
std::string pathPart(const std::string& address) {
  std::string p = lower(address);
  size_t cut = p.find_first_of("?#");
  if (cut != std::string::npos) p.erase(cut);
  return p;
}

bool looksLikeText(std::string_view head) {
  for (unsigned char c : head) {
    if (c == 0 || (c < 0x20 && c != '\r' && c != '\n' && c != '\t')) return false;
  }
  return !head.empty();
}

}  // namespace

BodyKind classifyBody(const std::string& contentType, const std::string& path, std::string_view head) {
  std::string_view body = trim(head);
  std::string start = lower(body.substr(0, 16));
  // The body decides first: servers label playlists in many ways.
  if (start.rfind("#extm3u", 0) == 0) {
    return head.find("#EXT-X-") != std::string_view::npos ? BodyKind::Hls : BodyKind::M3u;
  }
  if (start.rfind("[playlist]", 0) == 0) return BodyKind::Pls;
  if (contentType == "application/vnd.apple.mpegurl") return BodyKind::Hls;
  std::string p = pathPart(path);
  if (endsWith(p, ".m3u8") && looksLikeText(head)) return BodyKind::Hls;
  if (contentType == "audio/x-scpls" || contentType == "application/pls+xml") return BodyKind::Pls;
  bool m3uType = contentType == "audio/x-mpegurl" || contentType == "audio/mpegurl" ||
                 contentType == "application/x-mpegurl";
  if (m3uType || ((endsWith(p, ".m3u") || endsWith(p, ".pls")) && looksLikeText(head))) {
    if (head.find("#EXT-X-") != std::string_view::npos) return BodyKind::Hls;
    return endsWith(p, ".pls") ? BodyKind::Pls : BodyKind::M3u;
  }
  return BodyKind::Audio;
}

std::vector<std::string> playlistEntries(BodyKind kind, std::string_view text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find_first_of("\r\n", pos);
    std::string_view line = trim(text.substr(pos, nl == std::string_view::npos ? std::string_view::npos
                                                                               : nl - pos));
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    if (line.empty()) continue;
    if (kind == BodyKind::Pls) {
      if (lower(line.substr(0, 4)) != "file") continue;
      size_t eq = line.find('=');
      if (eq == std::string_view::npos) continue;
      std::string_view value = trim(line.substr(eq + 1));
      if (!value.empty()) out.emplace_back(value);
    } else if (line.front() != '#') {
      out.emplace_back(line);
    }
  }
  return out;
}

std::string demuxerForContentType(const std::string& t) {
  if (t == "audio/mpeg" || t == "audio/mp3" || t == "audio/mpeg3" || t == "audio/x-mpeg" ||
      t == "audio/x-mp3") {
    return "mp3";
  }
  if (t == "audio/aac" || t == "audio/aacp" || t == "audio/x-aac" || t == "audio/x-hx-aac-adts") {
    return "aac";
  }
  if (t == "audio/mp4" || t == "audio/x-m4a" || t == "audio/m4a") return "mp4";
  if (t == "application/ogg" || t == "audio/ogg" || t == "audio/opus" || t == "audio/vorbis" ||
      t == "audio/x-ogg") {
    return "ogg";
  }
  if (t == "audio/flac" || t == "audio/x-flac") return "flac";
  return {};
}

bool isAacContentType(const std::string& t) {
  std::string d = demuxerForContentType(t);
  return d == "aac" || d == "mp4";
}

}  // namespace platform
