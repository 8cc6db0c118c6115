// ICY in-band metadata: however a body is cut into pieces, the audio and the
// texts taken out of it are the same, and every byte is either audio, a
// length byte or metadata; the title fields of each text are read without
// fault.
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "platform/icy_metadata.h"

namespace {

struct Split {
  std::string audio;
  std::vector<std::string> texts;
};

Split demux(size_t metaint, std::string_view body, const std::vector<size_t>& cuts) {
  Split out;
  platform::IcyDemux d(metaint);
  const auto audio = [&out](const uint8_t* p, size_t n) { out.audio.append(reinterpret_cast<const char*>(p), n); };
  const auto text = [&out](const std::string& t) { out.texts.push_back(t); };
  size_t pos = 0;
  for (size_t cut : cuts) {
    const size_t n = std::min(cut, body.size() - pos);
    d.feed(reinterpret_cast<const uint8_t*>(body.data()) + pos, n, audio, text);
    pos += n;
  }
  d.feed(reinterpret_cast<const uint8_t*>(body.data()) + pos, body.size() - pos, audio, text);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const size_t metaint = in.byte() % 64;
  std::vector<size_t> cuts;
  for (int i = in.byte() % 8; i > 0; --i) cuts.push_back(in.byte());
  const std::string_view body = in.rest();

  const Split whole = demux(metaint, body, {});
  const Split pieces = demux(metaint, body, cuts);
  FUZZ_CHECK(whole.audio == pieces.audio);
  FUZZ_CHECK(whole.texts == pieces.texts);
  FUZZ_CHECK(whole.audio.size() <= body.size());
  if (metaint == 0) FUZZ_CHECK(whole.audio == body);
  for (const std::string& t : whole.texts) {
    FUZZ_CHECK(!t.empty() && t.find('\0') == std::string::npos);
    const platform::StreamMetadata fields = platform::parseStreamMetadata(t);
    if (!fields.hasTitle) FUZZ_CHECK(!fields.hasImage);
  }
  platform::parseStreamMetadata(body);
  return 0;
}
