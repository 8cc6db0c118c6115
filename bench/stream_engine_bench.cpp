// Plays one address through the stream engine the way the stream player does
// (one opening that tries every format and starts playing once 750 ms of
// audio are in hand) and prints what it cost: time to open, time to the first
// audible sample at the mixer, CPU time over the playing period and the peak
// resident memory of the process.
//
//   bench_stream_engine ADDRESS [SECONDS]
//
// Without SDL_AUDIODRIVER set, the dummy driver is used (real-time pacing, no
// sound card needed). Compare with: /usr/bin/time -v ffplay -nodisp -autoexit
// -t SECONDS ADDRESS.
#include <stdlib.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/audio_device.h"
#include "platform/stream_engine.h"
#include "playback/stream_player.h"

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

double msSince(Clock::time_point t0, Clock::time_point t1) {
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s ADDRESS [SECONDS]\n", argv[0]);
    return 2;
  }
  std::string address = argv[1];
  double seconds = argc > 2 ? std::atof(argv[2]) : 30.0;
  setenv("SDL_AUDIODRIVER", "dummy", 0);

  // The stream player's own set-up of the engine.
  if (!ondaria::initStreamPlayer()) {
    std::fprintf(stderr, "no audio output (error %d)\n", ErrorGetCode());
    return 1;
  }

  std::atomic<bool> heard{false};
  Clock::time_point heardAt;
  setAudioObserver([&](const AudioBlockReport& r) {
    if (r.firstAudible >= 0 && !heard.exchange(true)) heardAt = r.when;
  });

  const uint32_t flags = STREAM_BLOCK | STREAM_STATUS | STREAM_AUTOFREE;
  Clock::time_point t0 = Clock::now();
  const HOPEN opening = StreamOpenURL(address.c_str(), flags, nullptr, nullptr, true, ondaria::kStartCushionMs);
  HSTREAM h = 0;
  int error = 0;
  ErrorDetail detail;
  while (!StreamOpenResult(opening, &h, &error, &detail)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (!h) {
    std::fprintf(stderr, "cannot open %s (error %d)\n", address.c_str(), error);
    return 1;
  }
  Clock::time_point opened = Clock::now();
  while (!heard.load() && msSince(t0, Clock::now()) < 20000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  double cpu0 = cpuSeconds();
  Clock::time_point p0 = Clock::now();
  while (msSince(p0, Clock::now()) < seconds * 1000 && ChannelIsActive(h) != ACTIVE_STOPPED) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the session's poll
  }
  double played = msSince(p0, Clock::now()) / 1000;
  double cpu = cpuSeconds() - cpu0;
  setAudioObserver(nullptr);
  StreamFree(h);
  ondaria::freeStreamPlayer();

  std::printf("address            %s\n", address.c_str());
  std::printf("open               %.0f ms\n", msSince(t0, opened));
  if (heard.load()) {
    std::printf("first audio        %.0f ms after the open began\n", msSince(t0, heardAt));
  } else {
    std::printf("first audio        none\n");
  }
  std::printf("cpu while playing  %.3f s for %.1f s of play\n", cpu, played);
  std::printf("peak memory        %.1f MiB\n", peakKiB() / 1024.0);
  return 0;
}
