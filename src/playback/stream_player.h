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
inline constexpr int kResultFileOpen = 2;     // not found (also: playlist not fetched)
inline constexpr int kResultTimeout = 40;     // the server did not answer in time
inline constexpr int kResultFormat = 41;      // not a format any creator takes
inline constexpr int kResultCancelled = 100;  // the user gave an opening up (ESC, Ctrl+Break)

// The catalogue message that says why the last opening (or playlist
// download) failed, beside its result's own message: "ODRECUSA" for a refused
// connection, "ODRESPHT" (followed by the status) for an HTTP error, ...; empty
// when there is nothing to add. `status` receives the HTTP status for "ODRESPHT".
struct FailureReason {
  std::string key;
  int status = 0;
};
FailureReason lastFailureReason();

// How an opening waits, in milliseconds: the audio kept in hand before a
// stream starts playing (a server without a start burst sends at playing
// speed, so this is what rides over its first hiccups), and how long the
// engine may take for the whole opening (connection, redirects, playlists,
// formats), and how long a lost live stream is reopened before it ends.
inline constexpr int kStartCushionMs = 750;
inline constexpr int kOpenTimeoutMs = 10000;
inline constexpr int kReconnectWindowMs = 120000;
// A live stream from which nothing comes for this long counts as lost and is
// reopened: a live server sends all the time.
inline constexpr int kStallMs = 3000;

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
// player starts each stream once kStartCushionMs are in hand), no proxy,
// live streams reopened after a drop or a stall. False when no audio output
// can be opened; the caller reports it.
bool initStreamPlayer();
// Frees every stream and the engine's set-up.
void freeStreamPlayer();

// The programmes of `address`: the address alone unless it ends in ".M3U" or
// ".PLS" (any case); then the playlist's entries, read from the local file of
// that name or downloaded. False (and an empty list) when a playlist cannot be
// fetched (lastFailureReason says why: "ODDESIST" when the user gave the
// download up with ESC or Ctrl+Break). Entries that are relative are
// resolved against the playlist's own folder or address. A byte-order mark
// before the first line is skipped; UTF-8 entries become the program's text
// (characters it cannot hold are kept as escapes of the address).
bool loadProgrammeList(const std::string& address, std::vector<std::string>& list);

// The entries of a playlist's lines. `kind` is ".M3U" or ".PLS"; `base` is the
// playlist's own address or path (for relative entries; empty: kept as they are).
std::vector<std::string> playlistEntries(const std::vector<std::string>& lines,
                                         std::string_view kind, const std::string& base = {});

// Opens one programme and starts it. Frees `handle` first when it is set, then
// has the engine try what the three creators take (plain, AAC, HLS) in one
// attempt; `handle` receives the new stream or 0. Returns 0 when the
// programme plays, kResultCancelled when the user gave up with ESC or
// Ctrl+Break (the opening ends within a few tens of milliseconds), otherwise
// the engine's error code (lastFailureReason says why). `announce` gives
// "Tentando conexão" while the engine connects and "OK." once it has; the
// stream starts as soon as it has enough audio, over the speech if need be.
int openStream(const std::string& address, StreamHandle& handle, bool announce);

// Reconnection notices of the stream playing (the engine reopens a live
// stream whose connection was lost): true once for each loss, as soon as the
// stream has run out of audio while its connection is being reopened.
bool takeReconnectNotice(StreamHandle handle);

// The address as the engine and the file system take it: the program's
// Windows-1252 text in UTF-8.
std::string engineAddress(const std::string& address);
// An address from outside (the command line, a playlist entry) as the
// program's text: UTF-8 becomes Windows-1252, and a character that has no
// place there is written as the escapes of its UTF-8 bytes, which an address
// may hold. Bytes that are not UTF-8 are taken as Windows-1252 already.
std::string addressFromOutside(const std::string& text);

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
