// Latency of the espeak-ng speech server through the audio mixer:
//   speak -> first non-silent sample handed to the device,
//   cut   -> first silent device buffer,
// median and 95th percentile over 50 runs, and the real-time factor of
// synthesis on a 200-word text. Without SDL_AUDIODRIVER the dummy driver is
// used (it keeps real time like a sound card); set it to measure a real one.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_device.h"
#include "speech/speech_servers.h"
#include "latency_probe.h"

namespace {

using namespace std::chrono_literals;

using namespace latency;

}  // namespace

int main() {
  if (std::getenv("SDL_AUDIODRIVER") == nullptr) setenv("SDL_AUDIODRIVER", "dummy", 1);
  auto server = ondaria::makeSpeechServer(5);
  if (!server->start(1, 0, 0)) {
    std::fprintf(stderr, "the espeak-ng server could not start (no audio output?)\n");
    return 1;
  }
  platform::setAudioObserver(observe);
  std::printf("audio driver: %s, mixer %d Hz, device buffer %d frames (%.1f ms)\n",
              std::getenv("SDL_AUDIODRIVER"), platform::kMixRate, platform::kDeviceBufferFrames,
              1000.0 * platform::kDeviceBufferFrames / platform::kMixRate);

  const int runs = 50;
  std::vector<double> startMs, cutMs;
  for (int i = 0; i < runs; ++i) {
    firstAudibleAfter = 0;
    firstSilentAfter = 0;
    auto t0 = Clock::now();
    watchFrom = ns(t0);
    mode = 1;
    server->speak("Bom dia, esta \xE9 a r\xE1" "dio Ondaria, falando em portugu\xEAs do Brasil.");
    while (firstAudibleAfter.load() == 0) std::this_thread::sleep_for(100us);
    startMs.push_back((firstAudibleAfter.load() - ns(t0)) / 1e6);

    std::this_thread::sleep_for(150ms);  // well inside the sentence
    auto t1 = Clock::now();
    watchFrom = ns(t1);
    mode = 2;
    server->cut();
    while (firstSilentAfter.load() == 0) std::this_thread::sleep_for(100us);
    cutMs.push_back((firstSilentAfter.load() - ns(t1)) / 1e6);
    mode = 0;
    while (server->busy(false)) {
    }
  }
  Stats s = stats(startMs), c = stats(cutMs);
  std::printf("speak -> first sound handed to the device: median %.2f ms, p95 %.2f ms, max %.2f ms\n",
              s.median, s.p95, s.max);
  std::printf("cut   -> device silent:                    median %.2f ms, p95 %.2f ms, max %.2f ms\n",
              c.median, c.p95, c.max);

  // Real-time factor: synthesis time over the length of the sound made.
  std::string text;
  const char* words[] = {"a", "r\xE1" "dio", "toca", "m\xFAsica", "brasileira", "todos", "os",
                         "dias", "para", "ouvintes", "de", "todo", "o", "pa\xEDs", "com",
                         "not\xED" "cias", "e", "programas", "ao", "vivo"};
  for (int i = 0; i < 200; ++i) {
    text += words[i % std::size(words)];
    text += (i % 12 == 11) ? ". " : " ";
  }
  auto classic = ondaria::makeSpeechServer(ondaria::kServerClassic);
  server->stop();
  if (!classic->start(1, 0, 0)) return 1;
  auto t0 = Clock::now();
  classic->speak(text);
  while (classic->busy(true)) {
  }
  double synthSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
  // Sound played meanwhile plus the sound still queued.
  double soundSeconds = synthSeconds + ondaria::espeakPendingSeconds();
  classic->cut();
  std::printf("200 words: %.1f s of sound made in %.3f s, real-time factor %.4f\n", soundSeconds,
              synthSeconds, synthSeconds / soundSeconds);
  classic->stop();
  platform::setAudioObserver(nullptr);
  return 0;
}
