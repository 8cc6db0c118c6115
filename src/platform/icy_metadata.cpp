#include "platform/icy_metadata.h"

#include <algorithm>

#include "platform/codepage.h"

namespace platform {

void IcyDemux::feed(const uint8_t* data, size_t n, const AudioSink& audio, const TextSink& text) {
  size_t i = 0;
  while (i < n) {
    if (metaint_ == 0 || audioLeft_ > 0) {
      const size_t take = metaint_ == 0 ? n - i : std::min(audioLeft_, n - i);
      if (audio) audio(data + i, take);
      i += take;
      if (metaint_ != 0) {
        audioLeft_ -= take;
        if (audioLeft_ == 0) wantLength_ = true;
      }
      continue;
    }
    if (wantLength_) {
      metaLeft_ = static_cast<size_t>(data[i++]) * 16;
      wantLength_ = false;
      meta_.clear();
      if (metaLeft_ == 0) audioLeft_ = metaint_;
      continue;
    }
    const size_t take = std::min(metaLeft_, n - i);
    meta_.append(reinterpret_cast<const char*>(data + i), take);
    i += take;
    metaLeft_ -= take;
    if (metaLeft_ == 0) {
      const size_t zero = meta_.find('\0');
      if (zero != std::string::npos) meta_.erase(zero);
      if (!meta_.empty() && text) text(meta_);
      audioLeft_ = metaint_;
    }
  }
}

namespace {

// The field `name` of `meta`; `end` is where its closing ";" stands (npos
// when none follows).
bool metadataField(std::string_view meta, std::string_view name, std::string& value, size_t& end) {
  const size_t p = meta.find(name);
  if (p == std::string_view::npos) return false;
  size_t begin = p + name.size();
  if (begin < meta.size() && meta[begin] == '\'') ++begin;
  size_t stop = meta.find(';', begin);
  end = stop;
  if (stop == std::string_view::npos) stop = meta.size();
  if (stop > begin && meta[stop - 1] == '\'') --stop;
  value = utf8ToCp1252(meta.substr(begin, stop - begin));
  return true;
}

}  // namespace

StreamMetadata parseStreamMetadata(std::string_view meta) {
  StreamMetadata out;
  size_t end = 0;
  if (!metadataField(meta, "StreamTitle=", out.title, end)) return out;
  out.hasTitle = true;
  const std::string_view rest =
      end == std::string_view::npos ? std::string_view() : meta.substr(end + 1);
  size_t imageEnd = 0;
  out.hasImage = metadataField(rest, "StreamUrl=", out.image, imageEnd);
  return out;
}

}  // namespace platform
