// The built-in voice (server type 3, mbrola with br4):
//   memory   what the running engine adds: the program's peak resident size
//            before and after starting it and speaking 200 words, and the peak
//            of the mbrola process it keeps;
//   stress   the stressed vowel found for each word of bench/data/koral-stress.txt
//            (the stressed vowel written in upper case) against the list;
//   latency  speak -> first non-silent sample handed to the device, and
//            cut -> first silent device buffer, median and 95th percentile over
//            50 runs of a 10-word sentence, through the speech server;
//   speed    real-time factor of synthesising 200 words.
// Without SDL_AUDIODRIVER the dummy driver is used (it keeps real time like a
// sound card). Run from the build folder (bench data is found through
// ONDARIA_SOURCE_DIR or the current folder's ../../bench/data).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "console/core/settings.h"
#include "platform/audio_device.h"
#include "platform/codepage.h"
#include "speech/speech_servers.h"
#include "tts/koral_engine.h"
#include "tts/koral_text.h"
#include "latency_probe.h"
#include "bench_text.h"

namespace {

using namespace std::chrono_literals;
using namespace ondaria;

using namespace latency;

// Peak resident size (VmHWM) of a process in kB; 0 when unknown.
long peakKb(const std::string& pid = "self") {
  std::ifstream in("/proc/" + pid + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

std::string benchData(const std::string& name) {
  const char* src = std::getenv("ONDARIA_SOURCE_DIR");
  std::string base = src ? std::string(src) + "/bench/data/" : "../../bench/data/";
  return base + name;
}

void memory(const koral::KoralFiles& files) {
  long before = peakKb();
  koral::KoralEngine engine;
  if (!engine.init(files)) {
    std::printf("memory: the engine cannot start: %s\n",
                platform::cp1252ToUtf8(engine.errorText()).c_str());
    return;
  }
  engine.setSpeechFactors(0, 0);
  size_t samples = 0;
  engine.synthesise(twoHundredWords(), [&](const int16_t*, size_t n) {
    samples += n;
    return true;
  });
  long after = peakKb();
  long child = peakKb(std::to_string(engine.synthesiser().pid()));
  std::printf("memory: program peak %.1f MB -> %.1f MB (+%.2f MB); mbrola process peak %.2f MB; "
              "engine in all %.2f MB\n",
              before / 1024.0, after / 1024.0, (after - before) / 1024.0, child / 1024.0,
              (after - before + child) / 1024.0);
}

void stress(const koral::KoralFiles& files) {
  std::ifstream in(benchData("koral-stress.txt"), std::ios::binary);
  if (!in) {
    std::printf("stress: %s not found\n", benchData("koral-stress.txt").c_str());
    return;
  }
  koral::LetterRules rules;
  if (!koral::loadRules(files.rules, rules) || !koral::loadExceptions(files.exceptions, rules)) return;
  // The stressed vowel as its place among the word's vowel letters counted
  // from the end: comparable between a word and its respelling.
  auto fromEnd = [](const std::string& w, int position) {
    int n = 0;
    for (int i = static_cast<int>(w.size()) - 1; i >= position - 1 && i >= 0; --i)
      n += koral::isVowel(static_cast<uint8_t>(w[static_cast<size_t>(i)]));
    return n;
  };
  int total = 0, right = 0;
  std::string line, wrong;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    std::string marked = platform::utf8ToCp1252(line);
    int expected = 0;
    for (size_t i = 0; i < marked.size(); ++i) {
      uint8_t c = static_cast<uint8_t>(marked[i]);
      if (koral::isVowel(c) && koral::upperByte(c) == c && expected == 0) expected = static_cast<int>(i) + 1;
    }
    std::string word = koral::lowerText(marked);
    std::string replaced = koral::applyException(rules, koral::upperText(word));
    int found = koral::isFunctionWord(koral::upperText(word)) ? 0
                                                              : koral::stressPosition(koral::lowerText(replaced));
    ++total;
    if (found != 0 && fromEnd(koral::lowerText(replaced), found) == fromEnd(word, expected)) {
      ++right;
    } else {
      wrong += " " + line;
    }
  }
  std::printf("stress: %d of %d words on the right vowel (%.1f %%)\n", right, total,
              total ? 100.0 * right / total : 0.0);
  if (!wrong.empty()) std::printf("  wrong:%s\n", wrong.c_str());
}

void keyLatency() {
  auto server = makeSpeechServer(kServerBuiltIn);
  if (!server->start(1, 0, 0)) {
    std::printf("latency: the built-in voice cannot start (mbrola or br4 missing?)\n");
    return;
  }
  platform::setAudioObserver(observe);
  std::printf("audio driver: %s, mixer %d Hz, device buffer %d frames (%.1f ms)\n",
              std::getenv("SDL_AUDIODRIVER"), platform::kMixRate, platform::kDeviceBufferFrames,
              1000.0 * platform::kDeviceBufferFrames / platform::kMixRate);
  std::vector<double> startMs, cutMs;
  for (int i = 0; i < 50; ++i) {
    firstAudibleAfter = 0;
    firstSilentAfter = 0;
    auto t0 = Clock::now();
    watchFrom = ns(t0);
    mode = 1;
    // Ten words.
    server->speak("Bom dia, esta \xE9 a r\xE1" "dio Ondaria falando em portugu\xEAs do Brasil.");
    while (firstAudibleAfter.load() == 0) std::this_thread::sleep_for(100us);
    startMs.push_back((firstAudibleAfter.load() - ns(t0)) / 1e6);
    std::this_thread::sleep_for(300ms);
    auto t1 = Clock::now();
    watchFrom = ns(t1);
    mode = 2;
    server->cut();
    while (firstSilentAfter.load() == 0) std::this_thread::sleep_for(100us);
    cutMs.push_back((firstSilentAfter.load() - ns(t1)) / 1e6);
    mode = 0;
    while (server->busy(false)) std::this_thread::sleep_for(1ms);
  }
  Stats s = stats(startMs), c = stats(cutMs);
  std::printf("speak -> first sound handed to the device: median %.2f ms, p95 %.2f ms, max %.2f ms\n",
              s.median, s.p95, s.max);
  std::printf("cut   -> device silent:                    median %.2f ms, p95 %.2f ms, max %.2f ms\n",
              c.median, c.p95, c.max);
  server->stop();
  platform::setAudioObserver(nullptr);
}

void speed(const koral::KoralFiles& files) {
  koral::KoralEngine engine;
  if (!engine.init(files)) return;
  engine.setSpeechFactors(0, 0);
  // The engine alone: text -> first samples from the synthesiser, every
  // other text cut after its first samples (as a key does).
  std::vector<double> firstMs;
  for (int i = 0; i < 50; ++i) {
    auto t0 = Clock::now();
    double first = -1;
    engine.synthesise("Bom dia, esta \xE9 a r\xE1" "dio Ondaria falando em portugu\xEAs do Brasil.",
                      [&](const int16_t*, size_t) {
                        if (first < 0) first = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                        return i % 2 == 0;
                      });
    firstMs.push_back(first);
  }
  Stats f = stats(firstMs);
  std::printf("engine: text -> first samples: median %.2f ms, p95 %.2f ms, max %.2f ms\n", f.median,
              f.p95, f.max);
  std::string text = twoHundredWords();
  size_t samples = 0;
  auto t0 = Clock::now();
  engine.synthesise(text, [&](const int16_t*, size_t n) {
    samples += n;
    return true;
  });
  double made = std::chrono::duration<double>(Clock::now() - t0).count();
  double sound = static_cast<double>(samples) / engine.sampleRate();
  std::printf("200 words: %.1f s of sound made in %.3f s, real-time factor %.4f\n", sound, made,
              made / sound);
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("SDL_AUDIODRIVER") == nullptr) setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::string only = argc > 1 ? argv[1] : "";
  koral::KoralFiles files = koralFilesFromSettings();
  if (only.empty() || only == "memory") memory(files);
  if (only.empty() || only == "stress") stress(files);
  if (only.empty() || only == "latency") keyLatency();
  if (only.empty() || only == "speed") speed(files);
  return 0;
}
