// The stream engine's handle table, configuration, creators and channel calls.
#include "platform/stream_engine.h"

#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/audio_device.h"
#include "platform/stream_channel.h"
#include "platform/stream_http.h"
#include "platform/stream_playlist.h"

namespace platform {

namespace {

// Bytes of a body looked at to tell playlists from audio.
constexpr size_t kSniffBytes = 2048;
// A playlist longer than this is not a radio playlist.
constexpr size_t kMaxPlaylistBytes = 64 * 1024;
constexpr uint32_t kNoValue = 0xFFFFFFFF;

// The three creators, and the opening that tries them all (StreamOpenURL).
enum class Creator { Plain, Aac, Hls, Any };

// An opening running on a thread of its own (StreamOpenURL).
struct Opening {
  std::thread thread;
  std::atomic<bool> cancel{false};
  std::atomic<bool> done{false};
  HSTREAM handle = 0;  // written by the opening's thread before `done`
  int error = ERROR_OK;
  ErrorDetail detail;
};

struct EngineState {
  std::mutex mutex;
  bool initialized = false;
  bool hasOutput = false;
  std::map<uint32_t, std::shared_ptr<StreamChannel>> streams;
  // Streams freed on their own thread (auto-free, or freed by their own
  // callback), waiting for another thread to join them.
  std::vector<std::shared_ptr<StreamChannel>> zombies;
  uint32_t nextHandle = 0x10000;

  std::atomic<int> volume{10000};
  std::atomic<int> netTimeout{5000};
  std::atomic<int> netBuffer{5000};
  std::atomic<int> prebuf{75};
  std::atomic<int> playlist{0};
  std::atomic<int> readTimeout{0};
  std::atomic<int> reconnect{0};
  // Openings under way (StreamOpenURL), and cancelled ones still ending.
  std::map<uint32_t, std::shared_ptr<Opening>> openings;
  std::vector<std::shared_ptr<Opening>> abandoned;
  uint32_t nextOpening = 1;
  std::string agent;  // under mutex
  std::string proxy;  // under mutex

  std::mutex hookMutex;
  std::function<void()> wakeHook;
};

EngineState& engine() {
  static EngineState state;
  return state;
}

thread_local int lastError = ERROR_OK;
thread_local ErrorDetail lastDetail;

bool fail(int code) {
  lastError = code;
  lastDetail = {};
  return false;
}

void succeed() {
  lastError = ERROR_OK;
  lastDetail = {};
}

template <typename T>
T failWith(int code, T value, FailReason reason = FailReason::None, int status = 0) {
  lastError = code;
  lastDetail = {reason, status};
  return value;
}

void wakeMainThread() {
  EngineState& e = engine();
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(e.hookMutex);
    hook = e.wakeHook;
  }
  if (hook) hook();
}

std::shared_ptr<StreamChannel> lookup(uint32_t handle) {
  EngineState& e = engine();
  std::lock_guard<std::mutex> lock(e.mutex);
  auto it = e.streams.find(handle);
  if (it == e.streams.end()) {
    lastError = ERROR_HANDLE;
    return nullptr;
  }
  return it->second;
}

// Joins and destroys streams that ended on their own thread. Never joins the
// calling thread itself (a callback calling into the engine).
void reapZombies() {
  EngineState& e = engine();
  std::vector<std::shared_ptr<StreamChannel>> dead;
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    for (auto it = e.zombies.begin(); it != e.zombies.end();) {
      if ((*it)->isOwnThread()) {
        ++it;
        continue;
      }
      dead.push_back(std::move(*it));
      it = e.zombies.erase(it);
    }
  }
  for (auto& ch : dead) {
    if (!ch->isDecodeChannel()) audioRemoveSource(ch->output().get());
    ch->join();
  }
}

// Frees a channel already taken out of the table.
void release(const std::shared_ptr<StreamChannel>& ch) {
  if (ch->isOwnThread()) {
    // Freed by one of its own callbacks: its loop ends when the callback
    // returns, and another thread joins it.
    ch->stop();
    ch->fireFreeSyncs();
    std::lock_guard<std::mutex> lock(engine().mutex);
    engine().zombies.push_back(ch);
    return;
  }
  if (!ch->isDecodeChannel()) audioRemoveSource(ch->output().get());
  ch->stop();
  ch->fireFreeSyncs();
}

void autoFree(StreamChannel& ch) {
  EngineState& e = engine();
  std::shared_ptr<StreamChannel> self;
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    auto it = e.streams.find(ch.handle());
    if (it == e.streams.end()) return;
    self = it->second;
    e.streams.erase(it);
  }
  release(self);
}

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

bool startsWithNoCase(const std::string& s, const char* prefix) {
  size_t n = std::char_traits<char>::length(prefix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  }
  return true;
}

std::string percentDecode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool creatorAccepts(Creator creator, uint32_t ctype) {
  bool aac = ctype == CTYPE_STREAM_AAC || ctype == CTYPE_STREAM_MP4;
  switch (creator) {
    case Creator::Plain: return !aac && ctype != CTYPE_STREAM_HLS;
    case Creator::Aac: return aac;
    case Creator::Hls: return ctype == CTYPE_STREAM_HLS;
    case Creator::Any: return true;
  }
  return false;
}

// What one opening needs besides the address; shared by the entries of a
// playlist, so the whole opening keeps one deadline.
struct CreateContext {
  Creator creator;
  uint32_t flags;
  DOWNLOADPROC* proc;
  void* user;
  int64_t deadline;                   // steady-clock ms
  const std::atomic<bool>* cancel;    // may be null
};

HSTREAM create(const CreateContext& cx, const char* urlText, int depth);

// Tries the entries of a playlist in order; the first that opens wins. The
// reason reported is the first entry's: later ones usually fail the same way.
HSTREAM followPlaylist(const CreateContext& cx, const std::vector<std::string>& entries, int depth) {
  if (entries.empty()) return failWith<HSTREAM>(ERROR_FILEFORM, 0, FailReason::EmptyPlaylist);
  int error = ERROR_FILEFORM;
  ErrorDetail detail;
  for (const std::string& entry : entries) {
    HSTREAM h = create(cx, entry.c_str(), depth + 1);
    if (h) return h;
    if (&entry == &entries.front()) {
      error = lastError;
      detail = lastDetail;
    }
    if (lastError == ERROR_CANCEL || lastError == ERROR_TIMEOUT) break;  // the deadline is common
  }
  return failWith<HSTREAM>(error, 0, detail.reason, detail.status);
}

HSTREAM failedChannel(OpenStatus status, bool network) {
  switch (status) {
    case OpenStatus::Ok: break;
    case OpenStatus::NotFound:
      return failWith<HSTREAM>(ERROR_FILEOPEN, 0, network ? FailReason::Closed : FailReason::NoSuchFile);
    case OpenStatus::Timeout: return failWith<HSTREAM>(ERROR_TIMEOUT, 0, FailReason::Timeout);
    case OpenStatus::Aborted: return failWith<HSTREAM>(ERROR_CANCEL, 0, FailReason::Cancelled);
    case OpenStatus::Format: return failWith<HSTREAM>(ERROR_FILEFORM, 0, FailReason::NoAudio);
  }
  return failWith<HSTREAM>(ERROR_UNKNOWN, 0);
}

HSTREAM create(const CreateContext& cx, const char* urlText, int depth) {
  EngineState& e = engine();
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    if (!e.initialized) return failWith<HSTREAM>(ERROR_INIT, 0);
    if (!(cx.flags & STREAM_DECODE) && !e.hasOutput) return failWith<HSTREAM>(ERROR_NOTAVAIL, 0);
  }
  if (!urlText) return failWith<HSTREAM>(ERROR_ILLPARAM, 0);
  if (cx.cancel && cx.cancel->load()) return failWith<HSTREAM>(ERROR_CANCEL, 0, FailReason::Cancelled);
  reapZombies();
  std::string address = trim(urlText);
  if (address.empty()) return failWith<HSTREAM>(ERROR_FILEOPEN, 0, FailReason::BadAddress);

  ChannelSetup setup;
  setup.flags = cx.flags;
  setup.bufferMs = e.netBuffer.load();
  setup.readTimeoutMs = e.readTimeout.load();
  setup.volume = static_cast<float>(e.volume.load()) / 10000.0f;
  setup.reconnectMs = e.reconnect.load();
  int timeoutMs = e.netTimeout.load();
  bool followLists = e.playlist.load() > 0 && depth == 0;

  std::unique_ptr<HttpStream> http;
  std::string head;
  std::string contentType;
  std::string path;
  bool network = startsWithNoCase(address, "http://") || startsWithNoCase(address, "https://");
  if (network) {
    HttpStream::Options options;
    options.timeoutMs = timeoutMs;
    {
      std::lock_guard<std::mutex> lock(e.mutex);
      options.userAgent = e.agent;
      options.proxy = e.proxy;
    }
    setup.address = address;
    setup.netOptions = options;
    options.deadlineMs = cx.deadline;
    options.abort = cx.cancel;
    http = std::make_unique<HttpStream>();
    NetResult r = http->open(address, options);
    if (r == NetResult::Timeout) return failWith<HSTREAM>(ERROR_TIMEOUT, 0, FailReason::Timeout);
    if (r == NetResult::Aborted) return failWith<HSTREAM>(ERROR_CANCEL, 0, FailReason::Cancelled);
    if (r != NetResult::Ok) return failWith<HSTREAM>(ERROR_FILEOPEN, 0, http->failReason(), http->failStatus());
    int64_t length = http->contentLength();
    size_t want = length >= 0 ? std::min<size_t>(static_cast<size_t>(length), kSniffBytes) : kSniffBytes;
    if (!http->waitFor(want, cx.deadline)) {
      if (cx.cancel && cx.cancel->load()) return failWith<HSTREAM>(ERROR_CANCEL, 0, FailReason::Cancelled);
      return failWith<HSTREAM>(ERROR_TIMEOUT, 0, FailReason::Timeout);
    }
    head.resize(std::min(http->buffer().size(), kSniffBytes));
    http->buffer().peek(reinterpret_cast<uint8_t*>(head.data()), head.size());
    contentType = http->contentType();
    path = http->url();
  } else {
    if (startsWithNoCase(address, "file://")) {
      address = percentDecode(address.substr(7));
    } else if (address.find("://") != std::string::npos) {
      // A scheme this engine does not speak.
      return failWith<HSTREAM>(ERROR_FILEOPEN, 0, FailReason::BadAddress);
    }
    char resolved[PATH_MAX];
    struct stat st {};
    if (!realpath(address.c_str(), resolved) || ::stat(resolved, &st) != 0 || !S_ISREG(st.st_mode)) {
      return failWith<HSTREAM>(ERROR_FILEOPEN, 0, FailReason::NoSuchFile);
    }
    path = resolved;
    std::ifstream in(path, std::ios::binary);
    head.resize(kSniffBytes);
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
  }

  BodyKind kind = classifyBody(contentType, path, head);
  std::string demuxer;
  switch (kind) {
    case BodyKind::Hls:
      if (cx.creator != Creator::Hls && cx.creator != Creator::Any) return failWith<HSTREAM>(ERROR_FILEFORM, 0);
      demuxer = "hls";
      break;
    case BodyKind::Pls:
    case BodyKind::M3u: {
      if (!followLists) return failWith<HSTREAM>(ERROR_FILEFORM, 0, FailReason::NoAudio);
      std::string text;
      std::vector<std::string> entries;
      if (network) {
        http->waitFor(kMaxPlaylistBytes, cx.deadline);
        text.resize(http->buffer().size());
        http->buffer().peek(reinterpret_cast<uint8_t*>(text.data()), text.size());
        StreamUrl base;
        base.parse(http->url());
        for (const std::string& entry : playlistEntries(kind, text)) entries.push_back(resolveUrl(base, entry));
      } else {
        std::ifstream in(path, std::ios::binary);
        text.resize(kMaxPlaylistBytes);
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));
        std::string dir = path.substr(0, path.rfind('/') + 1);
        for (const std::string& entry : playlistEntries(kind, text)) {
          bool absolute = entry[0] == '/' || entry.find("://") != std::string::npos;
          entries.push_back(absolute ? entry : dir + entry);
        }
      }
      http.reset();
      return followPlaylist(cx, entries, depth);
    }
    case BodyKind::Audio: {
      if (cx.creator == Creator::Hls) return failWith<HSTREAM>(ERROR_FILEFORM, 0);
      if (!network) break;  // local files are probed; the format found settles it
      // The bytes say what they are when they can; what the server announces
      // is only a hint (stations label AAC as MP3 and the other way round).
      const std::string sniffed = sniffAudioFormat(head);
      demuxer = sniffed.empty() ? demuxerForContentType(contentType) : sniffed;
      // Only the bytes refuse a creator before decoding; otherwise the format
      // found settles it.
      const bool aac = sniffed == "aac" || sniffed == "mp4";
      if (cx.creator == Creator::Plain && aac) return failWith<HSTREAM>(ERROR_FILEFORM, 0);
      if (cx.creator == Creator::Aac && !sniffed.empty() && !aac) return failWith<HSTREAM>(ERROR_FILEFORM, 0);
      break;
    }
  }

  if (http && cx.proc) {
    DOWNLOADPROC* proc = cx.proc;
    void* user = cx.user;
    // The download callback gets the body from its first byte: what arrived
    // while the body was being recognised is still all in the buffer.
    std::vector<uint8_t> early(http->buffer().size());
    http->buffer().peek(early.data(), early.size());
    if (!early.empty()) proc(early.data(), static_cast<uint32_t>(early.size()), user);
    if (!http->connected()) proc(nullptr, 0, user);
    http->onData = [proc, user](const uint8_t* data, size_t n) { proc(data, static_cast<uint32_t>(n), user); };
  }

  uint32_t handle;
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    handle = e.nextHandle++;
    if (e.nextHandle == 0) e.nextHandle = 0x10000;
  }
  auto channel = std::make_shared<StreamChannel>(handle, setup);
  const OpenStatus status = channel->open(std::move(http), path, demuxer, cx.deadline, cx.cancel);
  if (status != OpenStatus::Ok) return failedChannel(status, network);
  if (!creatorAccepts(cx.creator, channel->ctype())) return failWith<HSTREAM>(ERROR_FILEFORM, 0);

  {
    std::lock_guard<std::mutex> lock(e.mutex);
    if (!e.initialized) return failWith<HSTREAM>(ERROR_INIT, 0);  // freed meanwhile
    e.streams[handle] = channel;
    channel->output()->setVolume(static_cast<float>(e.volume.load()) / 10000.0f);
  }
  if (!channel->isDecodeChannel()) audioAddSource(channel->output());
  channel->start(autoFree, wakeMainThread);
  if (!channel->isDecodeChannel()) channel->waitPrebuffer(e.prebuf.load(), timeoutMs);
  succeed();
  return handle;
}

CreateContext contextFor(Creator creator, uint32_t flags, DOWNLOADPROC* proc, void* user) {
  return {creator, flags, proc, user, steadyMs() + engine().netTimeout.load(), nullptr};
}

// Joins openings that were cancelled and have ended since.
void reapOpenings(bool wait) {
  EngineState& e = engine();
  std::vector<std::shared_ptr<Opening>> ended;
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    for (auto it = e.abandoned.begin(); it != e.abandoned.end();) {
      if (wait || (*it)->done.load()) {
        ended.push_back(std::move(*it));
        it = e.abandoned.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& o : ended) {
    if (o->thread.joinable()) o->thread.join();
    if (o->handle) StreamFree(o->handle);  // made just before the cancel was seen
  }
}

}  // namespace

// ---- set-up ----

bool Init(int device, uint32_t /*freq*/, uint32_t /*flags*/, void* /*win*/, const void* /*clsid*/) {
  EngineState& e = engine();
  std::lock_guard<std::mutex> lock(e.mutex);
  if (e.initialized) return fail(ERROR_ALREADY);
  if (device < -1) return fail(ERROR_DEVICE);
  if (device == 0) {
    e.hasOutput = false;
  } else {
    std::string name;
    if (device > 0) {
      std::vector<std::string> names = audioOutputNames();
      if (static_cast<size_t>(device) > names.size()) return fail(ERROR_DEVICE);
      name = names[static_cast<size_t>(device) - 1];
    }
    if (!audioOpen(name)) return fail(ERROR_DRIVER);
    e.hasOutput = true;
  }
  // A server that closes while a request is being written must not kill the
  // program: writes report the error instead.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
  quietCodecLog();
  e.initialized = true;
  succeed();
  return true;
}

bool Free() {
  EngineState& e = engine();
  std::map<uint32_t, std::shared_ptr<StreamChannel>> streams;
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    if (!e.initialized) return fail(ERROR_INIT);
    // Openings under way give up; none of them registers a stream any more.
    for (auto& [id, opening] : e.openings) {
      opening->cancel = true;
      e.abandoned.push_back(opening);
    }
    e.openings.clear();
    streams.swap(e.streams);
    e.initialized = false;
  }
  for (auto& [handle, ch] : streams) release(ch);
  reapOpenings(true);
  reapZombies();
  succeed();
  return true;
}

int ErrorGetCode() { return lastError; }

ErrorDetail ErrorGetDetail() { return lastDetail; }

bool SetConfig(uint32_t option, uint32_t value) {
  EngineState& e = engine();
  int v = static_cast<int>(std::min<uint32_t>(value, INT_MAX));
  switch (option) {
    case CONFIG_GVOL_STREAM: {
      if (value > 10000) return fail(ERROR_ILLPARAM);
      // Held under the table's lock so that a stream registered meanwhile
      // cannot keep the old volume.
      std::lock_guard<std::mutex> lock(e.mutex);
      e.volume = v;
      for (auto& [handle, ch] : e.streams) ch->output()->setVolume(static_cast<float>(v) / 10000.0f);
      break;
    }
    case CONFIG_NET_TIMEOUT: e.netTimeout = std::max(v, 1); break;
    case CONFIG_NET_BUFFER: e.netBuffer = std::max(v, 1); break;
    case CONFIG_NET_PREBUF:
      if (value > 100) return fail(ERROR_ILLPARAM);
      e.prebuf = v;
      break;
    case CONFIG_NET_PLAYLIST:
      if (value > 2) return fail(ERROR_ILLPARAM);
      e.playlist = v;
      break;
    case CONFIG_NET_READTIMEOUT: e.readTimeout = v; break;
    case CONFIG_NET_RECONNECT: e.reconnect = v; break;
    default: return fail(ERROR_ILLTYPE);
  }
  succeed();
  return true;
}

uint32_t GetConfig(uint32_t option) {
  EngineState& e = engine();
  succeed();
  switch (option) {
    case CONFIG_GVOL_STREAM: return static_cast<uint32_t>(e.volume.load());
    case CONFIG_NET_TIMEOUT: return static_cast<uint32_t>(e.netTimeout.load());
    case CONFIG_NET_BUFFER: return static_cast<uint32_t>(e.netBuffer.load());
    case CONFIG_NET_PREBUF: return static_cast<uint32_t>(e.prebuf.load());
    case CONFIG_NET_PLAYLIST: return static_cast<uint32_t>(e.playlist.load());
    case CONFIG_NET_READTIMEOUT: return static_cast<uint32_t>(e.readTimeout.load());
    case CONFIG_NET_RECONNECT: return static_cast<uint32_t>(e.reconnect.load());
    default: return failWith(ERROR_ILLTYPE, kNoValue);
  }
}

bool SetConfigPtr(uint32_t option, const void* value) {
  EngineState& e = engine();
  std::string text = value ? static_cast<const char*>(value) : "";
  std::lock_guard<std::mutex> lock(e.mutex);
  switch (option) {
    case CONFIG_NET_AGENT: e.agent = text; break;
    case CONFIG_NET_PROXY: e.proxy = text; break;
    default: return fail(ERROR_ILLTYPE);
  }
  succeed();
  return true;
}

const void* GetConfigPtr(uint32_t option) {
  EngineState& e = engine();
  std::lock_guard<std::mutex> lock(e.mutex);
  succeed();
  switch (option) {
    case CONFIG_NET_AGENT: return e.agent.empty() ? nullptr : e.agent.c_str();
    case CONFIG_NET_PROXY: return e.proxy.empty() ? nullptr : e.proxy.c_str();
    default: return failWith<const void*>(ERROR_ILLTYPE, nullptr);
  }
}

// ---- creators ----

HSTREAM StreamCreateURL(const char* url, uint32_t /*offset*/, uint32_t flags, DOWNLOADPROC* proc, void* user) {
  return create(contextFor(Creator::Plain, flags, proc, user), url, 0);
}

HSTREAM AAC_StreamCreateURL(const char* url, uint32_t /*offset*/, uint32_t flags, DOWNLOADPROC* proc,
                            void* user) {
  return create(contextFor(Creator::Aac, flags, proc, user), url, 0);
}

HSTREAM HLS_StreamCreateURL(const char* url, uint32_t flags, DOWNLOADPROC* proc, void* user) {
  return create(contextFor(Creator::Hls, flags, proc, user), url, 0);
}

HOPEN StreamOpenURL(const char* url, uint32_t flags, DOWNLOADPROC* proc, void* user, bool play, int startMs) {
  EngineState& e = engine();
  reapOpenings(false);
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    if (!e.initialized) return failWith<HOPEN>(ERROR_INIT, 0);
  }
  if (!url) return failWith<HOPEN>(ERROR_ILLPARAM, 0);
  auto opening = std::make_shared<Opening>();
  CreateContext cx = contextFor(Creator::Any, flags, proc, user);
  cx.cancel = &opening->cancel;
  HOPEN id;
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    id = e.nextOpening++;
    if (e.nextOpening == 0) e.nextOpening = 1;
    e.openings[id] = opening;
  }
  try {
    // The opening owns a reference of its own: a cancelled one ends by itself.
    opening->thread = std::thread([opening, cx, address = std::string(url), play, startMs] {
      HSTREAM h = create(cx, address.c_str(), 0);
      opening->error = h ? ERROR_OK : lastError;
      opening->detail = h ? ErrorDetail{} : lastDetail;
      if (h && play) {
        if (auto ch = lookup(h)) {
          if (!ch->isDecodeChannel()) ch->playWhenBuffered(startMs);
        }
      }
      opening->handle = h;
      opening->done = true;
      wakeMainThread();
      audioThreadEnds();  // freeing a stream may have switched the device
    });
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(e.mutex);
    e.openings.erase(id);
    return failWith<HOPEN>(ERROR_MEM, 0);
  }
  succeed();
  return id;
}

bool StreamOpenResult(HOPEN open, HSTREAM* handle, int* error, ErrorDetail* detail) {
  EngineState& e = engine();
  std::shared_ptr<Opening> opening;
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    auto it = e.openings.find(open);
    if (it == e.openings.end()) {
      // Not an opening (or one already reported): ended, with nothing.
      if (handle) *handle = 0;
      if (error) *error = ERROR_HANDLE;
      if (detail) *detail = {};
      fail(ERROR_HANDLE);
      return true;
    }
    if (!it->second->done.load()) return false;
    opening = it->second;
    e.openings.erase(it);
  }
  opening->thread.join();
  if (handle) *handle = opening->handle;
  if (error) *error = opening->error;
  if (detail) *detail = opening->detail;
  succeed();
  return true;
}

void StreamOpenCancel(HOPEN open) {
  EngineState& e = engine();
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    auto it = e.openings.find(open);
    if (it == e.openings.end()) return;
    it->second->cancel = true;
    e.abandoned.push_back(std::move(it->second));
    e.openings.erase(it);
  }
  reapOpenings(false);
}

bool StreamFree(HSTREAM handle) {
  EngineState& e = engine();
  std::shared_ptr<StreamChannel> ch;
  {
    std::lock_guard<std::mutex> lock(e.mutex);
    auto it = e.streams.find(handle);
    if (it == e.streams.end()) return fail(ERROR_HANDLE);
    ch = std::move(it->second);
    e.streams.erase(it);
  }
  release(ch);
  reapZombies();
  succeed();
  return true;
}

uint64_t StreamGetFilePosition(HSTREAM handle, uint32_t mode) {
  auto ch = lookup(handle);
  if (!ch) return ~uint64_t{0};
  bool ok = false;
  uint64_t v = ch->filePosition(mode, ok);
  lastError = ok ? ERROR_OK : ERROR_NOTAVAIL;
  return v;
}

// ---- channels ----

const char* ChannelGetTags(uint32_t handle, uint32_t tags) {
  auto ch = lookup(handle);
  if (!ch) return nullptr;
  if (tags == TAG_HTTP || tags == TAG_ICY) {
    const std::string* t = ch->headerTags(tags == TAG_ICY);
    if (!t) return failWith<const char*>(ERROR_NOTAVAIL, nullptr);
    succeed();
    return t->data();
  }
  if (tags == TAG_META) {
    // A copy per calling thread: the stream's thread may replace the text at
    // any moment, and the caller reads it after this returns.
    thread_local std::string copy;
    if (!ch->metaText(copy)) return failWith<const char*>(ERROR_NOTAVAIL, nullptr);
    succeed();
    return copy.c_str();
  }
  return failWith<const char*>(ERROR_NOTAVAIL, nullptr);
}

HSYNC ChannelSetSync(uint32_t handle, uint32_t type, uint64_t param, SYNCPROC* proc, void* user) {
  auto ch = lookup(handle);
  if (!ch) return 0;
  uint32_t base = type & 0x00FFFFFF;
  if (base != SYNC_END && base != SYNC_META && base != SYNC_STALL && base != SYNC_DOWNLOAD && base != SYNC_FREE &&
      base != SYNC_RECONNECT) {
    return failWith<HSYNC>(ERROR_ILLTYPE, 0);
  }
  if (!proc) return failWith<HSYNC>(ERROR_ILLPARAM, 0);
  succeed();
  return ch->addSync(type, param, proc, user);
}

bool ChannelRemoveSync(uint32_t handle, HSYNC sync) {
  auto ch = lookup(handle);
  if (!ch) return false;
  if (!ch->removeSync(sync)) return fail(ERROR_HANDLE);
  succeed();
  return true;
}

bool ChannelPlay(uint32_t handle, bool restart) {
  reapZombies();
  auto ch = lookup(handle);
  if (!ch) return false;
  if (ch->isDecodeChannel()) return fail(ERROR_DECODE);
  ch->play(restart);
  succeed();
  return true;
}

bool ChannelPause(uint32_t handle) {
  auto ch = lookup(handle);
  if (!ch) return false;
  if (ch->isDecodeChannel()) return fail(ERROR_DECODE);
  uint32_t now = ch->activity();
  if (now != ACTIVE_PLAYING && now != ACTIVE_STALLED) return fail(ERROR_NOPLAY);
  ch->pause();
  succeed();
  return true;
}

bool ChannelStop(uint32_t handle) {
  auto ch = lookup(handle);
  if (!ch) return false;
  ch->halt();
  succeed();
  return true;
}

uint32_t ChannelIsActive(uint32_t handle) {
  reapZombies();
  auto ch = lookup(handle);
  if (!ch) return ACTIVE_STOPPED;
  succeed();
  return ch->activity();
}

bool ChannelGetInfo(uint32_t handle, ChannelInfo* info) {
  auto ch = lookup(handle);
  if (!ch) return false;
  if (!info) return fail(ERROR_ILLPARAM);
  info->freq = static_cast<uint32_t>(ch->outRate());
  info->chans = 2;
  info->flags = ch->flags();
  info->ctype = ch->ctype();
  succeed();
  return true;
}

uint32_t ChannelGetData(uint32_t handle, void* buffer, uint32_t length) {
  auto ch = lookup(handle);
  if (!ch) return kNoValue;
  if (!ch->isDecodeChannel()) return failWith(ERROR_NOTAVAIL, kNoValue);
  if (!buffer) return failWith(ERROR_ILLPARAM, kNoValue);
  uint32_t bytes = length & 0x0FFFFFFF;  // the high bits carry flags
  long frames = ch->readFrames(static_cast<float*>(buffer), bytes / (2 * sizeof(float)));
  if (frames < 0) return failWith(ERROR_ENDED, kNoValue);
  succeed();
  return static_cast<uint32_t>(frames) * 2 * sizeof(float);
}

void setStreamWakeHook(std::function<void()> hook) {
  EngineState& e = engine();
  std::lock_guard<std::mutex> lock(e.hookMutex);
  e.wakeHook = std::move(hook);
}

}  // namespace platform
