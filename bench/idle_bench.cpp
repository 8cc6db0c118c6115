// What the program costs while it waits at the main menu with nothing
// sounding, and what waking the suspended sound device costs a key.
//
//  - idle: the program beside this benchmark runs with the headless front-end
//    and the shipped settings (speech by the espeak-ng server) until the main
//    question is on the screen; then, after the device's suspend delay, its
//    CPU time and its threads' wake-ups (context switches) are counted over
//    SECONDS;
//  - key to sound: in this process, a short sound queued on the audio device
//    (as a typed letter's echo is), 40 times with the device suspended and 40
//    times with it open; the time from the queueing to the first audible
//    sample handed to the device, median and 95th percentile.
//
//   bench_idle_bench [SECONDS]      (default 20)
//
// Audio goes to SDL's dummy driver (real-time pacing like a sound card).
#include <dirent.h>
#include <signal.h>
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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console/core/settings.h"
#include "platform/audio_device.h"
#include "support/stream_peers.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU time (user + system) of a process in seconds.
double cpuSecondsOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 2));
  std::string f;
  long utime = 0, stime = 0;
  for (int i = 3; fields >> f; ++i) {
    if (i == 14) utime = std::atol(f.c_str());
    if (i == 15) {
      stime = std::atol(f.c_str());
      break;
    }
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Context switches of all threads of a process: each is a wake-up (or a
// preemption) of one of them.
long switchesOf(pid_t pid) {
  long total = 0;
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(dir.c_str());
  if (!d) return 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(dir + "/" + e->d_name + "/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        total += std::atol(line.substr(line.find(':') + 1).c_str());
    }
  }
  closedir(d);
  return total;
}

int threadsOf(pid_t pid) {
  int n = 0;
  DIR* d = opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
  if (!d) return 0;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

struct IdleFigures {
  bool ran = false;
  double cpuPercent = 0;
  double wakesPerSecond = 0;
  int threads = 0;
};

IdleFigures idleAtTheMenu(double seconds) {
  IdleFigures fig;
  const std::string work = ondaria::test::makeTempFolder("ondidle");
  const std::string config = work + "/config/lumare";
  ondaria::test::runProgram({"mkdir", "-p", config, work + "/system"});
  // The settings a user gets on the first run (scripts/run.sh copies them).
  ondaria::test::runProgram({"cp", ondaria::programDirectory() + "/data/Lumare.ini", config + "/Lumare.ini"});
  const std::string screen = work + "/screen.txt";
  int input = -1;
  const pid_t pid = ondaria::test::startFed(
      {ondaria::programDirectory() + "/ondaria"},
      {"ONDARIA_FRONTEND=headless", "SDL_AUDIODRIVER=dummy", "XDG_CONFIG_HOME=" + work + "/config",
       "LUMARE_SYSTEM_DIR=" + work + "/system", "ONDARIA_SCREEN_DUMP=" + screen},
      input);
  if (pid < 0) return fig;
  // The main question on the screen: the program now waits for a key.
  const Clock::time_point start = Clock::now();
  while (ondaria::test::readWholeFile(screen).find("Que deseja") == std::string::npos &&
         Clock::now() - start < std::chrono::seconds(30)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // The greeting has been spoken and the device has had time to go quiet.
  std::this_thread::sleep_for(std::chrono::seconds(6));
  const double cpu0 = cpuSecondsOf(pid);
  const long switches0 = switchesOf(pid);
  const Clock::time_point t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
  const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  fig.cpuPercent = (cpuSecondsOf(pid) - cpu0) / elapsed * 100;
  fig.wakesPerSecond = static_cast<double>(switchesOf(pid) - switches0) / elapsed;
  fig.threads = threadsOf(pid);
  fig.ran = true;
  const std::string esc = "key Esc\n";
  if (write(input, esc.data(), esc.size()) < 0) kill(pid, SIGTERM);
  close(input);
  int status = 0;
  for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) != pid; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (kill(pid, 0) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  ondaria::test::removeTree(work);
  return fig;
}

struct Percentiles {
  double median, p95, max;
};

Percentiles percentiles(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[static_cast<size_t>(q * (v.size() - 1) + 0.5)]; };
  return {at(0.5), at(0.95), v.back()};
}

std::atomic<long long> queuedNs{0};
std::atomic<long long> heardNs{0};

// Key to sound, in ms, with the device suspended (or kept open).
std::vector<double> keyToSound(bool suspended, int runs) {
  platform::setAudioSuspendDelay(std::chrono::milliseconds(suspended ? 300 : 0));
  auto source = std::make_shared<platform::PcmQueueSource>();
  platform::audioAddSource(source);
  // 30 ms of a 1 kHz tone, as a short recorded letter.
  std::vector<int16_t> beep(22050 * 30 / 1000);
  for (size_t i = 0; i < beep.size(); ++i) beep[i] = static_cast<int16_t>(8000 * std::sin(i * 2 * M_PI * 1000 / 22050));
  const platform::PcmFormat format{22050, 1, platform::PcmEncoding::S16};
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const Clock::time_point wait = Clock::now();
    if (suspended) {
      while (!platform::audioSuspended() && Clock::now() - wait < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    heardNs = 0;
    queuedNs = Clock::now().time_since_epoch().count();
    source->queue(beep.data(), beep.size() * sizeof(int16_t), format);
    while (heardNs.load() == 0 && Clock::now() - wait < std::chrono::seconds(10))
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (heardNs.load() != 0) ms.push_back(static_cast<double>(heardNs.load() - queuedNs.load()) / 1e6);
  }
  platform::audioRemoveSource(source.get());
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
  setenv("SDL_AUDIODRIVER", "dummy", 0);

  const IdleFigures idle = idleAtTheMenu(seconds);
  if (idle.ran) {
    std::printf("the program waiting at the main menu, %.0f s (SDL dummy audio, espeak-ng server):\n", seconds);
    std::printf("  cpu %.3f %% of a core, %.1f wake-ups a second over its %d threads\n\n", idle.cpuPercent,
                idle.wakesPerSecond, idle.threads);
  } else {
    std::printf("the program could not be started\n\n");
  }

  if (!platform::audioOpen()) {
    std::fprintf(stderr, "no audio output\n");
    return 1;
  }
  platform::setAudioObserver([](const platform::AudioBlockReport& r) {
    if (r.firstAudible >= 0 && heardNs.load() == 0) {
      const long long at = r.when.time_since_epoch().count() +
                           static_cast<long long>(r.firstAudible) * 1000000000LL / platform::kMixRate;
      if (at >= queuedNs.load()) heardNs = at;
    }
  });
  std::printf("%-34s %10s %10s %10s\n", "queued sound -> first sample", "median", "p95", "max");
  for (bool suspended : {true, false}) {
    const std::vector<double> ms = keyToSound(suspended, 40);
    if (ms.empty()) continue;
    const Percentiles p = percentiles(ms);
    std::printf("%-34s %7.2f ms %7.2f ms %7.2f ms\n", suspended ? "device suspended (woken)" : "device open",
                p.median, p.p95, p.max);
  }
  std::printf("\ngoals: idle under 0.05 %% of a core; key to sound under 10 ms at the 95th percentile\n");
  platform::setAudioObserver(nullptr);
  platform::audioClose();
  return 0;
}
