// How the stream engine rides over a live server that goes away and comes
// back, with the stream player's settings (reopened for up to two minutes, a
// silent connection counts as lost after 3 s):
//
//  - return to audio: a paced live MP3 server (128 kb/s, a 64 KB start burst
//    on each connection, as icecast gives) drops its listener and answers 404
//    for a while, as icecast does while a station restarts its encoder; the
//    time from its return to the first audible sample at the mixer;
//  - the same for a server that stalls (keeps the connection, sends nothing);
//  - memory over many reconnections: a decoding stream whose server drops it
//    after a short part, again and again; resident memory after each hundred.
//
//   bench_reconnect_bench [RECONNECTIONS]     (default 300)
//
// Audio goes to SDL's dummy driver (real-time pacing, no sound card needed).
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_device.h"
#include "platform/stream_engine.h"
#include "playback/stream_player.h"
#include "support/local_server.h"
#include "support/stream_peers.h"

using namespace platform;
using ondaria::test::LocalServer;
using ondaria::test::ServerConnection;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kBytesPerSecond = 16000;  // 128 kb/s
constexpr size_t kBurstBytes = 64 * 1024;
constexpr int kChunkMs = 100;

double msSince(Clock::time_point t0, Clock::time_point t1 = Clock::now()) {
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

long residentKiB() {
  std::ifstream in("/proc/self/statm");
  long pages = 0, resident = 0;
  in >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A live station: each connection gets the start burst, then the tone at
// playing speed. While `down`, connections are dropped and new ones get 404;
// with `stall`, the connection stays open and nothing more is sent.
class Station {
 public:
  explicit Station(const std::string& audio) : audio_(audio), server_([this](ServerConnection& c) { serve(c); }) {}
  std::string url() const { return server_.url("/ao-vivo"); }
  std::atomic<bool> down{false};
  std::atomic<bool> stall{false};

 private:
  void serve(ServerConnection& c) {
    c.readRequest();
    if (down.load()) {
      c.send("HTTP/1.0 404 Not Found\r\n\r\n");
      return;
    }
    c.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n");
    size_t at = 0;
    auto next = [&](size_t n) {
      std::string out;
      while (out.size() < n) {
        const size_t take = std::min(n - out.size(), audio_.size() - at);
        out += audio_.substr(at, take);
        at = (at + take) % audio_.size();
      }
      return out;
    };
    if (!c.send(next(kBurstBytes))) return;
    for (;;) {
      if (down.load()) {
        c.reset();
        return;
      }
      if (!c.pause(kChunkMs)) return;
      if (stall.load()) continue;
      if (!c.send(next(kBytesPerSecond * kChunkMs / 1000))) return;
    }
  }
  const std::string& audio_;
  LocalServer server_;
};

// Audible and silent blocks at the mixer, as moments. (While the device is
// suspended no block comes at all: that is silence too.)
struct Listener {
  std::atomic<long long> lastAudibleNs{0};
  std::atomic<long long> lastSilentNs{0};
  void install() {
    setAudioObserver([this](const AudioBlockReport& r) {
      (r.firstAudible >= 0 ? lastAudibleNs : lastSilentNs) = r.when.time_since_epoch().count();
    });
  }
  bool audibleSince(Clock::time_point t) const { return lastAudibleNs.load() > t.time_since_epoch().count(); }
  bool silentSince(Clock::time_point t) const {
    return lastSilentNs.load() > t.time_since_epoch().count() || suspendedSince(t);
  }
  bool suspendedSince(Clock::time_point t) const { return audioSuspended() && !audibleSince(t); }
};

struct Outcome {
  double ms = -1;     // from the station's return to audio; -1: never
  bool gap = false;   // the music stopped during the outage
};

HSTREAM openPlaying(const std::string& url) {
  const HOPEN o = StreamOpenURL(url.c_str(), ondaria::kStreamFlags, nullptr, nullptr, true, ondaria::kStartCushionMs);
  HSTREAM h = 0;
  int error = 0;
  ErrorDetail detail;
  while (!StreamOpenResult(o, &h, &error, &detail)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return h;
}

// One outage of `outageMs`: whether the music stopped, and the time from the
// station's return to audio (within 30 s).
Outcome outage(Station& station, Listener& listener, int outageMs, bool stall) {
  Outcome outcome;
  const std::string url = station.url();
  HSTREAM h = openPlaying(url);
  if (!h) return outcome;
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const Clock::time_point lost = Clock::now();
  if (stall) {
    station.stall = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(outageMs));
    station.down = true;  // the stalled connection goes; new ones find the station away
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    station.stall = false;
  } else {
    station.down = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(outageMs));
  }
  const Clock::time_point back = Clock::now();
  outcome.gap = listener.silentSince(lost);
  station.down = false;
  while (msSince(back) < 30000) {
    if (listener.audibleSince(back)) {
      outcome.ms = msSince(back);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  StreamFree(h);
  return outcome;
}

void printOutcome(const char* label, const Outcome& o) {
  if (o.ms < 0) {
    std::printf("%-44s %16s\n", label, "never");
  } else if (!o.gap) {
    std::printf("%-44s %16s\n", label, "no gap heard");
  } else {
    std::printf("%-44s %13.0f ms\n", label, o.ms);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int reconnections = argc > 1 ? std::atoi(argv[1]) : 300;
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  // The stream player's own set-up of the engine.
  if (!ondaria::initStreamPlayer()) {
    std::fprintf(stderr, "no audio output (error %d)\n", ErrorGetCode());
    return 1;
  }

  ondaria::test::ToneFiles tones;
  const std::string audio = ondaria::test::readWholeFile(tones.path("long.mp3"));
  if (audio.empty()) {
    std::fprintf(stderr, "ffmpeg could not make the tone\n");
    return 1;
  }
  Station station(audio);
  Listener listener;
  listener.install();

  std::printf("live MP3 at 128 kb/s, 64 KB start burst; attempts at once, after 0.5 s, then every second\n\n");
  std::printf("%-44s %16s\n", "outage", "return to audio");
  for (int seconds : {2, 5, 10, 30}) {
    char label[64];
    std::snprintf(label, sizeof label, "dropped, 404 for %d s", seconds);
    printOutcome(label, outage(station, listener, seconds * 1000, false));
  }
  printOutcome("silent for 6 s, then away briefly", outage(station, listener, 6000, true));
  setAudioObserver(nullptr);

  // Memory over many reconnections: each connection gives 0.3 s and drops.
  std::atomic<int> connections{0};
  LocalServer dropping([&](ServerConnection& c) {
    c.readRequest();
    ++connections;
    c.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + audio.substr(4096, kBytesPerSecond * 3 / 10));
    c.reset();
  });
  const HSTREAM h = StreamCreateURL(dropping.url("/ao-vivo").c_str(), 0, STREAM_DECODE, nullptr, nullptr);
  if (!h) {
    std::fprintf(stderr, "cannot open the dropping server (error %d)\n", ErrorGetCode());
    return 1;
  }
  std::printf("\n%-44s %16s %12s\n", "reconnections of a decoding stream", "resident memory", "per reconnection");
  std::vector<float> buffer(4096 * 2);
  const Clock::time_point t0 = Clock::now();
  int nextReport = 10;
  while (nextReport <= reconnections) {
    if (ChannelGetData(h, buffer.data(), static_cast<uint32_t>(buffer.size() * sizeof(float))) == 0xFFFFFFFF) {
      std::printf("the stream ended after %d connections\n", connections.load());
      break;
    }
    const int done = connections.load() - 1;  // the first connection is no reconnection
    if (done >= nextReport) {
      std::printf("%-44d %12ld KiB %13.1f ms\n", done, residentKiB(), msSince(t0) / done);
      nextReport = nextReport < 100 ? 100 : nextReport + 100;
    }
  }
  StreamFree(h);
  ondaria::freeStreamPlayer();
  return 0;
}
