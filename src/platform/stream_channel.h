// One stream of the stream engine: FFmpeg demuxing and decoding on a thread of
// its own, resampled with libswresample to the mixer's float stereo at
// kMixRate and queued on a PcmQueueSource, which the audio mixer plays (or
// which ChannelGetData reads for decoding channels).
//
// Threads: the creating thread opens the channel; from start() on, the
// channel's own thread does all network reading, demuxing and decoding and
// calls the syncs. Control calls (play, pause, free) come from any other
// thread and only set atomics or the output's pause flag.
//
// A live network stream whose connection drops or stalls is reopened by the
// channel's thread (stream_reconnect.h) when the set-up allows it: the
// demuxer and decoder start again on the new connection, while the output,
// its volume, the handle and the header tags stay.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_device.h"
#include "platform/stream_engine.h"
#include "platform/stream_http.h"
#include "platform/stream_reconnect.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVIOContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;
struct AVDictionary;

namespace platform {

enum class OpenStatus { Ok, NotFound, Timeout, Format, Aborted };

// FFmpeg writes its diagnostics to stderr, which would land in the middle of
// the terminal front-end's screen: the engine keeps it quiet unless the
// environment variable ONDARIA_STREAM_DEBUG is set.
void quietCodecLog();

struct ChannelSetup {
  uint32_t flags = 0;
  int bufferMs = 5000;     // download buffer length
  int readTimeoutMs = 0;   // 0 = never end a silent connection
  float volume = 1.0f;     // initial output volume (global stream volume / 10000)
  // Reopening a live stream after a drop: how long an outage may last (0 =
  // never reopen), and how the new connections are made.
  int reconnectMs = 0;
  std::string address;          // the network address asked for
  HttpStream::Options netOptions;
};

class StreamChannel {
 public:
  StreamChannel(uint32_t handle, const ChannelSetup& setup);
  ~StreamChannel();
  StreamChannel(const StreamChannel&) = delete;
  StreamChannel& operator=(const StreamChannel&) = delete;

  // Opening, on the creating thread. `http` is null for local files, whose
  // path is `address`. `demuxer` forces a format ("" probes); when a network
  // body does not decode in the forced format, the same bytes are probed
  // again. Opening gives up with Timeout at deadlineMs (steady clock), and
  // with Aborted as soon as `cancel` (may be null) is set.
  OpenStatus open(std::unique_ptr<HttpStream> http, const std::string& address,
                  const std::string& demuxer, int64_t deadlineMs, const std::atomic<bool>* cancel = nullptr);
  uint32_t ctype() const { return ctype_; }
  uint32_t handle() const { return handle_; }
  uint32_t flags() const { return setup_.flags; }
  bool isDecodeChannel() const { return (setup_.flags & STREAM_DECODE) != 0; }
  int outRate() const { return kMixRate; }
  // The mixer source this channel feeds.
  std::shared_ptr<PcmQueueSource> output() const { return out_; }

  // Starts the channel's thread. `onAutoFree` is called on that thread when a
  // STREAM_AUTOFREE channel has ended; `onWake` whenever a polled state changed.
  void start(std::function<void(StreamChannel&)> onAutoFree, std::function<void()> onWake);
  // Stops the thread (leaving any network wait within ~100 ms) and joins it,
  // unless called on the channel's own thread, which then just ends its loop.
  void stop();
  bool isOwnThread() const { return std::this_thread::get_id() == threadId_.load(); }
  void join();  // after stop() from the channel's own thread: joined by another

  // Prebuffering: waits until the download buffer is `percent` full, the
  // download ended, the channel was stopped, or nothing came for timeoutMs.
  void waitPrebuffer(int percent, int timeoutMs);

  // Starts playback from the channel's own thread as soon as `cushionMs` of
  // audio are downloaded or decoded (or the download has ended); returns at
  // once. A network stream joined without a start burst arrives at playing
  // speed, so this is what it keeps in hand against the network's hiccups.
  void playWhenBuffered(int cushionMs);

  // Control.
  bool play(bool restart);
  void pause();
  void halt();  // ChannelStop
  uint32_t activity() const;

  uint64_t filePosition(uint32_t mode, bool& ok) const;
  int64_t filePositionEnd() const;  // -1 when unknown
  bool starving() const;
  // Tag texts: header lines in the zero-separated layout; META into `out`.
  const std::string* headerTags(bool icy) const;
  bool metaText(std::string& out) const;

  HSYNC addSync(uint32_t type, uint64_t param, SYNCPROC* proc, void* user);
  bool removeSync(HSYNC sync);
  void fireFreeSyncs();

  // Decoding channels: copies up to `frames` frames, waiting while the stream
  // goes on. Returns -1 at the end.
  long readFrames(float* dst, size_t frames);

 private:
  enum State { kStopped = 0, kPlaying = 1, kPaused = 3 };
  struct Sync {
    HSYNC id;
    uint32_t type;
    SYNCPROC* proc;
    void* user;
  };

  static int readPacketThunk(void* opaque, uint8_t* buf, int size);
  bool cancelled() const { return abort_.load() || (cancel_ && cancel_->load()); }
  // Opens fmt_ and the decoder on http_ (or the local file) and decodes the
  // first frame; on a network body in a forced format that does not decode,
  // probes the same bytes again.
  OpenStatus openDemuxer(const std::string& demuxer, const std::string& address);
  OpenStatus openDemuxerOnce(const std::string& demuxer, const std::string& address);
  void closeDemuxer();
  void takeConnection();  // wires http_ to this channel (metadata, read time-out)
  // Live streams: notices a lost connection, drives the reconnector, and
  // switches to a new connection when one is ready and the old data is used up.
  bool reconnecting() const;
  void watchConnection();
  bool switchConnection();
  int64_t bufferedAudioMs() const;
  static int interruptThunk(void* opaque);
  static int ioOpenThunk(AVFormatContext* s, AVIOContext** pb, const char* url, int flags,
                         AVDictionary** options);
  int readPacket(uint8_t* buf, int size);
  OpenStatus mapError(int averror) const;
  void run();
  void idle();
  bool decodeFirstFrame();
  bool decodeSome();
  bool convertFrame(AVFrame* frame);
  void queueOutput(int frames);
  void finishDecoding();
  void restartFile();
  void serviceEvents();
  // Calls the syncs of `type`; false when none was set.
  bool fire(uint32_t type, uint32_t data);
  void onMetadata(const std::string& text);

  const uint32_t handle_;
  const ChannelSetup setup_;
  std::unique_ptr<HttpStream> http_;
  const std::atomic<bool>* cancel_ = nullptr;  // the opening's cancel flag, while opening
  std::string formatName_;  // the demuxer that worked, forced again after a reconnection
  bool live_ = false;       // a network stream without a known length
  std::unique_ptr<StreamReconnector> reconnect_;
  // An outage began before any reconnection sync was set (a stream that
  // drops as soon as it opens): told to the first one set while it lasts.
  bool outageUntold_ = false;
  bool opening_ = false;    // readPacket feeds an opening: no reconnection inside it
  bool switchPending_ = false;  // the old connection is used up and a new one is ready
  size_t replayPos_ = 0;    // while opening a network body: bytes read but kept in the buffer
  bool replaying_ = false;
  int64_t bitRate_ = 0;     // bits per second, for measuring the download buffer in time
  std::atomic<int> startCushionMs_{-1};  // playWhenBuffered: -1 when not waiting
  std::mutex controlMutex_;  // orders play, pause and stop with the start after the cushion
  bool hls_ = false;
  bool localFile_ = false;
  int64_t fileSize_ = -1;
  std::atomic<int64_t> filePos_{0};
  std::atomic<uint64_t> consumed_{0};
  size_t downloadCapacity_ = 0;
  int64_t deadlineMs_ = 0;
  std::atomic<bool> timedOut_{false};

  AVFormatContext* fmt_ = nullptr;
  AVIOContext* avio_ = nullptr;
  AVCodecContext* dec_ = nullptr;
  AVPacket* pkt_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwrContext* swr_ = nullptr;
  int swrInRate_ = 0, swrInFormat_ = -1, swrInChannels_ = 0;
  int audioIndex_ = -1;
  uint32_t ctype_ = CTYPE_STREAM_OTHER;
  void* origIoOpen_ = nullptr;
  std::vector<float> convertBuf_;  // one converted frame, reused
  size_t targetFrames_ = 0;        // decoded audio kept queued ahead

  std::shared_ptr<PcmQueueSource> out_;
  // Decoding channels: makes a read and a queueing exclusive, so that a read
  // can count what it took.
  std::mutex decodeMutex_;
  std::atomic<int> state_{kStopped};
  std::atomic<bool> started_{false};
  std::atomic<bool> restart_{false};
  std::atomic<bool> abort_{false};
  std::atomic<bool> decodeEnded_{false};
  std::atomic<bool> drained_{false};  // decoding channels: read to the end
  bool stallReported_ = false;
  bool endReported_ = false;
  bool downloadReported_ = false;

  std::string headerTags_;
  bool icyTags_ = false;
  mutable std::mutex metaMutex_;
  std::string meta_;
  bool hasMeta_ = false;

  std::mutex syncMutex_;
  std::vector<Sync> syncs_;
  HSYNC nextSync_ = 1;

  std::thread thread_;
  std::atomic<std::thread::id> threadId_{};
  std::mutex wakeMutex_;
  std::condition_variable wakeCv_;
  std::function<void(StreamChannel&)> onAutoFree_;
  std::function<void()> onWake_;
};

}  // namespace platform
