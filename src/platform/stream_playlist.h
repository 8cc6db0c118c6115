// Recognising what an address delivers before it is decoded: an HLS playlist,
// a PLS or M3U playlist of stream addresses, or audio; and reading the
// addresses out of PLS and M3U playlists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class BodyKind { Audio, Pls, M3u, Hls };

// `contentType` is lower case without parameters ("" for local files), `path`
// the address or file name, `head` the first bytes of the body (up to a few KB;
// may be shorter or empty when the body is).
BodyKind classifyBody(const std::string& contentType, const std::string& path, std::string_view head);

// The stream addresses of a PLS ("FileN=" entries) or M3U (lines that are not
// blank and not comments) playlist, in file order, trimmed.
std::vector<std::string> playlistEntries(BodyKind kind, std::string_view text);

// FFmpeg demuxer to force for a Content-Type ("" = probe the data). Forcing the
// format skips probing, which on a live MP3 stream would read 128 KB first.
std::string demuxerForContentType(const std::string& contentType);

// Content-Types that announce AAC (ADTS or MP4) audio.
bool isAacContentType(const std::string& contentType);

// The audio format the first bytes of a body are in, told by the bytes alone:
// "mp3" (MPEG audio frames, also after an ID3 tag), "aac" (ADTS frames), "ogg",
// "flac", "mp4", "wav"; "" when the bytes do not say. Frames count only when
// two follow each other where the first one's header says the next begins, so
// a stray sync word in other data is not taken for audio. Servers often
// announce a Content-Type that does not match what they send; the bytes win.
std::string sniffAudioFormat(std::string_view head);

}  // namespace platform
