// Plays a 440 Hz tone from local servers with the whole program and with other
// players, one after the other, and prints side by side what each cost.
//
//  - cost: the same icecast2 MP3 mount (128 kb/s, fed by ffmpeg) played for
//    SECONDS: CPU time (user + system) and peak resident memory;
//  - first audio: the time from starting the player to the first samples of
//    the tone handed to the audio device, on three kinds of server: an
//    icecast2 MP3 mount (which sends its 64 KB start burst at once), an
//    icecast2 AAC mount, and an MP3 server without a start burst (it sends at
//    playing speed from the first byte, as many relays and small servers do).
//
//   bench_playback_bench [SECONDS]      (default 60)
//
// The cost runs use SDL's dummy audio driver; the first-audio runs the disk
// driver (paced like a sound card, writing what it plays to a file), so the
// onset of the tone can be found in what was handed over; the time is taken
// when that part of the file appeared. The tone is recognised by its 440 Hz
// component alone, so speech said over it does not hide it. ondaria runs as
// `ondaria ADDRESS` with the headless front-end and the settings a user gets
// on the first run (speech by the espeak-ng server), ending by ESC; the
// others get SIGTERM. mpv is measured only when it is installed. Run it from
// a Release build (scripts/build.sh bench): the program measured is the one
// beside it.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "console/core/settings.h"
#include "support/local_server.h"
#include "support/stream_peers.h"

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for any player to start and play a few seconds of the tone.
constexpr double kOnsetRunSeconds = 12;

// How a player's disk audio file is laid out.
struct SampleFormat {
  bool isFloat;  // 32-bit float, else signed 16-bit
  int channels;
  int rate;
};

struct Figures {
  bool ran = false;
  double cpuSeconds = 0;
  double peakMiB = 0;
  double firstAudioMs = -1;  // -1: the tone was never found
};

// Amplitude of the 440 Hz component in one window (Goertzel). Over 100 ms
// the steady tone stands out: speech alone gives at most a quarter of the
// tone's level there, and speech said over the tone changes it little.
double toneAmplitude(const std::vector<float>& s, size_t from, size_t n, int rate) {
  const double w = 2 * M_PI * 440.0 / rate;
  const double coeff = 2 * std::cos(w);
  double q1 = 0, q2 = 0;
  for (size_t i = from; i < from + n; ++i) {
    const double q0 = coeff * q1 - q2 + s[i];
    q2 = q1;
    q1 = q0;
  }
  const double power = q1 * q1 + q2 * q2 - coeff * q1 * q2;
  return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(n);
}

// Byte offset in the file where the tone starts, or -1. The tone's level is
// the median over the second half of the recording (each player has its own
// volume); the onset is the middle of the first 100 ms window holding at
// least half that level, five 10 ms steps in a row. The speech the program
// says at the start ("Tentando conexão") may go on over the music: it
// neither hides the tone nor passes for it.
long long toneOnset(const std::string& path, const SampleFormat& f) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t sampleBytes = f.isFloat ? 4 : 2;
  const size_t frameBytes = sampleBytes * f.channels;
  std::vector<float> left(bytes.size() / frameBytes);
  for (size_t i = 0; i < left.size(); ++i) {
    const char* p = bytes.data() + i * frameBytes;
    if (f.isFloat) {
      std::memcpy(&left[i], p, 4);
    } else {
      int16_t v;
      std::memcpy(&v, p, 2);
      left[i] = v / 32768.0f;
    }
  }
  const size_t window = f.rate / 10, step = f.rate / 100;
  if (left.size() < 2 * window) return -1;
  std::vector<double> amplitude;
  for (size_t from = 0; from + window <= left.size(); from += step)
    amplitude.push_back(toneAmplitude(left, from, window, f.rate));
  std::vector<double> later(amplitude.begin() + static_cast<std::ptrdiff_t>(amplitude.size() / 2), amplitude.end());
  std::nth_element(later.begin(), later.begin() + static_cast<std::ptrdiff_t>(later.size() / 2), later.end());
  const double level = later[later.size() / 2];
  if (level < 0.02) return -1;  // no tone in it
  int run = 0;
  for (size_t k = 0; k < amplitude.size(); ++k) {
    run = amplitude[k] >= level / 2 ? run + 1 : 0;
    if (run == 5) return static_cast<long long>(((k - 4) * step + window / 2) * frameBytes);
  }
  return -1;
}

// Runs one player for `seconds` and measures it. The player is ended by
// `endInput` written on its standard input at that moment (the key script of
// the headless front-end, which waits on its input without waking; "now"
// types the key while the session polls for keys), or by SIGTERM when there
// is none.
Figures runPlayer(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv,
                  const std::string& audioFile, const SampleFormat& format, double seconds,
                  const std::string& endInput, bool toDisk) {
  const bool terminate = endInput.empty();
  Figures fig;
  std::vector<std::string> env = {std::string("SDL_AUDIODRIVER=") + (toDisk ? "disk" : "dummy"),
                                  "SDL_DISKAUDIOFILE=" + audioFile,
                                  "SDL_DISKAUDIODELAY="};  // real-time pacing, as a sound card
  for (const auto& [k, v] : extraEnv) env.push_back(k + "=" + v);
  unlink(audioFile.c_str());
  const Clock::time_point start = Clock::now();
  int input = -1;
  const pid_t pid = ondaria::test::startFed(argv, env, input);
  if (pid < 0) return fig;

  // When each part of the audio file appeared.
  std::vector<std::pair<double, long long>> growth;
  int status = 0;
  rusage usage{};
  bool ended = false, signalled = false;
  while (!ended) {
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    struct stat st {};
    if (stat(audioFile.c_str(), &st) == 0 && (growth.empty() || growth.back().second != st.st_size))
      growth.push_back({ms, st.st_size});
    if (!signalled && ms > seconds * 1000) {
      if (terminate) {
        kill(pid, SIGTERM);
      } else if (write(input, endInput.data(), endInput.size()) < 0) {
        std::perror("write");
      }
      signalled = true;
    }
    if (ms > seconds * 1000 + 20000) kill(pid, SIGKILL);  // a player that hangs
    ended = wait4(pid, &status, WNOHANG, &usage) == pid;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  close(input);
  fig.ran = true;
  fig.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                   (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  fig.peakMiB = usage.ru_maxrss / 1024.0;
  const long long onset = toDisk ? toneOnset(audioFile, format) : -1;
  if (onset >= 0) {
    for (const auto& [ms, size] : growth) {
      if (size > onset) {
        fig.firstAudioMs = ms;
        break;
      }
    }
  }
  unlink(audioFile.c_str());
  return fig;
}

bool onPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string all = path ? path : "";
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    if (access((all.substr(start, end - start) + "/" + name).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

// An MP3 server without a start burst: each listener gets the tone at playing
// speed (128 kb/s) from the first byte, in 100 ms steps.
class PacedServer {
 public:
  explicit PacedServer(const std::string& audio)
      : audio_(audio), server_([this](ondaria::test::ServerConnection& c) { serve(c); }) {}
  std::string url() const { return server_.url("/ao-vivo"); }

 private:
  void serve(ondaria::test::ServerConnection& c) {
    c.readRequest();
    if (!c.send("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-br: 128\r\n\r\n")) return;
    size_t at = 0;
    const auto start = Clock::now();
    for (int step = 1;; ++step) {
      const size_t upTo = static_cast<size_t>(step) * 1600;
      std::string out;
      while (at < upTo) {
        const size_t take = std::min(upTo - at, audio_.size() - at % audio_.size());
        out += audio_.substr(at % audio_.size(), take);
        at += take;
      }
      if (!c.send(out)) return;
      const auto due = start + std::chrono::milliseconds(100 * step);
      while (Clock::now() < due) {
        if (!c.pause(5)) return;
      }
    }
  }
  const std::string& audio_;
  ondaria::test::LocalServer server_;
};

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  ondaria::test::IcecastServer icecast;
  if (!icecast.start() || !icecast.feed("radio.mp3", "mp3") || !icecast.feed("radio.aac", "aac")) {
    std::fprintf(stderr, "icecast2 could not be started: %s\n", icecast.error().c_str());
    return 1;
  }
  ondaria::test::ToneFiles tones;
  const std::string tone = ondaria::test::readWholeFile(tones.path("long.mp3"));
  if (tone.empty()) {
    std::fprintf(stderr, "ffmpeg could not make the tone\n");
    return 1;
  }
  PacedServer paced(tone);
  const std::string work = ondaria::test::makeTempFolder("ondbench");
  const std::string audio = work + "/audio.raw";

  // icecast's start burst (64 KB, about 4 s) is full before anyone listens,
  // as it is for a station that has been on the air for a while.
  std::this_thread::sleep_for(std::chrono::seconds(8));

  // The program: its own settings folder with the settings a user gets on the
  // first run, the headless front-end reading ESC after the playing time.
  ondaria::test::runProgram({"mkdir", "-p", work + "/config/lumare", work + "/system"});
  ondaria::test::runProgram({"cp", ondaria::programDirectory() + "/data/Lumare.ini", work + "/config/lumare/Lumare.ini"});
  std::map<std::string, std::string> ondariaEnv = {
      {"ONDARIA_FRONTEND", "headless"},
      {"XDG_CONFIG_HOME", work + "/config"},
      {"LUMARE_SYSTEM_DIR", work + "/system"},
  };
  const SampleFormat ondariaFormat{true, 2, 48000}, ffplayFormat{false, 2, 44100};
  auto ondariaArgs = [&](const std::string& address) {
    return std::vector<std::string>{ondaria::programDirectory() + "/ondaria", address};
  };
  auto ffplayArgs = [](const std::string& address) {
    return std::vector<std::string>{"ffplay", "-nodisp", "-loglevel", "error", address};
  };
  const std::string endKey = "now\nkey Esc\n";

  // Cost over SECONDS of the MP3 mount.
  const std::string address = icecast.url("radio.mp3");
  const Figures ours = runPlayer(ondariaArgs(address), ondariaEnv, audio, ondariaFormat, seconds, endKey, false);
  const Figures ffplay = runPlayer(ffplayArgs(address), {}, audio, ffplayFormat, seconds, "", false);
  Figures mpv;
  const bool haveMpv = onPath("mpv");
  if (haveMpv) {
    mpv = runPlayer({"mpv", "--no-video", "--ao=sdl", "--no-terminal", address}, {}, audio, {true, 2, 44100},
                    seconds, "", false);
  }
  std::printf("%.0f s of %s (128 kb/s MP3)\n\n", seconds, address.c_str());
  std::printf("%-22s %12s %14s\n", "player", "cpu (u+s)", "peak memory");
  auto costRow = [](const char* name, const Figures& f) {
    if (!f.ran) {
      std::printf("%-22s not run\n", name);
      return;
    }
    std::printf("%-22s %10.2f s %10.1f MiB\n", name, f.cpuSeconds, f.peakMiB);
  };
  costRow("ondaria ADDRESS", ours);
  costRow("ffplay -nodisp", ffplay);
  if (haveMpv) {
    costRow("mpv --no-video", mpv);
  } else {
    std::printf("%-22s not installed\n", "mpv --no-video");
  }
  if (ours.ran && ffplay.ran && ffplay.cpuSeconds > 0)
    std::printf("\nondaria CPU / ffplay CPU: %.2f (goal: at most 0.50); peak memory goal: under 30 MiB\n",
                ours.cpuSeconds / ffplay.cpuSeconds);

  // First audio on each kind of server, the two players one after the other.
  struct Server {
    const char* name;
    std::string address;
  };
  const Server servers[] = {
      {"icecast MP3, 64 KB burst", icecast.url("radio.mp3")},
      {"icecast AAC, 64 KB burst", icecast.url("radio.aac")},
      {"MP3 without a burst", paced.url()},
  };
  std::printf("\n%-28s %16s %16s\n", "first audio after start", "ondaria ADDRESS", "ffplay -nodisp");
  auto cell = [](const Figures& f) {
    char text[32];
    if (f.firstAudioMs >= 0) {
      std::snprintf(text, sizeof text, "%.0f ms", f.firstAudioMs);
    } else {
      std::snprintf(text, sizeof text, f.ran ? "not found" : "not run");
    }
    return std::string(text);
  };
  for (const Server& server : servers) {
    const Figures a =
        runPlayer(ondariaArgs(server.address), ondariaEnv, audio, ondariaFormat, kOnsetRunSeconds, endKey, true);
    const Figures b = runPlayer(ffplayArgs(server.address), {}, audio, ffplayFormat, kOnsetRunSeconds, "", true);
    std::printf("%-28s %16s %16s\n", server.name, cell(a).c_str(), cell(b).c_str());
  }
  std::printf("\ngoal: ondaria's first audio no later than ffplay's on each server\n");
  ondaria::test::removeTree(work);
  return 0;
}
