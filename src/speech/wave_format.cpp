#include "speech/wave_format.h"

#include <algorithm>
#include <cstring>

namespace ondaria {

namespace {

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
int le16(const uint8_t* p) { return p[0] | p[1] << 8; }
bool isTag(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

}  // namespace

bool parseWaveImage(const uint8_t* image, size_t size, WaveLayout& layout) {
  layout = WaveLayout{};
  if (image == nullptr || size < 36 || !isTag(image, "RIFF") || !isTag(image + 12, "fmt "))
    return false;
  const uint64_t fmtSize = le32(image + 16);
  if (fmtSize < 16 || 20 + fmtSize > size) return false;
  const uint8_t* fmt = image + 20;
  layout.channels = le16(fmt + 2);
  layout.rate = static_cast<int>(std::min<uint32_t>(le32(fmt + 4), 0x7FFFFFFF));
  layout.bits = le16(fmt + 14);
  uint64_t pos = 20 + fmtSize;
  while (pos + 8 <= size) {
    const uint64_t chunk = le32(image + pos + 4);
    if (isTag(image + pos, "data")) {
      if (chunk > size - pos - 8) return false;
      layout.dataOffset = static_cast<size_t>(pos + 8);
      layout.dataSize = static_cast<size_t>(chunk);
      return true;
    }
    pos += 8 + chunk;
    if ((chunk & 1u) != 0 && pos < size && image[pos] == 0) ++pos;  // pad byte
  }
  return false;
}

void recordedSamplesSpan(const uint8_t* file, size_t size, size_t limit, size_t& start,
                         size_t& count) {
  constexpr size_t kHeaderSize = 44;
  start = std::min(size, kHeaderSize);
  count = size - start;
  if (size >= 12 && isTag(file, "RIFF")) {
    size_t at = 12;
    while (at + 8 <= size) {
      const uint32_t chunk = le32(file + at + 4);
      if (isTag(file + at, "data")) {
        start = at + 8;
        count = std::min<size_t>(chunk, size - start);
        break;
      }
      at += 8 + static_cast<size_t>(chunk) + (chunk & 1);
    }
  }
  count = std::min(count, limit);
}

}  // namespace ondaria
