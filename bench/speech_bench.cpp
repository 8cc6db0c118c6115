// Latency of the speech front-end as the user meets it, through the program's
// own console (headless front-end) and the audio mixer:
//   (a) key press -> first non-silent sample handed to the device, for the
//       letter spoken by readKeySpoken;
//   (b) speakText of a 10-word sentence -> first sample, with the espeak-ng
//       server and with diphone speech;
//   (c) key press during speech -> device silent, both engines;
//   (d) real-time factor of diphone speech and of espeak-ng on 200 words.
// Median and 95th percentile over 50 runs. Uses the voice data generated beside
// the program (<build dir>/voz). Without SDL_AUDIODRIVER the dummy driver is
// used (it keeps real time like a sound card); set it to measure a real one.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "console/core/console.h"
#include "console/core/settings.h"
#include "platform/audio_device.h"
#include "platform/frontend.h"
#include "speech/diphone_database.h"
#include "speech/diphone_rules.h"
#include "speech/diphone_speech.h"
#include "speech/speech.h"
#include "speech/speech_servers.h"
#include "bench_text.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

long long ns(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}
long long nowNs() { return ns(Clock::now()); }

// What the audio thread saw after `watchFrom`.
std::atomic<long long> watchFrom{0};
std::atomic<long long> firstAudible{0};
std::atomic<long long> firstSilent{0};
std::atomic<long long> lastAudible{0};

void observe(const platform::AudioBlockReport& r) {
  long long when = ns(r.when);
  if (when < watchFrom.load()) return;
  if (r.firstAudible >= 0) {
    lastAudible.store(when);
    long long first = when + static_cast<long long>(r.firstAudible) * 1000000000LL / platform::kMixRate;
    long long none = 0;
    firstAudible.compare_exchange_strong(none, first);
  } else if (firstAudible.load() != 0) {
    long long none = 0;
    firstSilent.compare_exchange_strong(none, when);
  }
}

void watch(long long from) {
  firstAudible = 0;
  firstSilent = 0;
  watchFrom = from;
}

// A headless console whose keys can be pressed from another thread: the
// press is requested (atomic) and the console woken; the key events are made
// on the main thread when the console next asks for events.
class KeyedFrontend : public platform::HeadlessFrontend {
 public:
  std::atomic<bool> pressRequested{false};
  bool nextEvent(platform::FrontendEvent& event, int timeoutMs) override {
    if (pressRequested.exchange(false)) pressKey(platform::KeyId::A);
    return HeadlessFrontend::nextEvent(event, timeoutMs);
  }
  // Keys keep coming from the other thread: the console must wait for them.
  bool inputExhausted() override { return false; }
};
KeyedFrontend* keys = nullptr;

void pressFromAnotherThread() {
  keys->pressRequested = true;
  ondaria::wakeConsole();
}

bool waitFor(const std::atomic<long long>& value, std::chrono::milliseconds limit) {
  auto end = Clock::now() + limit;
  while (value.load() == 0) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(100us);
  }
  return true;
}

struct Stats {
  double median = 0, p95 = 0, max = 0;
  size_t n = 0;
};
Stats stats(std::vector<double> v) {
  Stats s;
  s.n = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[static_cast<size_t>(q * (v.size() - 1) + 0.5)]; };
  s.median = at(0.5);
  s.p95 = at(0.95);
  s.max = v.back();
  return s;
}
void print(const char* what, const std::vector<double>& v) {
  Stats s = stats(v);
  std::printf("%-58s median %6.2f ms  p95 %6.2f ms  max %6.2f ms  (%zu runs)\n", what, s.median,
              s.p95, s.max, s.n);
}

std::string configDir;

void startWith(const std::string& settings) {
  ondaria::endSpeech();
  std::ofstream(configDir + "/lumare/Lumare.ini", std::ios::binary | std::ios::trunc) << settings;
  ondaria::resetSettingsState();
  ondaria::startSpeech(3, "");
}

const char* kSentence =
    "Bom dia, esta \xE9 a r\xE1" "dio Ondaria falando em portugu\xEAs do Brasil";

// (b) and (c) with the engine now started.
void sentenceAndCut(const char* engine, int runs) {
  std::vector<double> first, cut;
  for (int i = 0; i < runs; ++i) {
    long long t0 = nowNs();
    watch(t0);
    std::atomic<long long> pressedAt{0};
    std::thread presser([&] {
      if (!waitFor(firstAudible, 5000ms)) return;
      std::this_thread::sleep_for(150ms);  // well inside the sentence
      pressedAt = nowNs();
      watchFrom = pressedAt.load();
      firstSilent = 0;
      pressFromAnotherThread();
    });
    ondaria::speakText(kSentence);  // diphone speech returns when cut; a server at once
    ondaria::waitWhileSpeaking();
    presser.join();
    if (firstAudible.load() != 0) first.push_back((firstAudible.load() - t0) / 1e6);
    if (pressedAt.load() != 0 && waitFor(firstSilent, 2000ms))
      cut.push_back((firstSilent.load() - pressedAt.load()) / 1e6);
    ondaria::flushKeys();
    std::this_thread::sleep_for(30ms);
  }
  std::string a = std::string("(b) speakText of 10 words -> first sound, ") + engine;
  std::string c = std::string("(c) key during speech -> device silent, ") + engine;
  print(a.c_str(), first);
  print(c.c_str(), cut);
}

}  // namespace

int main() {
  if (std::getenv("SDL_AUDIODRIVER") == nullptr) setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::string voz = ondaria::programDirectory() + "/voz";
  if (!std::filesystem::exists(voz + "/difones/DIFONES2.IND")) {
    std::fprintf(stderr, "no voice data in %s (build with ONDARIA_VOICE_DATA=ON)\n", voz.c_str());
    return 1;
  }
  char tmpl[] = "/tmp/ondaria-speech-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  configDir = tmpl;
  std::filesystem::create_directories(configDir + "/lumare");
  setenv("XDG_CONFIG_HOME", configDir.c_str(), 1);
  setenv("LUMARE_SYSTEM_DIR", (configDir + "/system").c_str(), 1);

  auto frontend = std::make_unique<KeyedFrontend>();
  keys = frontend.get();
  ondaria::setConsoleFrontend(std::move(frontend));
  ondaria::ensureConsole();
  platform::setAudioObserver(observe);

  const int runs = 50;
  startWith("[TRADUTOR]\r\nSAPI=N\r\n");
  std::printf("audio driver %s, mixer %d Hz, device buffer %d frames (%.1f ms)\n",
              std::getenv("SDL_AUDIODRIVER"), platform::kMixRate, platform::audioBufferFrames(),
              1000.0 * platform::audioBufferFrames() / platform::kMixRate);

  // (a) The letter of a key press.
  std::vector<double> letter;
  for (int i = 0; i < runs; ++i) {
    std::atomic<long long> pressedAt{0};
    std::thread presser([&] {
      std::this_thread::sleep_for(20ms);
      pressedAt = nowNs();
      watch(pressedAt.load());
      pressFromAnotherThread();
    });
    ondaria::readKeySpoken();
    presser.join();
    if (firstAudible.load() != 0) letter.push_back((firstAudible.load() - pressedAt.load()) / 1e6);
  }
  print("(a) key press -> first sound of its letter", letter);

  sentenceAndCut("diphones", runs);
  startWith("[TRADUTOR]\r\nSAPI=S\r\n[SERVFALA]\r\nTIPOSAPI=5\r\n");
  if (ondaria::speechServerActive()) sentenceAndCut("espeak-ng", runs);
  else std::printf("(b)/(c) espeak-ng: the server could not start\n");
  ondaria::endSpeech();
  platform::setAudioObserver(nullptr);

  // (d) Real-time factor: time to make the sound over the sound's length.
  std::string text = twoHundredWords();
  {
    ondaria::DiphoneDatabase db;
    std::string dir = voz + "/difones/";
    if (!db.open(dir, "DIFONES2") || !ondaria::loadDiphoneRules(dir + "regras.rgr") ||
        !ondaria::loadDiphoneExceptions(dir + "portug.exc"))
      return 1;
    struct Source : ondaria::DiphoneSource {
      ondaria::DiphoneDatabase& db;
      explicit Source(ondaria::DiphoneDatabase& d) : db(d) {}
      std::optional<ondaria::DiphoneUnit> findUnit(std::string_view n) override { return db.findUnit(n); }
      size_t readSamples(uint32_t o, size_t c, uint8_t* out) override { return db.readSamples(o, c, out); }
      bool readItem(std::string_view, size_t, std::vector<uint8_t>&) override { return false; }
    } source(db);
    size_t samples = 0;
    ondaria::DiphoneJoiner joiner(source, [&](uint8_t*, size_t size) { samples += size - 44; });
    auto t0 = Clock::now();
    joiner.speak(ondaria::translateToPhonetic(text), false);
    double made = std::chrono::duration<double>(Clock::now() - t0).count();
    double sound = samples / 11025.0;
    std::printf("(d) diphone speech, 200 words: %.1f s of sound made in %.4f s, real-time factor %.5f\n",
                sound, made, made / sound);
    ondaria::freeDiphoneRules();
  }
  {
    auto server = ondaria::makeSpeechServer(ondaria::kServerClassic);
    if (server->start(1, 0, 0)) {
      auto t0 = Clock::now();
      server->speak(text);
      while (server->busy(true)) std::this_thread::sleep_for(100us);
      double made = std::chrono::duration<double>(Clock::now() - t0).count();
      double sound = made + ondaria::espeakPendingSeconds();
      server->cut();
      server->stop();
      std::printf("(d) espeak-ng, 200 words: %.1f s of sound made in %.3f s, real-time factor %.5f\n",
                  sound, made, made / sound);
    }
  }
  std::filesystem::remove_all(configDir);
  return 0;
}
