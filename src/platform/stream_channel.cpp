#include "platform/stream_channel.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// Bytes FFmpeg may read to recognise a format it is not told: enough for every
// format here (an MP4 "ftyp", an Ogg page, an MP3 frame after a small ID3 tag)
// without waiting long on a live stream.
constexpr int kProbeBytes = 32 * 1024;
// Read buffer of the custom I/O context: small, the download buffer is behind it.
constexpr int kIoBufferBytes = 4096;
// Decoded audio kept queued ahead. Decoding resumes once the queue is below it
// by a batch, so the thread wakes about four times a second to decode a
// quarter of a second (a dozen packets) and the queue never holds less than
// 350 ms, far more than the device buffer (85 ms while only streams play) and
// any scheduling delay. Each wake costs more than the decoding it does.
constexpr int kQueueAheadMs = 600;
constexpr int kDecodeBatchMs = 250;
// Packets decoded per pass before the thread looks at the network again.
constexpr int kPacketsPerPass = 16;
// Wait of readPacket for network data when the download buffer is empty.
constexpr int kIdleWaitMs = 20;
// Longest sleep of an idle thread. Play, pause and free wake it at once; the
// socket is read in bulk when it wakes (the kernel holds what arrives).
constexpr int kMaxIdleMs = 250;
// Packets read while looking for the first audio frame: enough to pass the
// priming and the damaged start of a stream joined mid-frame.
constexpr int kFirstFramePackets = 64;
// Longest wait of ChannelPlay for the first decoded audio.
constexpr int kPlayStartWaitMs = 100;
// Longest sleep of the thread while it waits for a new connection or for
// enough audio to start: attempts and the start follow within this much.
constexpr int kWatchMs = 20;
// Most of a network body kept while opening, so that a second format can read
// it again (a few seconds of any radio stream, and far past any probe).
constexpr size_t kMaxReplayBytes = 512 * 1024;
// Download buffer bounds: at least a few seconds of a low-rate stream, at most
// a few seconds of a lossless one.
constexpr size_t kMinDownloadBuffer = 16 * 1024;
constexpr size_t kMaxDownloadBuffer = 4 * 1024 * 1024;
// Assumed stream bit rate when neither the codec nor the headers tell it.
constexpr int64_t kDefaultBitRate = 128000;

uint32_t channelType(const AVFormatContext* fmt, AVCodecID codec) {
  std::string name = fmt->iformat ? fmt->iformat->name : "";
  if (name == "hls") return CTYPE_STREAM_HLS;
  if (name.find("mp4") != std::string::npos || name.find("mov") != std::string::npos) {
    return CTYPE_STREAM_MP4;
  }
  switch (codec) {
    case AV_CODEC_ID_MP3: return CTYPE_STREAM_MP3;
    case AV_CODEC_ID_MP2: return CTYPE_STREAM_MP2;
    case AV_CODEC_ID_MP1: return CTYPE_STREAM_MP1;
    case AV_CODEC_ID_AAC: return CTYPE_STREAM_AAC;
    case AV_CODEC_ID_FLAC: return CTYPE_STREAM_FLAC;
    case AV_CODEC_ID_OPUS: return CTYPE_STREAM_OPUS;
    case AV_CODEC_ID_VORBIS: return CTYPE_STREAM_OGG;
    default: break;
  }
  if (name == "wav") return CTYPE_STREAM_WAV;
  return CTYPE_STREAM_OTHER;
}

// The audio stream to play: FFmpeg's choice when the stream's parameters are
// known (it skips audio whose rate and channels are not yet known, as with an
// MP3 stream before its first frame), else the first audio stream.
int audioStreamOf(AVFormatContext* fmt) {
  int idx = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (idx >= 0) return idx;
  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    const AVCodecParameters* par = fmt->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->codec_id != AV_CODEC_ID_NONE) return static_cast<int>(i);
  }
  return -1;
}

int64_t bitRateOf(const AVCodecParameters* par, const HttpStream* http) {
  if (par->bit_rate > 0) return par->bit_rate;
  if (http) {
    std::string br = http->header("icy-br");  // kb/s, sometimes "128,128"
    long kbps = std::strtol(br.c_str(), nullptr, 10);
    if (kbps > 0 && kbps < 100000) return kbps * 1000;
  }
  return kDefaultBitRate;
}

}  // namespace

void quietCodecLog() { av_log_set_level(std::getenv("ONDARIA_STREAM_DEBUG") ? AV_LOG_INFO : AV_LOG_QUIET); }

// ---- channel ----

StreamChannel::StreamChannel(uint32_t handle, const ChannelSetup& setup)
    : handle_(handle), setup_(setup), out_(std::make_shared<PcmQueueSource>()) {
  // A new stream is silent until it is played. Streams are background sound:
  // while only they play, the device may use its long buffer.
  out_->setBackground(true);
  out_->setPaused(!isDecodeChannel());
  out_->setVolume(setup.volume);
  targetFrames_ = static_cast<size_t>(kMixRate) * kQueueAheadMs / 1000;
}

StreamChannel::~StreamChannel() {
  stop();
  reconnect_.reset();  // its attempt uses abort_, which must outlive it
  closeDemuxer();
  av_packet_free(&pkt_);
  av_frame_free(&frame_);
  swr_free(&swr_);
}

int StreamChannel::readPacketThunk(void* opaque, uint8_t* buf, int size) {
  return static_cast<StreamChannel*>(opaque)->readPacket(buf, size);
}

int StreamChannel::interruptThunk(void* opaque) {
  auto* self = static_cast<StreamChannel*>(opaque);
  if (self->cancelled()) return 1;
  if (self->deadlineMs_ > 0 && steadyMs() >= self->deadlineMs_) {
    self->timedOut_ = true;
    return 1;
  }
  return 0;
}

int StreamChannel::ioOpenThunk(AVFormatContext* s, AVIOContext** pb, const char* url, int flags,
                               AVDictionary** options) {
  auto* self = static_cast<StreamChannel*>(s->opaque);
  // Playlist segments fetched by FFmpeg itself: certificates are checked as
  // they are for the engine's own connections.
  if (std::strncmp(url, "https:", 6) == 0 || std::strstr(url, "+https:")) {
    av_dict_set(options, "tls_verify", "1", 0);
    if (const char* ca = std::getenv("SSL_CERT_FILE")) av_dict_set(options, "ca_file", ca, 0);
  }
  using IoOpen = int (*)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**);
  return reinterpret_cast<IoOpen>(self->origIoOpen_)(s, pb, url, flags, options);
}

int StreamChannel::readPacket(uint8_t* buf, int size) {
  for (;;) {
    size_t n;
    if (replaying_) {
      n = http_->peekBody(replayPos_, buf, static_cast<size_t>(size));
      replayPos_ += n;
    } else {
      n = http_->readBody(buf, static_cast<size_t>(size));
      consumed_ += n;
    }
    if (n > 0) return static_cast<int>(n);
    if (!http_->connected()) return AVERROR_EOF;
    if (cancelled()) return AVERROR_EXIT;
    if (deadlineMs_ > 0 && steadyMs() >= deadlineMs_) {
      timedOut_ = true;
      return AVERROR_EXIT;
    }
    if (replaying_ && http_->buffer().room() == 0) {
      // Everything read while opening is kept for a second look at it; a
      // body that fills this much without decoding is not audio.
      const size_t capacity = http_->buffer().capacity();
      if (capacity >= kMaxReplayBytes) return AVERROR_EOF;
      http_->buffer().setCapacity(std::min(capacity * 2, kMaxReplayBytes));
    }
    http_->pump(kIdleWaitMs);
    if (isOwnThread()) serviceEvents();
  }
}

OpenStatus StreamChannel::mapError(int err) const {
  if (cancelled()) return OpenStatus::Aborted;
  if (timedOut_.load() || (http_ && http_->timedOut()) || err == AVERROR(ETIMEDOUT)) {
    return OpenStatus::Timeout;
  }
  switch (err) {
    case AVERROR_HTTP_BAD_REQUEST:
    case AVERROR_HTTP_UNAUTHORIZED:
    case AVERROR_HTTP_FORBIDDEN:
    case AVERROR_HTTP_NOT_FOUND:
    case AVERROR_HTTP_OTHER_4XX:
    case AVERROR_HTTP_SERVER_ERROR:
    case AVERROR(ENOENT):
    case AVERROR(EACCES):
    case AVERROR(ECONNREFUSED):
    case AVERROR(ECONNRESET):
    case AVERROR(EHOSTUNREACH):
    case AVERROR(ENETUNREACH):
    case AVERROR(EIO):
      return OpenStatus::NotFound;
    default:
      return OpenStatus::Format;
  }
}

void StreamChannel::takeConnection() {
  http_->onMetadata = [this](const std::string& text) { onMetadata(text); };
  if (!http_->lastMetadata().empty()) onMetadata(http_->lastMetadata());
}

OpenStatus StreamChannel::open(std::unique_ptr<HttpStream> http, const std::string& address,
                               const std::string& demuxer, int64_t deadlineMs,
                               const std::atomic<bool>* cancel) {
  http_ = std::move(http);
  cancel_ = cancel;
  deadlineMs_ = deadlineMs;
  hls_ = demuxer == "hls";
  localFile_ = !http_;
  if (http_) {
    takeConnection();
    for (const std::string& line : http_->responseLines()) {
      headerTags_ += line;
      headerTags_ += '\0';
    }
    headerTags_ += '\0';
    icyTags_ = http_->isIcy();
  }
  if (localFile_) {
    struct stat st {};
    if (::stat(address.c_str(), &st) == 0) fileSize_ = st.st_size;
  }
  opening_ = true;
  const OpenStatus status = openDemuxer(demuxer, address);
  opening_ = false;
  cancel_ = nullptr;
  if (status != OpenStatus::Ok) return status;
  timedOut_ = false;
  if (http_ && !hls_) {
    bitRate_ = bitRateOf(fmt_->streams[audioIndex_]->codecpar, http_.get());
    int64_t bytes = bitRate_ / 8 * setup_.bufferMs / 1000;
    size_t cap = std::clamp<size_t>(static_cast<size_t>(bytes), kMinDownloadBuffer, kMaxDownloadBuffer);
    http_->buffer().setCapacity(cap);
    downloadCapacity_ = http_->buffer().capacity();
    http_->setReadTimeout(setup_.readTimeoutMs);
    live_ = http_->contentLength() < 0;
    if (live_ && setup_.reconnectMs > 0) {
      StreamReconnector::Setup again;
      again.address = setup_.address.empty() ? http_->url() : setup_.address;
      again.options = setup_.netOptions;
      again.options.abort = &abort_;
      again.options.bufferCapacity = downloadCapacity_;
      again.windowMs = setup_.reconnectMs;
      reconnect_ = std::make_unique<StreamReconnector>(std::move(again));
    }
  }
  if (localFile_ && fmt_->pb) filePos_ = avio_tell(fmt_->pb);
  deadlineMs_ = 0;
  return OpenStatus::Ok;
}

OpenStatus StreamChannel::openDemuxer(const std::string& demuxer, const std::string& address) {
  // What the server announces, or what its first bytes looked like, may be
  // wrong: a network body that does not decode in that format is probed
  // again from its first byte, which the download buffer still holds.
  const bool canReplay = http_ && !hls_ && !demuxer.empty();
  replaying_ = canReplay;
  replayPos_ = 0;
  OpenStatus status = openDemuxerOnce(demuxer, address);
  if (status == OpenStatus::Format && canReplay && !cancelled() && !timedOut_.load()) {
    closeDemuxer();
    replayPos_ = 0;
    status = openDemuxerOnce("", address);
  }
  if (replaying_) {
    // What the demuxer has read is now taken for good.
    http_->skipBody(replayPos_);
    consumed_ += replayPos_;
    replaying_ = false;
    replayPos_ = 0;
  }
  return status;
}

void StreamChannel::closeDemuxer() {
  if (fmt_) avformat_close_input(&fmt_);
  if (avio_) {
    av_freep(&avio_->buffer);
    avio_context_free(&avio_);
  }
  avcodec_free_context(&dec_);
  audioIndex_ = -1;
}

OpenStatus StreamChannel::openDemuxerOnce(const std::string& demuxer, const std::string& address) {
  fmt_ = avformat_alloc_context();
  if (!fmt_) return OpenStatus::Format;
  fmt_->interrupt_callback.callback = interruptThunk;
  fmt_->interrupt_callback.opaque = this;
  fmt_->opaque = this;
  origIoOpen_ = reinterpret_cast<void*>(fmt_->io_open);
  fmt_->io_open = ioOpenThunk;
  fmt_->format_probesize = kProbeBytes;
  fmt_->probesize = 2 * kProbeBytes;

  AVDictionary* opts = nullptr;
  std::string url;
  if (http_) {
    auto* buf = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    avio_ = buf ? avio_alloc_context(buf, kIoBufferBytes, 0, this, readPacketThunk, nullptr, nullptr) : nullptr;
    if (!avio_) {
      av_free(buf);
      return OpenStatus::Format;
    }
    fmt_->pb = avio_;
    fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
    url = http_->url();
    // Segments of a network playlist are network addresses only.
    av_dict_set(&opts, "protocol_whitelist", "http,https,tcp,tls,crypto", 0);
  } else {
    url = "file:" + address;
    av_dict_set(&opts, "protocol_whitelist", hls_ ? "file,http,https,tcp,tls,crypto" : "file", 0);
  }
  const AVInputFormat* forced = demuxer.empty() ? nullptr : av_find_input_format(demuxer.c_str());
  int r = avformat_open_input(&fmt_, url.c_str(), forced, &opts);
  av_dict_free(&opts);
  if (r < 0) return mapError(r);  // fmt_ is freed and null

  int idx = audioStreamOf(fmt_);
  // Stream parameters are not needed up front (the decoder and the resampler
  // take them from the frames); only containers that announce no stream at
  // all are analysed, since that reads up to the probe size.
  if (idx < 0 || fmt_->streams[idx]->codecpar->codec_id == AV_CODEC_ID_NONE) {
    fmt_->max_analyze_duration = 2 * AV_TIME_BASE;
    r = avformat_find_stream_info(fmt_, nullptr);
    if (r < 0 && (cancelled() || timedOut_.load())) return mapError(r);
    idx = audioStreamOf(fmt_);
  }
  if (idx < 0) return OpenStatus::Format;  // no audio in it (text, image, video only)
  audioIndex_ = idx;
  for (unsigned i = 0; i < fmt_->nb_streams; ++i) {
    fmt_->streams[i]->discard = static_cast<int>(i) == idx ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  const AVCodecParameters* par = fmt_->streams[idx]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (!codec) return OpenStatus::Format;
  dec_ = avcodec_alloc_context3(codec);
  if (!dec_ || avcodec_parameters_to_context(dec_, par) < 0 || avcodec_open2(dec_, codec, nullptr) < 0) {
    return OpenStatus::Format;
  }
  if (!pkt_) pkt_ = av_packet_alloc();
  if (!frame_) frame_ = av_frame_alloc();
  if (!pkt_ || !frame_) return OpenStatus::Format;

  ctype_ = channelType(fmt_, par->codec_id);
  // The stream counts as audio once a first frame decodes; text or a broken
  // body announced as audio is refused here. That frame is kept.
  if (!decodeFirstFrame()) return timedOut_.load() ? OpenStatus::Timeout : mapError(AVERROR_INVALIDDATA);
  // The demuxer that worked is forced again on a new connection to the stream.
  const std::string name = fmt_->iformat && fmt_->iformat->name ? fmt_->iformat->name : "";
  formatName_ = name.substr(0, name.find(','));
  return OpenStatus::Ok;
}

bool StreamChannel::decodeFirstFrame() {
  for (int packets = 0; packets < kFirstFramePackets; ++packets) {
    int r = av_read_frame(fmt_, pkt_);
    if (r < 0) return false;
    if (pkt_->stream_index != audioIndex_) {
      av_packet_unref(pkt_);
      continue;
    }
    int s = avcodec_send_packet(dec_, pkt_);
    av_packet_unref(pkt_);
    if (s < 0 && s != AVERROR(EAGAIN)) continue;
    bool got = false;
    while (avcodec_receive_frame(dec_, frame_) == 0) {
      got = convertFrame(frame_) || got;
      av_frame_unref(frame_);
    }
    if (got) return true;
  }
  return false;
}

void StreamChannel::start(std::function<void(StreamChannel&)> onAutoFree, std::function<void()> onWake) {
  onAutoFree_ = std::move(onAutoFree);
  onWake_ = std::move(onWake);
  thread_ = std::thread([this] {
    threadId_ = std::this_thread::get_id();
    run();
    audioThreadEnds();
  });
}

void StreamChannel::stop() {
  abort_ = true;
  wakeCv_.notify_all();
  join();
}

void StreamChannel::join() {
  if (thread_.joinable() && !isOwnThread()) thread_.join();
}

void StreamChannel::waitPrebuffer(int percent, int timeoutMs) {
  if (!http_ || hls_ || percent <= 0) return;
  uint64_t target = static_cast<uint64_t>(filePositionEnd()) * static_cast<uint64_t>(std::min(percent, 100)) / 100;
  size_t last = http_->buffered();
  int64_t lastProgress = steadyMs();
  while (!abort_.load() && http_->connected() && http_->buffered() < target) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kIdleWaitMs));
    size_t now = http_->buffered();
    if (now != last) {
      last = now;
      lastProgress = steadyMs();
    } else if (steadyMs() - lastProgress > timeoutMs) {
      return;  // the server stopped sending: give the caller what there is
    }
  }
}

void StreamChannel::playWhenBuffered(int cushionMs) {
  {
    std::lock_guard<std::mutex> lock(controlMutex_);
    started_ = true;
    state_ = kPlaying;  // the output stays paused until the cushion is there
    startCushionMs_ = std::max(cushionMs, 0);
  }
  wakeCv_.notify_all();
}

int64_t StreamChannel::bufferedAudioMs() const {
  int64_t ms = static_cast<int64_t>(out_->pendingFrames()) * 1000 / kMixRate;
  if (http_ && !hls_ && bitRate_ > 0) ms += static_cast<int64_t>(http_->buffered()) * 8000 / bitRate_;
  return ms;
}

bool StreamChannel::play(bool restart) {
  {
    std::lock_guard<std::mutex> lock(controlMutex_);
    startCushionMs_ = -1;
    if (restart && localFile_) restart_ = true;
    started_ = true;
    state_ = kPlaying;
    out_->setPaused(false);
  }
  wakeCv_.notify_all();
  // Playback starts with audio ready, as far as the data allows: the thread
  // decodes the first batch within milliseconds when there is data; the wait
  // is bounded for when there is none.
  for (int i = 0; i < kPlayStartWaitMs / 2 && !out_->busy() && !decodeEnded_.load(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void StreamChannel::pause() {
  std::lock_guard<std::mutex> lock(controlMutex_);
  startCushionMs_ = -1;
  state_ = kPaused;
  out_->setPaused(true);
}

void StreamChannel::halt() {
  std::lock_guard<std::mutex> lock(controlMutex_);
  startCushionMs_ = -1;
  state_ = kStopped;
  out_->setPaused(true);
}

uint32_t StreamChannel::activity() const {
  bool empty = !out_->busy();
  bool ended = decodeEnded_.load() && empty;
  if (isDecodeChannel()) return ended ? ACTIVE_STOPPED : ACTIVE_PLAYING;
  if (ended && state_.load() != kStopped && !restart_.load()) return ACTIVE_STOPPED;
  switch (state_.load()) {
    case kPlaying: return (empty && starving()) ? ACTIVE_STALLED : ACTIVE_PLAYING;
    case kPaused: return ACTIVE_PAUSED;
    default: return ACTIVE_STOPPED;
  }
}

bool StreamChannel::starving() const {
  // Out of decoded audio with nothing left to decode: a local file never
  // waits, a network stream only when its download buffer is empty too
  // (right after playback starts the first batch is simply not decoded yet).
  if (decodeEnded_.load() || localFile_) return false;
  if (http_ && !hls_) return http_->buffered() == 0;
  return true;
}

int64_t StreamChannel::filePositionEnd() const {
  if (localFile_) return fileSize_;
  if (hls_) return -1;
  int64_t length = http_->contentLength();
  int64_t cap = static_cast<int64_t>(downloadCapacity_);
  return (length >= 0 && length < cap) ? length : cap;
}

uint64_t StreamChannel::filePosition(uint32_t mode, bool& ok) const {
  ok = true;
  switch (mode) {
    case FILEPOS_START:
      return 0;
    case FILEPOS_CONNECTED:
      // 0 once the download has ended for good; a live stream being
      // reconnected counts as connected.
      if (localFile_) return 0;
      if (reconnecting() && !decodeEnded_.load()) return 1;
      if (hls_) return decodeEnded_.load() ? 0 : 1;
      return http_->connected() ? 1 : 0;
    case FILEPOS_END: {
      int64_t end = filePositionEnd();
      if (end >= 0) return static_cast<uint64_t>(end);
      break;
    }
    case FILEPOS_BUFFER:
      if (localFile_ && fileSize_ >= 0) return static_cast<uint64_t>(std::max<int64_t>(0, fileSize_ - filePos_.load()));
      if (http_ && !hls_) return http_->buffered();
      break;
    case FILEPOS_CURRENT:
      if (localFile_) return static_cast<uint64_t>(filePos_.load());
      if (!hls_) return consumed_.load();
      break;
    case FILEPOS_DOWNLOAD:
      if (localFile_ && fileSize_ >= 0) return static_cast<uint64_t>(fileSize_);
      if (http_ && !hls_) return http_->downloaded();
      break;
    default:
      break;
  }
  ok = false;
  return ~uint64_t{0};
}

const std::string* StreamChannel::headerTags(bool icy) const {
  if (headerTags_.size() <= 1 || icy != icyTags_) return nullptr;
  return &headerTags_;
}

bool StreamChannel::metaText(std::string& out) const {
  std::lock_guard<std::mutex> lock(metaMutex_);
  if (!hasMeta_) return false;
  out = meta_;
  return true;
}

void StreamChannel::onMetadata(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(metaMutex_);
    meta_ = text;
    hasMeta_ = true;
  }
  if (isOwnThread()) {
    fire(SYNC_META, 0);
    if (onWake_) onWake_();
  }
}

HSYNC StreamChannel::addSync(uint32_t type, uint64_t /*param*/, SYNCPROC* proc, void* user) {
  std::lock_guard<std::mutex> lock(syncMutex_);
  HSYNC id = nextSync_++;
  syncs_.push_back({id, type, proc, user});
  return id;
}

bool StreamChannel::removeSync(HSYNC sync) {
  std::lock_guard<std::mutex> lock(syncMutex_);
  auto it = std::find_if(syncs_.begin(), syncs_.end(), [&](const Sync& s) { return s.id == sync; });
  if (it == syncs_.end()) return false;
  syncs_.erase(it);
  return true;
}

bool StreamChannel::fire(uint32_t type, uint32_t data) {
  std::vector<Sync> due;
  {
    std::lock_guard<std::mutex> lock(syncMutex_);
    for (auto it = syncs_.begin(); it != syncs_.end();) {
      if ((it->type & 0x00FFFFFF) == type) {
        due.push_back(*it);
        if (it->type & SYNC_ONETIME) {
          it = syncs_.erase(it);
          continue;
        }
      }
      ++it;
    }
  }
  // Called without the lock, so a sync may add or remove syncs.
  for (const Sync& s : due) s.proc(s.id, handle_, data, s.user);
  return !due.empty();
}

void StreamChannel::fireFreeSyncs() { fire(SYNC_FREE, 0); }

long StreamChannel::readFrames(float* dst, size_t frames) {
  std::fill(dst, dst + frames * 2, 0.0f);
  size_t got = 0;
  while (got < frames) {
    size_t n;
    {
      std::lock_guard<std::mutex> lock(decodeMutex_);
      size_t before = out_->pendingFrames();
      out_->mixInto(dst + got * 2, static_cast<int>(frames - got));
      n = before - out_->pendingFrames();
    }
    got += n;
    if (n > 0) {
      wakeCv_.notify_all();
      continue;
    }
    if (decodeEnded_.load() && !out_->busy()) {
      drained_ = true;
      break;
    }
    if (abort_.load()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (got == 0 && drained_.load()) return -1;
  return static_cast<long>(got);
}

// ---- the channel's thread ----

void StreamChannel::run() {
  while (!abort_.load()) {
    if (restart_.exchange(false)) restartFile();
    bool busy = false;
    if (http_ && !hls_ && http_->connected()) busy = http_->pump(0) > 0;
    watchConnection();
    if (!decodeEnded_.load() && (isDecodeChannel() || started_.load())) busy = decodeSome() || busy;
    const int cushion = startCushionMs_.load();
    if (cushion >= 0 && (!http_ || hls_ || !http_->connected() || decodeEnded_.load() ||
                         bufferedAudioMs() >= cushion)) {
      std::lock_guard<std::mutex> lock(controlMutex_);
      // A pause or a play that came meanwhile has settled it already.
      if (startCushionMs_.load() == cushion && state_.load() == kPlaying) out_->setPaused(false);
      startCushionMs_ = -1;
    }
    serviceEvents();
    audioMaintain();
    if (abort_.load()) break;
    if (endReported_ && (setup_.flags & STREAM_AUTOFREE)) {
      if (onAutoFree_) onAutoFree_(*this);
      break;
    }
    if (!busy) idle();
  }
}

void StreamChannel::idle() {
  // Sleep until the decoded queue is down to its refill level, or at most
  // kMaxIdleMs.
  int waitMs = kMaxIdleMs;
  bool decoding = !decodeEnded_.load() && (isDecodeChannel() || state_.load() == kPlaying);
  if (decoding) {
    int pendingMs = static_cast<int>(out_->pendingFrames() * 1000 / kMixRate);
    // The mixer takes a device buffer at a time, so the queue falls in steps:
    // sleeping one step past the refill level wakes the thread once per
    // batch instead of polling until the step comes.
    int stepMs = audioBufferFrames() * 1000 / kMixRate + 1;
    waitMs = std::clamp(pendingMs - (kQueueAheadMs - kDecodeBatchMs) + stepMs, 5, kMaxIdleMs);
  }
  // Waiting for a new connection or for the start cushion: look often.
  if (!fmt_ || (reconnect_ && reconnect_->inOutage()) || startCushionMs_.load() >= 0) {
    waitMs = std::min(waitMs, kWatchMs);
  }
  // While the download buffer is low (filling at the start, or a stream that
  // barely keeps up) the socket is watched so that data is taken at once.
  bool low = http_ && !hls_ && http_->connected() && http_->buffered() < downloadCapacity_ / 2;
  if (low) {
    http_->pump(waitMs);
  } else {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wakeCv_.wait_for(lock, std::chrono::milliseconds(waitMs));
  }
}

bool StreamChannel::reconnecting() const { return reconnect_ && !reconnect_->gaveUp(); }

void StreamChannel::watchConnection() {
  if (!reconnect_ || opening_ || reconnect_->gaveUp()) return;
  const int64_t now = steadyMs();
  if (!http_->connected() && !reconnect_->inOutage()) {
    reconnect_->lose(now);
    outageUntold_ = !fire(SYNC_RECONNECT, 0);
    if (onWake_) onWake_();
  }
  if (!reconnect_->inOutage()) return;
  if (outageUntold_ && fire(SYNC_RECONNECT, 0)) {
    outageUntold_ = false;
    if (onWake_) onWake_();
  }
  reconnect_->service(now);
  if (reconnect_->gaveUp()) {
    outageUntold_ = false;
    fire(SYNC_RECONNECT, 2);
    if (onWake_) onWake_();
  }
}

bool StreamChannel::switchConnection() {
  std::unique_ptr<HttpStream> fresh = reconnect_->take();
  if (!fresh) return false;
  closeDemuxer();
  std::swap(http_, fresh);  // `fresh` holds the old connection now
  takeConnection();
  http_->buffer().setCapacity(downloadCapacity_);
  deadlineMs_ = steadyMs() + std::max(setup_.netOptions.timeoutMs, 1);
  opening_ = true;
  const OpenStatus status = openDemuxer(formatName_, http_->url());
  opening_ = false;
  deadlineMs_ = 0;
  timedOut_ = false;
  if (status != OpenStatus::Ok) {
    // Nothing playable came: back to the old, used-up connection, and on
    // with the outage.
    closeDemuxer();
    std::swap(http_, fresh);
    if (!abort_.load()) reconnect_->rejected(steadyMs());
    return false;
  }
  http_->setReadTimeout(setup_.readTimeoutMs);
  outageUntold_ = false;
  fire(SYNC_RECONNECT, 1);
  if (onWake_) onWake_();
  return true;
}

bool StreamChannel::decodeSome() {
  if (!fmt_) {
    // Between two connections of a live stream.
    watchConnection();
    if (!reconnecting()) {
      finishDecoding();  // given up: what is queued plays out, then the end
      return true;
    }
    if (!reconnect_->service(steadyMs())) return false;
    return switchConnection();
  }
  bool did = false;
  size_t batch = static_cast<size_t>(kMixRate) * kDecodeBatchMs / 1000;
  if (out_->pendingFrames() + batch > targetFrames_) return false;
  for (int i = 0; i < kPacketsPerPass && !decodeEnded_.load(); ++i) {
    if (out_->pendingFrames() >= targetFrames_) return did;
    int r = av_read_frame(fmt_, pkt_);
    if (localFile_ && fmt_->pb) filePos_ = avio_tell(fmt_->pb);
    if (r == AVERROR(EAGAIN)) return did;
    did = true;
    if (r < 0) {
      if (abort_.load()) return did;
      if (reconnecting() && !http_->connected()) {
        // The old connection's data is used up: wait for a new one.
        closeDemuxer();
        return did;
      }
      finishDecoding();  // end of file, or the connection ended or broke
      return did;
    }
    if (pkt_->stream_index != audioIndex_) {
      av_packet_unref(pkt_);
      continue;
    }
    int s = avcodec_send_packet(dec_, pkt_);
    av_packet_unref(pkt_);
    if (s < 0 && s != AVERROR(EAGAIN)) continue;  // a damaged packet: skip it
    while (avcodec_receive_frame(dec_, frame_) == 0) {
      convertFrame(frame_);
      av_frame_unref(frame_);
    }
  }
  return did;
}

bool StreamChannel::convertFrame(AVFrame* frame) {
  int channels = frame ? frame->ch_layout.nb_channels : 0;
  if (frame && (channels <= 0 || frame->sample_rate <= 0)) return false;
  if (frame && (!swr_ || frame->sample_rate != swrInRate_ || frame->format != swrInFormat_ ||
                channels != swrInChannels_)) {
    swr_free(&swr_);
    AVChannelLayout in{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_default(&in, channels);
    } else {
      av_channel_layout_copy(&in, &frame->ch_layout);
    }
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    int r = swr_alloc_set_opts2(&swr_, &stereo, AV_SAMPLE_FMT_FLT, kMixRate, &in,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (r < 0 || swr_init(swr_) < 0) {
      swr_free(&swr_);
      return false;
    }
    swrInRate_ = frame->sample_rate;
    swrInFormat_ = frame->format;
    swrInChannels_ = channels;
  }
  if (!swr_) return false;
  // A null frame drains what the resampler still holds.
  int inFrames = frame ? frame->nb_samples : 0;
  int maxOut = swr_get_out_samples(swr_, inFrames);
  if (maxOut <= 0) return true;
  if (convertBuf_.size() < static_cast<size_t>(maxOut) * 2) convertBuf_.resize(static_cast<size_t>(maxOut) * 2);
  auto* out = reinterpret_cast<uint8_t*>(convertBuf_.data());
  const uint8_t** in = frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr;
  int n = swr_convert(swr_, &out, maxOut, in, inFrames);
  if (n > 0) queueOutput(n);
  return n >= 0;
}

void StreamChannel::queueOutput(int frames) {
  PcmFormat format;
  format.rate = kMixRate;
  format.channels = 2;
  format.encoding = PcmEncoding::F32;
  size_t bytes = static_cast<size_t>(frames) * 2 * sizeof(float);
  if (isDecodeChannel()) {
    std::lock_guard<std::mutex> lock(decodeMutex_);
    out_->queue(convertBuf_.data(), bytes, format);
  } else {
    out_->queue(convertBuf_.data(), bytes, format);
  }
}

void StreamChannel::finishDecoding() {
  if (dec_) {
    avcodec_send_packet(dec_, nullptr);
    while (avcodec_receive_frame(dec_, frame_) == 0) {
      convertFrame(frame_);
      av_frame_unref(frame_);
    }
  }
  convertFrame(nullptr);
  decodeEnded_ = true;
}

void StreamChannel::restartFile() {
  if (!fmt_ || !localFile_) return;
  av_seek_frame(fmt_, -1, 0, AVSEEK_FLAG_BACKWARD);
  avcodec_flush_buffers(dec_);
  swr_free(&swr_);
  out_->flush();
  decodeEnded_ = false;
  drained_ = false;
  endReported_ = false;
}

void StreamChannel::serviceEvents() {
  bool empty = !out_->busy();
  bool stalled = started_.load() && empty && state_.load() == kPlaying && starving();
  if (stalled != stallReported_) {
    stallReported_ = stalled;
    fire(SYNC_STALL, stalled ? 0 : 1);
    if (onWake_) onWake_();
  }
  if (!downloadReported_ && http_ && !hls_ && !http_->connected() && !reconnecting()) {
    downloadReported_ = true;
    fire(SYNC_DOWNLOAD, 0);
  }
  bool ended = decodeEnded_.load() && empty && (isDecodeChannel() || state_.load() == kPlaying);
  if (ended && !endReported_) {
    endReported_ = true;
    fire(SYNC_END, 0);
    if (onWake_) onWake_();
  }
}

}  // namespace platform
