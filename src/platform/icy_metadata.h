// ICY in-band metadata: the texts a radio server interleaves with the audio
// ("StreamTitle='...';StreamUrl='...';") when asked with "Icy-MetaData: 1".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Separates the audio from the metadata of a body sent with an
// "icy-metaint: N" header: every N audio bytes one length byte (times 16) and
// that many metadata bytes follow. With N = 0 everything is audio. Bytes may
// arrive in pieces of any size.
class IcyDemux {
 public:
  using AudioSink = std::function<void(const uint8_t*, size_t)>;
  using TextSink = std::function<void(const std::string&)>;

  explicit IcyDemux(size_t metaint = 0) : metaint_(metaint), audioLeft_(metaint) {}

  // Audio goes to `audio` (possibly in several calls per piece); each complete
  // metadata text, cut at its first zero byte and not empty, to `text`.
  void feed(const uint8_t* data, size_t n, const AudioSink& audio, const TextSink& text);

  size_t metaint() const { return metaint_; }

 private:
  size_t metaint_ = 0;
  size_t audioLeft_ = 0;
  size_t metaLeft_ = 0;
  bool wantLength_ = false;
  std::string meta_;
};

// The fields of a metadata text: what stands between the quote after
// "StreamTitle=" and the quote before the first ";" that follows (likewise
// "StreamUrl=" after it). Titles are UTF-8 from today's servers and cp1252
// from old ones: the result is program text either way.
struct StreamMetadata {
  bool hasTitle = false;
  bool hasImage = false;
  std::string title;
  std::string image;
};
StreamMetadata parseStreamMetadata(std::string_view meta);

}  // namespace platform
