// Speech servers over espeak-ng (through the program's audio mixer) and
// speech-dispatcher.
#include "speech/speech_servers.h"

#include <espeak-ng/speak_lib.h>
#include <libspeechd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "console/core/console.h"
#include "platform/audio_device.h"
#include "platform/codepage.h"
#include "platform/speech_log.h"
#include "console/core/settings.h"
#include "speech/speech_internal.h"

namespace ondaria {

namespace {

using Clock = std::chrono::steady_clock;

std::mutex& hookMutex() {
  static std::mutex m;
  return m;
}
std::function<void()>& wakeHook() {
  static std::function<void()> hook;
  return hook;
}

// Steps of a worker's watch for the end of the sound: never shorter than
// 1 ms (so the watch costs nothing while the last samples play) and never
// longer than 100 ms (the mixer may take the sound slower than real time
// when the device stalls, so the estimate is checked again).
constexpr auto kEndCheckMin = std::chrono::microseconds(1000);
constexpr auto kEndCheckMax = std::chrono::microseconds(100000);

}  // namespace

bool speech_detail::waitWhileSoundPlays(platform::PcmQueueSource* source,
                                        std::unique_lock<std::mutex>& lock,
                                        std::condition_variable& wake,
                                        const std::function<bool()>& interrupted) {
  if (source == nullptr || !source->busy()) return false;
  auto left = std::chrono::microseconds(static_cast<long long>(source->pendingFrames()) * 1000000 /
                                        platform::kMixRate);
  wake.wait_for(lock, std::clamp(left, kEndCheckMin, kEndCheckMax), interrupted);
  return true;
}

void speech_detail::speechServerEnded() {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(hookMutex());
    hook = wakeHook();
  }
  if (hook) {
    hook();
  } else {
    wakeConsole();
  }
}

namespace {

void wake() { speech_detail::speechServerEnded(); }

// Step of stop()'s wait for the end of speech (the classic driver's 300 ms).
constexpr auto kStopWaitStep = std::chrono::milliseconds(300);

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// ---------------------------------------------------------------------------
// espeak-ng engine: one per process (it cannot be initialised twice), with a
// synthesis thread that feeds a source of the audio mixer.

// espeak-ng's output format.
constexpr int kEspeakRate = 22050;
// Length of the sound handed to the callback at a time, in ms. Short buffers
// let a cut abort synthesis quickly and the first sound reach the mixer at
// once; at espeak-ng's real-time factor near 0.001, 20 ms of sound take about
// 20 µs to make.
constexpr int kEspeakBufferMs = 20;


// A 16-bit sample at or below this (about -60 dBFS, the mixer's audible
// level) counts as silence.
constexpr int kSilentSample = 32;

struct EspeakVoice {
  std::string name;  // espeak-ng voice name with variant, "pt-br+f2"
  int wpm = 0;       // 0: espeak-ng's default
  int pitch = -1;    // 0…100; -1: default
};

class EspeakEngine {
 public:
  static EspeakEngine& instance() {
    static EspeakEngine engine;
    return engine;
  }

  // Initialises espeak-ng (once per process) and starts the synthesis thread
  // and the mixer source. False when espeak-ng or the audio output is missing.
  bool open() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!initTried_) {
      initTried_ = true;
      int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, kEspeakBufferMs, nullptr, 0);
      initOk_ = rate == kEspeakRate;
      if (initOk_) espeak_SetSynthCallback(&EspeakEngine::synthCallback);
    }
    if (!initOk_) return false;
    if (!platform::audioOpen()) return false;
    if (!source_) {
      source_ = std::make_shared<platform::PcmQueueSource>();
      platform::audioAddSource(source_);
    }
    if (!worker_.joinable()) {
      quit_ = false;
      watchingEnd_ = false;
      worker_ = std::thread([this] {
        run();
        platform::audioThreadEnds();
      });
    }
    return true;
  }

  // Whether espeak-ng knows the voice (with its variant).
  bool hasVoice(const std::string& name) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!initOk_) return false;
    // Voice selection is only safe while no synthesis runs.
    idle_.wait(lock, [&] { return jobs_.empty() && !synthesising_; });
    bool ok = espeak_SetVoiceByName(name.c_str()) == EE_OK;
    loadedVoice_ = ok ? name : std::string();
    return ok;
  }

  void speak(std::string utf8, const EspeakVoice& voice) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      jobs_.push_back(Job{std::move(utf8), voice, generation_});
    }
    wakeWorker_.notify_one();
  }

  void cut() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++generation_;  // the callback aborts synthesis of older texts
      jobs_.clear();
      if (source_) source_->flush();
    }
    // The worker stops watching for the end of sound that is gone.
    wakeWorker_.notify_all();
  }

  // A synthesis that a cut has overtaken no longer counts: it makes no more
  // sound (the callback refuses it), so speech is over the moment cut returns,
  // however late the worker thread gets to run.
  bool synthesising() {
    std::lock_guard<std::mutex> lock(mutex_);
    return synthesisingLocked();
  }

  bool sounding() {
    std::lock_guard<std::mutex> lock(mutex_);
    return synthesisingLocked() || (source_ && source_->busy());
  }

  double pendingSeconds() {
    std::lock_guard<std::mutex> lock(mutex_);
    return source_ ? static_cast<double>(source_->pendingFrames()) / platform::kMixRate : 0.0;
  }

  // Stops the thread and detaches the source; espeak-ng itself stays
  // initialised for a later start.
  void close() {
    cut();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wakeWorker_.notify_all();
    if (worker_.joinable()) worker_.join();
    std::shared_ptr<platform::PcmQueueSource> source;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      source.swap(source_);
    }
    if (source) platform::audioRemoveSource(source.get());
  }

  ~EspeakEngine() {
    if (worker_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        ++generation_;
      }
      wakeWorker_.notify_all();
      worker_.join();
    }
  }

 private:
  bool synthesisingLocked() const {
    return !jobs_.empty() || (synthesising_ && current_.load() == generation_);
  }

  struct Job {
    std::string utf8;
    EspeakVoice voice;
    uint64_t generation;
  };

  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      wakeWorker_.wait(lock, [&] { return quit_ || !jobs_.empty() || watchingEnd_; });
      if (quit_) break;
      if (jobs_.empty()) {
        watchForEndOfSound(lock);
        continue;
      }
      Job job = std::move(jobs_.front());
      jobs_.pop_front();
      if (job.generation != generation_) continue;
      synthesising_ = true;
      trimLeading_ = true;
      current_.store(job.generation);
      // Loading a voice reads its dictionary (milliseconds): only on a change.
      bool loadVoice = job.voice.name != loadedVoice_;
      if (loadVoice) loadedVoice_.clear();
      lock.unlock();
      bool loaded = loadVoice && espeak_SetVoiceByName(job.voice.name.c_str()) == EE_OK;
      espeak_SetParameter(espeakRATE, job.voice.wpm > 0 ? job.voice.wpm : espeakRATE_NORMAL, 0);
      espeak_SetParameter(espeakPITCH, job.voice.pitch >= 0 ? job.voice.pitch : 50, 0);
      espeak_Synth(job.utf8.c_str(), job.utf8.size() + 1, 0, POS_CHARACTER, 0,
                   espeakCHARS_UTF8, nullptr, nullptr);
      lock.lock();
      if (loaded) loadedVoice_ = job.voice.name;
      synthesising_ = false;
      watchingEnd_ = true;
      idle_.notify_all();
    }
  }

  // Worker thread, no text left to make: sleeps until the mixer should have
  // taken the last sample, then checks again in short steps; once the sound
  // is over (played out or cut), wakes the program's waiting loop so that it
  // sees busy() turn false without polling the engine itself.
  void watchForEndOfSound(std::unique_lock<std::mutex>& lock) {
    if (speech_detail::waitWhileSoundPlays(source_.get(), lock, wakeWorker_,
                                           [&] { return quit_ || !jobs_.empty(); }))
      return;
    watchingEnd_ = false;
    lock.unlock();
    wake();
    lock.lock();
  }

  // espeak-ng's thread (our worker, inside espeak_Synth). Returning 1 aborts
  // synthesis: that is how a cut stops it (espeak_Cancel is unreliable in this
  // mode). The queueing happens under the lock, so a cut can never be followed
  // by a piece of the text it cut.
  static int synthCallback(short* wav, int samples, espeak_EVENT*) {
    EspeakEngine& e = instance();
    std::lock_guard<std::mutex> lock(e.mutex_);
    if (e.current_.load() != e.generation_ || e.quit_) return 1;
    if (wav != nullptr && samples > 0 && e.trimLeading_) {
      // espeak-ng opens every text with about 13 ms of near silence; the
      // sound starts sooner without it.
      int i = 0;
      while (i < samples && std::abs(wav[i]) <= kSilentSample) ++i;
      if (i == samples) return 0;
      wav += i;
      samples -= i;
      e.trimLeading_ = false;
    }
    if (wav != nullptr && samples > 0 && e.source_) {
      e.source_->queue(wav, static_cast<size_t>(samples) * sizeof(short),
                       {kEspeakRate, 1, platform::PcmEncoding::S16});
    }
    return 0;
  }

  std::mutex mutex_;
  std::condition_variable wakeWorker_;
  std::condition_variable idle_;
  std::deque<Job> jobs_;
  uint64_t generation_ = 0;
  std::atomic<uint64_t> current_{0};
  bool synthesising_ = false;
  bool trimLeading_ = false;  // the current text has not yet made a sound
  bool watchingEnd_ = false;  // sound made; the worker wakes the program at its end
  bool quit_ = false;
  bool initTried_ = false;
  bool initOk_ = false;
  std::string loadedVoice_;  // voice espeak-ng has loaded; empty when unsure
  std::thread worker_;
  std::shared_ptr<platform::PcmQueueSource> source_;
};

// Voice number (1-based) to espeak-ng voice name; nullopt-like empty when out
// of range.
std::string espeakVoiceByNumber(int voice) {
  const auto& names = espeakVoiceNames();
  if (voice < 1 || voice > static_cast<int>(names.size())) return {};
  return names[static_cast<size_t>(voice - 1)];
}

// Drivers over espeak-ng -----------------------------------------------------

// Other server types: the standard voice class. Voice numbers out of range
// take voice 1 at rate 0; the pitch setting is not used.
class EspeakStandardServer : public SpeechServer {
 public:
  bool start(int voice, int rate, int pitch) override {
    EspeakEngine& engine = EspeakEngine::instance();
    if (!engine.open()) return false;
    if (voice < 1 || voice > static_cast<int>(espeakVoiceNames().size())) {
      voice = 1;
      rate = 0;
    }
    voice_.name = espeakVoiceByNumber(voice);
    // A variant missing from this espeak-ng installation falls back to the
    // plain voice; without the Brazilian voice itself nothing can speak.
    if (voice != 1 && !engine.hasVoice(voice_.name)) voice_.name = espeakVoiceNames()[0];
    if (!engine.hasVoice(voice_.name)) {
      engine.close();
      return false;
    }
    voice_.wpm = espeakRateFromServerRate(rate);
    voice_.pitch = -1;
    started_ = true;
    return true;
  }

  void speak(std::string_view text) override {
    if (!started_) return;
    std::string t(text.empty() ? std::string_view(" ") : text);
    platform::logSpeech(platform::SpeechEvent::Text, t);
    EspeakEngine::instance().speak(platform::cp1252ToUtf8(t), voice_);
  }

  bool busy(bool) override { return started_ && EspeakEngine::instance().sounding(); }

  void cut() override {
    if (started_) EspeakEngine::instance().cut();
  }

  void stop() override {
    if (!started_) return;
    // Waits for the end of what was handed over, in the steps the classic
    // driver used.
    while (busy(false)) std::this_thread::sleep_for(kStopWaitStep);
    EspeakEngine::instance().close();
    started_ = false;
  }

  const char* engineName() const override { return "espeak-ng"; }

 protected:
  EspeakVoice voice_;
  bool started_ = false;
};

// Type 4: the classic engine interface, over the same espeak-ng engine.
class EspeakClassicServer : public SpeechServer {
 public:
  bool start(int voice, int speed, int pitch) override {
    EspeakEngine& engine = EspeakEngine::instance();
    // Voice 0 counts as 1 (a negative number as well: there is no voice
    // before the first). A number past the last voice fails, as the engine
    // enumeration found no such mode.
    if (voice < 1) voice = 1;
    if (voice > static_cast<int>(espeakVoiceNames().size())) return false;
    if (!engine.open()) return false;
    voice_.name = espeakVoiceByNumber(voice);
    if (!engine.hasVoice(voice_.name)) {
      engine.close();
      return false;
    }
    // Speed is in words per minute already and is passed unchanged (espeak-ng
    // keeps it inside its own limits); 0 leaves the default.
    voice_.wpm = speed > 0 ? speed : 0;
    voice_.pitch = pitch != 0 ? espeakPitchFromHz(pitch) : -1;
    started_ = true;
    return true;
  }

  void speak(std::string_view text) override {
    if (!started_) return;
    std::string_view trimmed = trimBlanks(text);
    if (trimmed.empty()) return;
    std::string t(trimmed);
    // A lone digit would be read as a letter name by some engines; the full
    // stop makes it a number.
    if (t.size() == 1 && t[0] >= '0' && t[0] <= '9') t += '.';
    platform::logSpeech(platform::SpeechEvent::Text, t);
    EspeakEngine::instance().speak(platform::cp1252ToUtf8(t), voice_);
  }

  bool busy(bool textOnly) override {
    if (!started_) return false;
    EspeakEngine& engine = EspeakEngine::instance();
    return textOnly ? engine.synthesising() : engine.sounding();
  }

  void cut() override {
    // The classic driver reset its audio only while audio played, with pauses
    // around the reset for its device; the mixer needs none, so the cut is
    // heard at once.
    if (started_) EspeakEngine::instance().cut();
  }

  void stop() override {
    if (!started_) return;
    EspeakEngine::instance().close();
    started_ = false;
  }

  const char* engineName() const override { return "espeak-ng"; }

 private:
  EspeakVoice voice_;
  bool started_ = false;
};

// ---------------------------------------------------------------------------
// speech-dispatcher (type 54). The daemon speaks on its own output; we follow
// its begin/end/cancel notices to know when it is busy.

// Longest wait of stop() for the daemon's last end notice.
constexpr auto kSpeechdStopWait = std::chrono::seconds(30);

class SpeechdServer;
std::mutex& speechdMutex() {
  static std::mutex m;
  return m;
}
SpeechdServer*& speechdCurrent() {
  static SpeechdServer* current = nullptr;
  return current;
}

// Whether the daemon's socket answers. Opening a connection with libspeechd
// when nothing listens costs a small leak inside the library each time; a
// plain connect tells the same without it. Only local sockets are probed;
// for a network address libspeechd's own open decides.
bool speechdReachable() {
  char* error = nullptr;
  SPDConnectionAddress* address = spd_get_default_address(&error);
  free(error);
  if (address == nullptr) return false;
  bool reachable = true;
  if (address->method == SPD_METHOD_UNIX_SOCKET) {
    reachable = false;
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    const char* path = address->unix_socket_name;
    if (path != nullptr && std::strlen(path) < sizeof sa.sun_path) {
      std::strcpy(sa.sun_path, path);
      int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd >= 0) {
        reachable = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        ::close(fd);
      }
    }
  }
  SPDConnectionAddress__free(address);
  return reachable;
}

class SpeechdServer : public SpeechServer {
 public:
  ~SpeechdServer() override { release(); }

  bool start(int voice, int rate, int pitch) override {
    release();
    if (!speechdReachable()) return false;
    char* error = nullptr;
    // No autospawn: a daemon that is not running means "no such server", and
    // the front-end falls back to diphone speech at once.
    SPDConnection* c =
        spd_open2("ondaria", "main", nullptr, SPD_MODE_THREADED, nullptr, 0, &error);
    free(error);
    if (c == nullptr) return false;
    conn_ = c;
    {
      std::lock_guard<std::mutex> lock(speechdMutex());
      speechdCurrent() = this;
    }
    c->callback_end = &SpeechdServer::notice;
    c->callback_cancel = &SpeechdServer::notice;
    if (spd_set_notification_on(c, SPD_END) != 0 || spd_set_notification_on(c, SPD_CANCEL) != 0) {
      release();
      return false;
    }
    spd_set_language(c, "pt-BR");

    // Voices of the Portuguese language are the numbered ones; when the
    // output module lists none, the daemon's own choice for pt-BR speaks.
    std::vector<std::string> names;
    if (SPDVoice** voices = spd_list_synthesis_voices(c)) {
      for (SPDVoice** v = voices; *v != nullptr; ++v) {
        if ((*v)->name != nullptr && (*v)->language != nullptr &&
            (std::string_view((*v)->language).substr(0, 2) == "pt"))
          names.emplace_back((*v)->name);
      }
      free_spd_voices(voices);
    }
    if (voice < 1 || voice > static_cast<int>(names.size())) {
      voice = 1;
      rate = 0;
    }
    if (!names.empty()) spd_set_synthesis_voice(c, names[static_cast<size_t>(voice - 1)].c_str());
    spd_set_voice_rate(c, speechdRateFromServerRate(rate));
    return true;
  }

  void speak(std::string_view text) override {
    if (conn_ == nullptr) return;
    std::string t(text.empty() ? std::string_view(" ") : text);
    platform::logSpeech(platform::SpeechEvent::Text, t);
    outstanding_.fetch_add(1);
    int id = spd_say(conn_, SPD_TEXT, platform::cp1252ToUtf8(t).c_str());
    if (id < 0) {
      outstanding_.fetch_sub(1);
      return;
    }
    lastId_.store(id);
  }

  bool busy(bool) override { return conn_ != nullptr && outstanding_.load() > 0; }

  void cut() override {
    if (conn_ == nullptr) return;
    // Notices of messages said before the cut no longer count: the daemon
    // sends them late, and busy must be false at once.
    barrier_.store(lastId_.load());
    outstanding_.store(0);
    spd_cancel(conn_);
  }

  void stop() override {
    if (conn_ == nullptr) return;
    // The end notices come from another process: when it dies or stops
    // answering they never arrive, and the program must still be able to end.
    auto deadline = Clock::now() + kSpeechdStopWait;
    while (busy(false) && Clock::now() < deadline)
      std::this_thread::sleep_for(kStopWaitStep);
    release();
  }

  const char* engineName() const override { return "speech-dispatcher"; }

 private:
  // speech-dispatcher's reader thread.
  static void notice(size_t msgId, size_t, SPDNotificationType) {
    std::lock_guard<std::mutex> lock(speechdMutex());
    SpeechdServer* s = speechdCurrent();
    if (s == nullptr) return;
    if (static_cast<long long>(msgId) <= s->barrier_.load()) return;
    // The last end notice wakes the program's waiting loop: busy() has
    // just turned false.
    // (A cut may zero the count meanwhile: never go below 0.)
    int n = s->outstanding_.load();
    while (n > 0 && !s->outstanding_.compare_exchange_weak(n, n - 1)) {
    }
    if (n == 1) wake();
  }

  void release() {
    if (conn_ == nullptr) return;
    {
      std::lock_guard<std::mutex> lock(speechdMutex());
      if (speechdCurrent() == this) speechdCurrent() = nullptr;
    }
    spd_close(conn_);  // joins its reader thread
    conn_ = nullptr;
    outstanding_.store(0);
  }

  SPDConnection* conn_ = nullptr;
  std::atomic<int> outstanding_{0};
  std::atomic<long long> lastId_{-1};
  std::atomic<long long> barrier_{-1};
};

}  // namespace

std::unique_ptr<SpeechServer> makeSpeechServer(int type) {
  switch (type) {
    case kServerBuiltIn:
      return speech_detail::makeKoralServer();
    case kServerClassic:
      return std::make_unique<EspeakClassicServer>();
    case kServerSecondClass:
      return std::make_unique<SpeechdServer>();
    default:
      return std::make_unique<EspeakStandardServer>();
  }
}

koral::KoralFiles koralFilesFromSettings() {
  koral::KoralSettings s;
  s.database = readSetting("KORALTTS", "MBROLA_DB");
  std::string dir = readSetting("KORALTTS", "DIR");
  if (!dir.empty()) s.directory = nativePath(dir);
  s.base = readSetting("KORALTTS", "BASE");
  return koral::koralFiles(s, programDirectory());
}

double espeakPendingSeconds() { return EspeakEngine::instance().pendingSeconds(); }

void setSpeechServerWakeHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(hookMutex());
  wakeHook() = std::move(hook);
}

const std::vector<std::string>& espeakVoiceNames() {
  // The plain Brazilian voice first, then variants of it: female and male
  // timbres that every espeak-ng installation ships.
  static const std::vector<std::string> names = {
      "pt-br", "pt-br+f2", "pt-br+m3", "pt-br+f4", "pt-br+m2", "pt-br+f1", "pt-br+m5",
  };
  return names;
}

int espeakRateFromServerRate(int rate) {
  rate = std::clamp(rate, -10, 10);
  double wpm = 175.0 * std::pow(3.0, rate / 10.0);
  return std::clamp(static_cast<int>(std::lround(wpm)), 80, 450);
}

int espeakPitchFromHz(int hz) {
  if (hz <= 0) return -1;
  return std::clamp((hz - 60) * 50 / 60, 0, 100);
}

int speechdRateFromServerRate(int rate) { return std::clamp(rate, -10, 10) * 10; }

}  // namespace ondaria
