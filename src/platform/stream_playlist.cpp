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

namespace {

uint8_t byteAt(std::string_view s, size_t i) { return static_cast<uint8_t>(s[i]); }

// Length in bytes of the MPEG audio frame (layers I-III, MPEG 1, 2 and 2.5)
// whose header starts at `i`, or 0 when no valid header stands there. `sig`
// receives the parts every frame of one stream shares.
size_t mpegFrameLength(std::string_view s, size_t i, uint32_t& sig) {
  if (i + 4 > s.size()) return 0;
  const uint8_t b1 = byteAt(s, i + 1), b2 = byteAt(s, i + 2);
  if (byteAt(s, i) != 0xFF || (b1 & 0xE0) != 0xE0) return 0;
  const int version = (b1 >> 3) & 3;  // 0: 2.5, 1: reserved, 2: 2, 3: 1
  const int layer = (b1 >> 1) & 3;    // 0: reserved (ADTS uses it), 1: III, 2: II, 3: I
  const int rateIndex = (b2 >> 2) & 3;
  const int bitrateIndex = b2 >> 4;
  if (version == 1 || layer == 0 || rateIndex == 3 || bitrateIndex == 0 || bitrateIndex == 15) return 0;
  static constexpr int kRates[3] = {44100, 48000, 32000};
  static constexpr int kBitrates[2][3][15] = {
      // MPEG 1: layer I, II, III
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
      // MPEG 2 and 2.5
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  const bool mpeg1 = version == 3;
  const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  const int kbps = kBitrates[mpeg1 ? 0 : 1][3 - layer][bitrateIndex];
  const int padding = (b2 >> 1) & 1;
  sig = (static_cast<uint32_t>(b1) << 8 | (b2 & 0x0C)) & 0xFE0C;  // version, layer, rate
  if (layer == 3) return static_cast<size_t>((12000 * kbps / rate + padding) * 4);
  const int factor = (layer == 1 && !mpeg1) ? 72000 : 144000;
  return static_cast<size_t>(factor * kbps / rate + padding);
}

// Length of the ADTS frame whose header starts at `i`, or 0.
size_t adtsFrameLength(std::string_view s, size_t i, uint32_t& sig) {
  if (i + 7 > s.size()) return 0;
  const uint8_t b1 = byteAt(s, i + 1), b2 = byteAt(s, i + 2);
  if (byteAt(s, i) != 0xFF || (b1 & 0xF6) != 0xF0) return 0;  // 12-bit sync, layer 0
  if (((b2 >> 2) & 0x0F) > 12) return 0;                       // sampling frequency index
  const size_t length = (static_cast<size_t>(byteAt(s, i + 3) & 3) << 11) |
                        (static_cast<size_t>(byteAt(s, i + 4)) << 3) | (byteAt(s, i + 5) >> 5);
  sig = static_cast<uint32_t>(b1) << 8 | (b2 & 0xFC);  // version, profile, rate
  return length >= 7 ? length : 0;
}

// True when a frame at `i` is followed by another of the same stream, and
// that one by a third when the bytes reach that far.
template <typename FrameLength>
bool framesChain(std::string_view s, size_t i, FrameLength frameLength) {
  uint32_t sig = 0;
  size_t length = frameLength(s, i, sig);
  if (length == 0) return false;
  for (int seen = 1; seen < 3; ++seen) {
    i += length;
    if (i + 4 > s.size()) return seen >= 2;
    uint32_t next = 0;
    length = frameLength(s, i, next);
    if (length == 0 || next != sig) return false;
  }
  return true;
}

}  // namespace

std::string sniffAudioFormat(std::string_view head) {
  if (head.size() >= 4 && head.substr(0, 4) == "OggS") return "ogg";
  if (head.size() >= 4 && head.substr(0, 4) == "fLaC") return "flac";
  if (head.size() >= 12 && head.substr(0, 4) == "RIFF" && head.substr(8, 4) == "WAVE") return "wav";
  if (head.size() >= 8 && head.substr(4, 4) == "ftyp") return "mp4";
  size_t from = 0;
  if (head.size() >= 10 && head.substr(0, 3) == "ID3") {
    // The tag's size: four 7-bit bytes, then a footer of 10 when flagged.
    size_t size = 10;
    for (int k = 6; k < 10; ++k) size = size + (static_cast<size_t>(byteAt(head, k) & 0x7F) << (7 * (9 - k)));
    if (byteAt(head, 5) & 0x10) size += 10;
    if (size >= head.size()) return "";  // the frames lie beyond what was seen
    from = size;
  }
  // A live stream may be joined in the middle of a frame: look a little way in.
  for (size_t i = from; i + 4 <= head.size(); ++i) {
    if (byteAt(head, i) != 0xFF) continue;
    if (framesChain(head, i, adtsFrameLength)) return "aac";
    if (framesChain(head, i, mpegFrameLength)) return "mp3";
  }
  return "";
}

bool isAacContentType(const std::string& t) {
  std::string d = demuxerForContentType(t);
  return d == "aac" || d == "mp4";
}

}  // namespace platform
