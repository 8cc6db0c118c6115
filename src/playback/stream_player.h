// The stream player: the layer between the playback session and the stream
// engine (platform/stream_engine.h). It sets the engine up and releases it,
// turns an address into a programme list (one address, or the entries of an
// ".M3U" or ".PLS" playlist), opens one programme at a time, waits for its
// buffer, collects the station information from the stream's headers and its
// in-band metadata, and starts playback.
//
// Threads: everything here runs on the program's main thread, except the
// metadata callback, which the engine calls on the stream's own thread. The
// title and image fields that callback writes are handed over under a lock:
// readers always get whole texts (stationInfo returns a copy).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

using StreamHandle = uint32_t;  // the engine's handle; 0 = no stream

// Flags of every stream the player opens: read in blocks, with download
// status, freed by the engine when it ends.
inline constexpr uint32_t kStreamFlags = 0x940000;

// Shown in place of a stream title that was never drawn: no real title equals
// it, so the next check redraws the title row.
inline constexpr std::string_view kNoTitleShown = "@#$%";

// Result codes of a session besides the engine's error codes.
inline constexpr int kResultFileOpen = 2;   // not found (also: playlist not fetched)
inline constexpr int kResultTimeout = 40;   // the server did not answer in time
inline constexpr int kResultFormat = 41;    // not a format any creator takes

// What is known about the station playing. Emptied when a playAddress call
// starts; each header line or metadata event overwrites only its own fields.
struct StationInfo {
  std::string title;    // "StreamTitle" of the in-band metadata
  std::string image;    // "StreamUrl" of the in-band metadata
  std::string bitRate;  // icy-br
  std::string genre;    // icy-genre
  std::string note1;    // icy-notice1
  std::string note2;    // icy-notice2
  std::string pub;      // icy-pub
  std::string url;      // icy-url
  std::string metaint;  // icy-metaint
};

// Opens the default audio output and configures the engine: playlists named
// by a stream address are followed, no pre-buffering inside the engine (the
// player waits itself), no proxy. False when no audio output can be opened;
// the caller reports it.
bool initStreamPlayer();
// Frees every stream and the engine's set-up.
void freeStreamPlayer();

// The programmes of `address`: the address alone unless it ends in ".M3U" or
// ".PLS" (any case); then the playlist's entries, read from the local file of
// that name or downloaded. False (and an empty list) when a playlist cannot be
// fetched. Entries that are relative are resolved against the playlist's own
// folder or address.
bool loadProgrammeList(const std::string& address, std::vector<std::string>& list);

// The entries of a playlist's lines. `kind` is ".M3U" or ".PLS"; `base` is the
// playlist's own address or path (for relative entries; empty: kept as they are).
std::vector<std::string> playlistEntries(const std::vector<std::string>& lines,
                                         std::string_view kind, const std::string& base = {});

// Opens one programme and starts it. Frees `handle` first when it is set, then
// tries the three creators (plain, AAC, HLS) in this order; `handle` receives
// the new stream or 0. Returns 0 when the programme plays, otherwise the
// engine's error code. `announce` gives "Tentando conexão" and "OK.".
int openStream(const std::string& address, StreamHandle& handle, bool announce);

// Stores one header line ("icy-br:128") in its field; other lines are ignored.
void parseIcyHeader(std::string_view line);
// Re-reads the stream's in-band metadata into the title and image fields.
void readStreamTitle(StreamHandle handle);
// Takes "StreamTitle" and "StreamUrl" out of a metadata text into the title
// and image fields (what readStreamTitle does with the engine's text).
void takeStreamMetadata(std::string_view meta);
void clearStationInfo();
StationInfo stationInfo();  // a copy, taken under the lock

// The title the title row shows (kNoTitleShown when it must be redrawn).
const std::string& lastShownTitle();
void setLastShownTitle(std::string_view title);

}  // namespace ondaria
