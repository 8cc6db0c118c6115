// Server type 3: the built-in Koral engine behind the speech server contract
// (speech_servers.h).
//
// Start loads the language files and starts the synthesiser process (both on
// the main thread, once); a worker thread then synthesises each text handed
// over and queues its samples on a source of the program's audio mixer as the
// synthesiser makes them. A cut drops the queued sound at once and tells the
// worker, which has the synthesiser discard what it still makes for the cut
// text; the process itself stays.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/audio_device.h"
#include "platform/speech_log.h"
#include "speech/speech_internal.h"
#include "speech/speech_servers.h"
#include "tts/koral_engine.h"

namespace ondaria::speech_detail {

namespace {

// Sound made ahead of what plays is kept under this many seconds: a long text
// is synthesised as it is heard, never all at once into memory.
constexpr double kAheadSeconds = 3.0;
// A sample at or below this (about -60 dBFS, the mixer's audible level)
// counts as silence.
constexpr int kSilentSample = 32;
// Step of the worker's wait for room in the queue.
constexpr auto kRoomStep = std::chrono::milliseconds(50);
// Step of stop()'s wait for the end of speech.
constexpr auto kStopStep = std::chrono::milliseconds(50);

class KoralServer : public SpeechServer {
 public:
  ~KoralServer() override { shutdown(); }

  bool start(int voice, int rate, int pitch) override {
    shutdown();
    error_.clear();
    koral::KoralFiles files = koralFilesFromSettings();
    if (!engine_.init(files)) {
      // A damaged or missing language file is the user's to know; a voice or
      // synthesiser that is not installed only means another engine speaks.
      const std::string& why = engine_.errorText();
      for (const std::string& m : {koral::koralLanguageError(), koral::koralAbbreviationError(),
                                   koral::koralProsodyError()})
        if (why.size() >= m.size() && why.compare(why.size() - m.size(), m.size(), m) == 0) error_ = why;
      return false;
    }
    if (!platform::audioOpen()) {
      engine_.close();
      return false;
    }
    engine_.setSpeechFactors(rate, pitch);
    format_ = {engine_.sampleRate(), 1, platform::PcmEncoding::S16};
    source_ = std::make_shared<platform::PcmQueueSource>();
    platform::audioAddSource(source_);
    quit_ = false;
    watchingEnd_ = false;
    worker_ = std::thread([this] {
      run();
      platform::audioThreadEnds();
    });
    started_ = true;
    return true;
  }

  void speak(std::string_view text) override {
    if (!started_) return;
    std::string t(text);
    platform::logSpeech(platform::SpeechEvent::Text, t);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      jobs_.push_back(Job{std::move(t), generation_});
    }
    wakeWorker_.notify_one();
  }

  bool busy(bool) override {
    if (!started_) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return !jobs_.empty() || (synthesising_ && current_ == generation_) || source_->busy();
  }

  void cut() override {
    if (!started_) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++generation_;  // the sink refuses the rest of older texts
      jobs_.clear();
      source_->flush();
    }
    wakeWorker_.notify_all();
  }

  void stop() override {
    if (!started_) return;
    while (busy(false)) std::this_thread::sleep_for(kStopStep);
    shutdown();
  }

  const char* engineName() const override { return "koral"; }
  std::string startError() const override { return error_; }

 private:
  struct Job {
    std::string text;
    uint64_t generation;
  };

  void shutdown() {
    if (worker_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        ++generation_;
        jobs_.clear();
      }
      wakeWorker_.notify_all();
      worker_.join();
    }
    if (source_) {
      source_->flush();
      platform::audioRemoveSource(source_.get());
      source_.reset();
    }
    engine_.close();
    started_ = false;
  }

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
      current_ = job.generation;
      lock.unlock();
      engine_.synthesise(
          job.text, [&](const int16_t* samples, size_t count) { return queueSamples(samples, count); },
          [&] { waitForRoom(); },
          [&] {
            std::lock_guard<std::mutex> guard(mutex_);
            return quit_ || current_ != generation_;
          });
      lock.lock();
      synthesising_ = false;
      watchingEnd_ = true;
    }
  }

  // Worker thread, inside synthesise. Queued under the lock, so a cut is
  // never followed by a piece of the text it cut.
  bool queueSamples(const int16_t* samples, size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_ || current_ != generation_) return false;
    // Every text opens with the silence of its sentence boundary and of the
    // first diphone: the voice is heard sooner without it.
    while (trimLeading_ && count > 0 && std::abs(*samples) <= kSilentSample) {
      ++samples;
      --count;
    }
    if (count == 0) return true;
    trimLeading_ = false;
    source_->queue(samples, count * sizeof(int16_t), format_);
    return true;
  }

  void waitForRoom() {
    std::unique_lock<std::mutex> lock(mutex_);
    auto limit = static_cast<size_t>(kAheadSeconds * platform::kMixRate);
    while (!quit_ && current_ == generation_ && source_->pendingFrames() > limit)
      wakeWorker_.wait_for(lock, kRoomStep);
  }

  // Nothing left to make: sleeps until the mixer should have taken the last
  // sample, then checks in short steps; once the sound is over (played or
  // cut) wakes the program's waiting loop so that it sees busy() turn false.
  void watchForEndOfSound(std::unique_lock<std::mutex>& lock) {
    if (waitWhileSoundPlays(source_.get(), lock, wakeWorker_, [&] { return quit_ || !jobs_.empty(); }))
      return;
    watchingEnd_ = false;
    lock.unlock();
    speechServerEnded();
    lock.lock();
  }

  koral::KoralEngine engine_;  // used by the worker while it runs
  platform::PcmFormat format_;
  std::shared_ptr<platform::PcmQueueSource> source_;
  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable wakeWorker_;
  std::deque<Job> jobs_;
  uint64_t generation_ = 0;
  uint64_t current_ = 0;
  bool synthesising_ = false;
  bool trimLeading_ = false;  // the current text has not yet made a sound
  bool watchingEnd_ = false;
  bool quit_ = false;
  bool started_ = false;
  std::string error_;
};

}  // namespace

std::unique_ptr<SpeechServer> makeKoralServer() { return std::make_unique<KoralServer>(); }

}  // namespace ondaria::speech_detail
