// Playlists: any body is classified without fault, and the addresses read out
// of a PLS or M3U playlist are neither empty nor hold a line end or blanks at
// either end.
#include <string>

#include "fuzz_input.h"
#include "platform/stream_playlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const std::string contentType(in.piece(40));
  const std::string path(in.piece(80));
  const std::string_view body = in.rest();
  const platform::BodyKind kind = platform::classifyBody(contentType, path, body.substr(0, 4096));
  for (platform::BodyKind k : {kind, platform::BodyKind::Pls, platform::BodyKind::M3u}) {
    if (k != platform::BodyKind::Pls && k != platform::BodyKind::M3u) continue;
    for (const std::string& entry : platform::playlistEntries(k, body)) {
      FUZZ_CHECK(!entry.empty());
      FUZZ_CHECK(entry.find_first_of("\r\n") == std::string::npos);
      FUZZ_CHECK(entry.front() != ' ' && entry.back() != ' ');
    }
  }
  platform::demuxerForContentType(contentType);
  platform::isAacContentType(contentType);
  return 0;
}
