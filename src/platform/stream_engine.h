// The stream engine: plays internet radio streams and local audio files.
//
// Built over FFmpeg (libavformat, libavcodec, libswresample). The interface is
// the handle-based one the stream player was written against: a stream is a
// 32-bit handle (0 = none), every call reports failure by its result and leaves
// a code for ErrorGetCode, and the program's global stream volume is a
// configuration option.
//
// Addresses: "http://" and "https://" addresses are fetched by the engine's own
// HTTP/1.0 client (so the server's response headers and ICY in-band metadata
// are available exactly as sent); "file://" addresses and plain paths are local
// files. Network streams are read front to back without seeking.
//
// The three creators keep their division:
//   StreamCreateURL      MP3/MP2, Ogg Vorbis, Opus, FLAC, WAV ...; refuses AAC,
//                        MP4 and HLS with ERROR_FILEFORM;
//   AAC_StreamCreateURL  AAC in ADTS or MP4 containers; refuses the rest;
//   HLS_StreamCreateURL  HLS playlists (".m3u8"); refuses the rest.
// With CONFIG_NET_PLAYLIST >= 1 an address that names a PLS or M3U playlist is
// followed: its entries are tried in order with the same creator.
//
// Threads. All functions may be called from any thread, normally the program's
// main thread. Each stream has one download/decode thread of its own; sync
// callbacks (ChannelSetSync) and download callbacks run on that thread, except
// SYNC_FREE, which runs on the thread that frees the stream. A callback may call
// any function of this interface, StreamFree of its own stream included.
// Creating a stream blocks the caller while connecting, at most about the
// network time-out (CONFIG_NET_TIMEOUT); freeing a stream waits for its thread,
// which leaves any network wait within about 100 ms.
//
// Output. Every stream that is not a decoding channel (STREAM_DECODE) is a
// source of the program's audio mixer (audio_device.h), resampled to the
// device's float stereo at audioRate() and scaled by CONFIG_GVOL_STREAM.
// Decoding channels deliver float stereo at the stream's own sample rate
// through ChannelGetData instead.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

using HSTREAM = uint32_t;
using HSYNC = uint32_t;

// Error codes (ErrorGetCode).
constexpr int ERROR_OK = 0;
constexpr int ERROR_MEM = 1;
constexpr int ERROR_FILEOPEN = 2;    // not found: refused, unknown host, 404, no such file
constexpr int ERROR_DRIVER = 3;      // no audio output could be opened
constexpr int ERROR_HANDLE = 5;      // not a valid stream handle
constexpr int ERROR_INIT = 8;        // Init has not been called
constexpr int ERROR_ALREADY = 14;    // Init called twice; sync already removed
constexpr int ERROR_ILLTYPE = 19;    // unknown tag, sync or position type
constexpr int ERROR_ILLPARAM = 20;   // an argument out of range
constexpr int ERROR_DEVICE = 23;     // no such output device number
constexpr int ERROR_NOPLAY = 24;     // the stream is not playing (pause)
constexpr int ERROR_NOTAVAIL = 37;   // the requested value does not exist for this stream
constexpr int ERROR_DECODE = 38;     // a decoding channel cannot be played
constexpr int ERROR_TIMEOUT = 40;    // the server did not answer within the time-out
constexpr int ERROR_FILEFORM = 41;   // unsupported format (or not this creator's format)
constexpr int ERROR_ENDED = 45;      // a decoding channel has reached its end
constexpr int ERROR_CANCEL = 100;    // the opening was cancelled (StreamOpenCancel)
constexpr int ERROR_UNKNOWN = -1;

// What lies behind the last error of the calling thread (ErrorGetDetail), for
// telling the user what went wrong in terms he can act on. The codes above
// stay as they are; this only adds the reason.
enum class FailReason : uint8_t {
  None,
  NoSuchFile,     // a local file that does not exist or cannot be read
  BadAddress,     // an address that cannot be parsed, or a scheme the engine does not speak
  UnknownHost,    // the host name does not resolve
  Refused,        // nothing accepts connections at that port
  Unreachable,    // no route to the host (network down, host away)
  Certificate,    // TLS: the server's certificate is not trusted or not for this host
  Tls,            // TLS: the handshake failed for another reason
  HttpStatus,     // the server answered with an error status (ErrorDetail::status)
  Redirects,      // redirected too often (a loop)
  NotHttp,        // the server's answer is not HTTP at all
  Closed,         // the server closed the connection before answering
  Timeout,        // nothing came within the time-out
  NoAudio,        // what the address delivers holds no audio this engine decodes
  EmptyPlaylist,  // a playlist without a single entry
  Cancelled,      // the opening was cancelled
};
struct ErrorDetail {
  FailReason reason = FailReason::None;
  int status = 0;  // the HTTP status with FailReason::HttpStatus
};

// Stream creation flags.
constexpr uint32_t STREAM_AUTOFREE = 0x40000;   // free the stream when it ends
constexpr uint32_t STREAM_RESTRATE = 0x80000;   // accepted, no effect
constexpr uint32_t STREAM_BLOCK = 0x100000;     // accepted: network streams are always read in blocks
constexpr uint32_t STREAM_DECODE = 0x200000;    // decoding channel: read with ChannelGetData
constexpr uint32_t STREAM_STATUS = 0x800000;    // accepted, no effect

// StreamGetFilePosition modes. For network streams END is the size of the
// download buffer (or the whole length when the body is known to be shorter),
// BUFFER what that buffer holds, CONNECTED 1 while the download goes on. For
// local files END is the file size, BUFFER what is still unread and
// CONNECTED 0. HLS streams report END and BUFFER as unavailable.
constexpr uint32_t FILEPOS_CURRENT = 0;
constexpr uint32_t FILEPOS_DOWNLOAD = 1;
constexpr uint32_t FILEPOS_END = 2;
constexpr uint32_t FILEPOS_START = 3;
constexpr uint32_t FILEPOS_CONNECTED = 4;
constexpr uint32_t FILEPOS_BUFFER = 5;

// ChannelGetTags types.
// HTTP and ICY: the response headers, one zero-terminated text per line
// (status line first) and an empty text at the end; ICY when the status line
// begins with "ICY", else HTTP. META: the last in-band metadata text, e.g.
// "StreamTitle='...';StreamUrl='...';". A META result stays valid until the
// calling thread asks for tags again; HTTP and ICY results while the stream lives.
constexpr uint32_t TAG_HTTP = 3;
constexpr uint32_t TAG_ICY = 4;
constexpr uint32_t TAG_META = 5;

// ChannelSetSync types and flags.
constexpr uint32_t SYNC_END = 2;       // playback (or decoding) reached the end
constexpr uint32_t SYNC_META = 4;      // new in-band metadata arrived
constexpr uint32_t SYNC_STALL = 6;     // data 0: stalled for lack of data; 1: resumed
constexpr uint32_t SYNC_DOWNLOAD = 7;  // the download has ended
constexpr uint32_t SYNC_FREE = 8;      // the stream is being freed
// A live network stream lost its connection and is being reopened
// (CONFIG_NET_RECONNECT): data 0 when the connection is lost, 1 when the
// stream plays on over a new connection, 2 when the engine gave up (the
// stream then ends once what it holds has played).
constexpr uint32_t SYNC_RECONNECT = 16;
constexpr uint32_t SYNC_MIXTIME = 0x40000000;  // accepted: every sync is called at once
constexpr uint32_t SYNC_ONETIME = 0x80000000;  // remove the sync after its first call

// ChannelIsActive results.
constexpr uint32_t ACTIVE_STOPPED = 0;  // not started, stopped, ended, or no such stream
constexpr uint32_t ACTIVE_PLAYING = 1;
constexpr uint32_t ACTIVE_STALLED = 2;  // playing but waiting for data
constexpr uint32_t ACTIVE_PAUSED = 3;

// Configuration options (SetConfig/GetConfig; NET_AGENT and NET_PROXY through
// SetConfigPtr/GetConfigPtr).
constexpr uint32_t CONFIG_GVOL_STREAM = 5;      // 0...10000, default 10000
constexpr uint32_t CONFIG_NET_TIMEOUT = 11;     // connection time-out in ms, default 5000
constexpr uint32_t CONFIG_NET_BUFFER = 12;      // download buffer length in ms, default 5000
constexpr uint32_t CONFIG_NET_PREBUF = 15;      // % of the buffer filled before creation returns, default 75
constexpr uint32_t CONFIG_NET_AGENT = 16;       // User-Agent text
constexpr uint32_t CONFIG_NET_PROXY = 17;       // "[user:pass@]host:port"; null or "" = direct
constexpr uint32_t CONFIG_NET_PLAYLIST = 21;    // 0 = never follow playlists, 1 or 2 = follow
constexpr uint32_t CONFIG_NET_READTIMEOUT = 37; // ms without data that end a connection, 0 = never
// How long a live network stream (one without a known length) whose
// connection dropped, or stayed silent for CONFIG_NET_READTIMEOUT, is reopened
// before the engine gives up, in ms; 0 (the default) = never reopened, the
// stream ends when its data runs out. A file or a programme of known length
// is never reopened.
constexpr uint32_t CONFIG_NET_RECONNECT = 64;

// ChannelGetData: request the data as float (the only form delivered).
constexpr uint32_t DATA_FLOAT = 0x40000000;

// Channel types (ChannelGetInfo ctype).
constexpr uint32_t CTYPE_STREAM_OGG = 0x10002;
constexpr uint32_t CTYPE_STREAM_MP1 = 0x10003;
constexpr uint32_t CTYPE_STREAM_MP2 = 0x10004;
constexpr uint32_t CTYPE_STREAM_MP3 = 0x10005;
constexpr uint32_t CTYPE_STREAM_WAV = 0x40000;
constexpr uint32_t CTYPE_STREAM_FLAC = 0x10900;
constexpr uint32_t CTYPE_STREAM_AAC = 0x10b00;
constexpr uint32_t CTYPE_STREAM_MP4 = 0x10b01;
constexpr uint32_t CTYPE_STREAM_OPUS = 0x11200;
constexpr uint32_t CTYPE_STREAM_HLS = 0x10300;
constexpr uint32_t CTYPE_STREAM_OTHER = 0x10000;

struct ChannelInfo {
  uint32_t freq = 0;   // sample rate of the data produced (device rate when playing)
  uint32_t chans = 0;  // always 2
  uint32_t flags = 0;  // creation flags
  uint32_t ctype = 0;  // CTYPE_STREAM_...
};

// Called with the downloaded body bytes (without in-band metadata) as they
// arrive, and with (nullptr, 0) when the download ends.
using DOWNLOADPROC = void(const void* buffer, uint32_t length, void* user);
// A sync: `channel` is the stream handle, `data` depends on the type.
using SYNCPROC = void(HSYNC handle, uint32_t channel, uint32_t data, void* user);

// Opens the audio output. device -1: the default output; 1...n: the n-th name
// of audioOutputNames(); 0: no output (only decoding channels can be made).
// `freq`, `flags`, `win` and `clsid` are accepted for the interface's sake; the
// output runs at the device's rate. Fails with ERROR_DRIVER when no output can
// be opened, ERROR_ALREADY when already initialised.
bool Init(int device, uint32_t freq, uint32_t flags, void* win, const void* clsid);
// Frees every stream. The shared audio device stays open for its other users.
bool Free();

// Error code of the last call made by the calling thread.
int ErrorGetCode();
// Why the last failing call of the calling thread failed (see FailReason).
ErrorDetail ErrorGetDetail();

bool SetConfig(uint32_t option, uint32_t value);
// Returns the option's value, or 0xFFFFFFFF (ERROR_ILLTYPE) for an unknown option.
uint32_t GetConfig(uint32_t option);
// The text is copied; null clears it.
bool SetConfigPtr(uint32_t option, const void* value);
// Returns the engine's copy of the text (valid until the next SetConfigPtr).
const void* GetConfigPtr(uint32_t option);

// The creators: return a handle, or 0 with ErrorGetCode set. `offset` is
// accepted for the interface's sake (network streams start at the beginning).
HSTREAM StreamCreateURL(const char* url, uint32_t offset, uint32_t flags, DOWNLOADPROC* proc,
                        void* user);
HSTREAM AAC_StreamCreateURL(const char* url, uint32_t offset, uint32_t flags, DOWNLOADPROC* proc,
                            void* user);
HSTREAM HLS_StreamCreateURL(const char* url, uint32_t flags, DOWNLOADPROC* proc, void* user);

// Opening without waiting. StreamOpenURL starts opening an address on a
// thread of the engine and returns at once, so the caller can go on serving
// its user; StreamOpenResult then tells whether the opening has ended (the
// wake hook is called when it does), and StreamOpenCancel gives it up. The
// opening is one attempt at everything the three creators take, in their
// order (plain formats, AAC, HLS), over one connection, following playlists,
// all within one deadline: CONFIG_NET_TIMEOUT from the call. With `play`, the
// stream starts playing by itself once enough audio is in hand to play on
// smoothly (`startMs` of it, or the whole download if it is shorter).
using HOPEN = uint32_t;
HOPEN StreamOpenURL(const char* url, uint32_t flags, DOWNLOADPROC* proc, void* user, bool play, int startMs);
// False while the opening goes on. Then true, once: `handle` gets the stream
// (0 on failure, with the error code and its detail). The opening is
// forgotten afterwards.
bool StreamOpenResult(HOPEN open, HSTREAM* handle, int* error, ErrorDetail* detail);
// Gives the opening up and forgets it; returns at once. A stream it made
// meanwhile is freed.
void StreamOpenCancel(HOPEN open);

// Stops and frees the stream; callbacks of it are not called after this returns.
bool StreamFree(HSTREAM handle);
// Returns 0xFFFFFFFFFFFFFFFF (ERROR_NOTAVAIL) when the mode does not apply.
uint64_t StreamGetFilePosition(HSTREAM handle, uint32_t mode);

const char* ChannelGetTags(uint32_t handle, uint32_t tags);
HSYNC ChannelSetSync(uint32_t handle, uint32_t type, uint64_t param, SYNCPROC* proc, void* user);
bool ChannelRemoveSync(uint32_t handle, HSYNC sync);
// Starts or resumes playback. `restart` starts a local file again from its
// beginning; network streams cannot go back and simply resume.
bool ChannelPlay(uint32_t handle, bool restart);
bool ChannelPause(uint32_t handle);
bool ChannelStop(uint32_t handle);
uint32_t ChannelIsActive(uint32_t handle);
bool ChannelGetInfo(uint32_t handle, ChannelInfo* info);
// Decoding channels only: fills `buffer` with up to `length` bytes (the flags
// in the high bits, e.g. DATA_FLOAT, are ignored) of float stereo samples,
// waiting for data while the stream goes on. Returns the byte count, or
// 0xFFFFFFFF with ERROR_ENDED at the end.
uint32_t ChannelGetData(uint32_t handle, void* buffer, uint32_t length);

// Hook called on a stream's thread whenever something the main thread polls
// for has changed (a stream ended or stalled, new metadata), so a waiting main
// loop can wake at once. Installed by an upper layer; empty by default.
void setStreamWakeHook(std::function<void()> hook);

}  // namespace platform
