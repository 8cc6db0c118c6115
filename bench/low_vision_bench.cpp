// Costs of the low-vision and review aids:
//   - the magnified strip's redraw per key in the window (from the band
//     handed over to the window updated) and in the terminal (time and bytes
//     written per key, on a pseudo-terminal);
//   - each screen review reading command on a full screen, from its last key
//     to the first text handed to speech (speech itself is silent here: no
//     audio device, no server);
//   - a full redraw of the window at 3840 x 2160.
// The window figures use a virtual X server of their own (Xvfb, started on a
// free display number) when Xvfb is installed, else SDL's dummy driver.
//
//   bench_low_vision_bench [keys]      (default 300 keys per figure)
#include <SDL.h>
#include <fcntl.h>
#include <pty.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "console/core/console.h"
#include "console/core/magnified_strip.h"
#include "console/ui/screen_review.h"
#include "platform/frontend.h"
#include "platform/speech_log.h"

extern char** environ;

using namespace ondaria;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Figures {
  double median = 0, p95 = 0, max = 0;
};

Figures figures(std::vector<double> v) {
  Figures f;
  if (v.empty()) return f;
  std::sort(v.begin(), v.end());
  f.median = v[v.size() / 2];
  f.p95 = v[std::min(v.size() - 1, v.size() * 95 / 100)];
  f.max = v.back();
  return f;
}

void report(const char* what, const std::vector<double>& samples, const char* unit = "ms") {
  const Figures f = figures(samples);
  std::printf("%-52s median %8.3f  p95 %8.3f  max %8.3f %s\n", what, f.median, f.p95, f.max, unit);
}

// Processor time of the calling thread: on a machine shared with other work
// the wall-clock figures include waiting for a processor, this does not.
double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall-clock and processor milliseconds of each call of `step`, reported
// as two lines.
template <class Step>
void measure(const char* what, int count, Step step) {
  std::vector<double> wall, cpu;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    const double cpuStart = threadCpuMs();
    step(i);
    cpu.push_back(threadCpuMs() - cpuStart);
    wall.push_back(ms(Clock::now() - start));
  }
  report(what, wall);
  report((std::string(what) + " (processor)").c_str(), cpu);
}

std::string menuItem(int i) {
  static const char* kNames[] = {"R\xE1" "dio Cultura FM", "Jovem Pan News", "CBN S\xE3o Paulo",
                                 "Antena 1", "Band FM", "Nova Brasil FM"};
  return std::string(kNames[i % 6]) + " - " + std::to_string(100 + i % 900) + " kbps";
}

// A band as the option menu would show it while the user walks the list.
platform::StripBand bandFor(int key, int factor) {
  platform::StripBand band;
  band.row = 25 - factor;
  band.factor = factor;
  band.text = menuItem(key).substr(0, static_cast<size_t>(80 / factor));
  band.text.resize(static_cast<size_t>(80 / factor), ' ');
  band.marked = key % 10;
  return band;
}

void fillGrid(platform::CellGrid& grid) {
  for (int row = 0; row < 25; ++row) {
    const std::string text = "Linha " + std::to_string(row + 1) + ": " + menuItem(row) + " " + menuItem(row + 7) +
                             " " + menuItem(row + 3);
    for (int col = 0; col < 80; ++col) {
      grid.chars[row * 80 + col] = static_cast<uint8_t>(col < static_cast<int>(text.size()) ? text[col] : '.');
      grid.attrs[row * 80 + col] = static_cast<uint8_t>(row == 5 ? 0x1E : 0x0F);
    }
  }
}

// ---- The window ----------------------------------------------------------------

class VirtualX {
 public:
  VirtualX(int width, int height) {
    for (int n = 150 + static_cast<int>(getpid() % 50); n < 250; ++n) {
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0 || access(socket.c_str(), F_OK) == 0)
        continue;
      const std::string display = ":" + std::to_string(n);
      const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
      const char* argv[] = {"Xvfb", display.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", nullptr};
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
      const int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
      posix_spawn_file_actions_destroy(&actions);
      if (rc != 0) {
        pid_ = -1;
        return;
      }
      for (int i = 0; i < 100 && access(socket.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (access(socket.c_str(), F_OK) != 0) return;
      display_ = display;
      setenv("DISPLAY", display_.c_str(), 1);
      setenv("SDL_VIDEODRIVER", "x11", 1);
      return;
    }
  }
  ~VirtualX() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ok() const { return !display_.empty(); }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

SDL_Window* theWindow() {
  for (Uint32 id = 1; id < 64; ++id)
    if (SDL_Window* w = SDL_GetWindowFromID(id)) return w;
  return nullptr;
}

void windowFigures(int keys) {
  VirtualX x(3840, 2160);
  if (!x.ok()) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    std::printf("(no Xvfb: SDL's dummy driver; its display is 1024 x 768)\n");
  }
  platform::CellGrid grid;
  fillGrid(grid);
  auto window = platform::makeSdlFrontend();
  platform::FrontendOptions options;
  options.fontHeight = 19;
  if (!window->open(grid, options)) {
    std::printf("window: cannot open\n");
    return;
  }
  platform::FrontendEvent e;
  while (window->nextEvent(e, 100)) {
  }
  for (int factor : {3, 6}) {
    char label[96];
    std::snprintf(label, sizeof label, "window strip per key, factor %d, %dx%d cells", factor, window->cellWidth(),
                  window->cellHeight());
    measure(label, keys, [&](int k) {
      window->showStrip(bandFor(k, factor));
      window->keyWait(true, 0, 5);  // presents at once
    });
    window->hideStrip();
  }
  if (SDL_Window* w = theWindow()) {
    SDL_SetWindowSize(w, 3840, 2160);
    while (window->nextEvent(e, 200)) {
    }
    window->keyWait(true, 0, 0);
    int width = 0, height = 0;
    SDL_GetWindowSize(w, &width, &height);
    char label[96];
    std::snprintf(label, sizeof label, "window full redraw, %dx%d, %dx%d cells", width, height, window->cellWidth(),
                  window->cellHeight());
    measure(label, std::max(20, keys / 10), [&](int k) {
      grid.chars[0] = static_cast<uint8_t>('A' + k % 26);
      window->repaintAll();
      window->keyWait(true, k % 80, 0);
    });
    measure("window strip per key at that size, factor 3", keys, [&](int k) {
      window->showStrip(bandFor(k, 3));
      window->keyWait(true, 0, 5);
    });
  }
  window->close();
}

// ---- The terminal --------------------------------------------------------------

void terminalFigures(int keys) {
  int master = -1, slave = -1;
  winsize size{};
  size.ws_col = 80;
  size.ws_row = 25;
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
    std::printf("terminal: no pseudo-terminal\n");
    return;
  }
  platform::CellGrid grid;
  fillGrid(grid);
  auto terminal = platform::makeTerminalFrontend(slave, slave);
  terminal->open(grid, platform::FrontendOptions{});
  auto drain = [&] {
    size_t total = 0;
    char buffer[65536];
    for (;;) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0) break;
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      total += static_cast<size_t>(n);
    }
    return total;
  };
  terminal->flush();
  drain();
  for (int factor : {3, 6, 10}) {
    std::vector<double> time, bytes;
    for (int k = 0; k < keys; ++k) {
      const auto start = Clock::now();
      terminal->showStrip(bandFor(k, factor));
      terminal->flush();
      time.push_back(ms(Clock::now() - start));
      bytes.push_back(static_cast<double>(drain()));
    }
    terminal->hideStrip();
    terminal->flush();
    drain();
    char label[96];
    std::snprintf(label, sizeof label, "terminal strip per key, factor %d", factor);
    report(label, time);
    std::snprintf(label, sizeof label, "terminal strip output per key, factor %d", factor);
    report(label, bytes, "bytes");
  }
  terminal->close();
  close(master);
  close(slave);
}

// ---- Screen review ---------------------------------------------------------------

// Hands over the two letters of a reading command, one each time the console
// waits, noting when the second went in; then Esc, which leaves review.
class ReviewFrontend : public platform::HeadlessFrontend {
 public:
  ReviewFrontend() : HeadlessFrontend(-1) {}
  void keyWait(bool waiting, int col, int row) override {
    HeadlessFrontend::keyWait(waiting, col, row);
    if (!waiting) return;
    if (letters.empty()) {
      pressKey(platform::KeyId::Escape);
      return;
    }
    typeText(std::string(1, letters.front()));
    letters.erase(0, 1);
    if (letters.empty()) {
      pressed = Clock::now();
      waitingForText = true;
    }
  }
  std::string letters;
  Clock::time_point pressed;
  bool waitingForText = false;
};

void reviewFigures(int rounds) {
  resetConsole();
  auto owned = std::make_unique<ReviewFrontend>();
  ReviewFrontend* frontend = owned.get();
  setConsoleFrontend(std::move(owned));
  ensureConsole();
  platform::CellGrid filled;
  fillGrid(filled);
  for (int row = 1; row <= 25; ++row) {
    gotoXY(1, row);
    writeText(std::string(reinterpret_cast<const char*>(filled.chars.data()) + (row - 1) * 80, 79));
  }
  const char* commands[] = {"TT", "FT", "IT", "TL", "IL", "FL", "TC", "IC", "FC"};
  for (const char* command : commands) {
    std::vector<double> samples;
    // The first text handed to speech is timed; a key then stops the
    // reading, as a user who has heard enough would, and leaves review.
    platform::setSpeechObserver([&](platform::SpeechEvent kind, const std::string&) {
      if (kind == platform::SpeechEvent::Text && frontend->waitingForText) {
        samples.push_back(ms(Clock::now() - frontend->pressed));
        frontend->waitingForText = false;
        pushKey(27);
      }
    });
    for (int i = 0; i < rounds; ++i) {
      frontend->letters = command;
      gotoXY(30, 12);
      screenReview();
    }
    platform::setSpeechObserver(nullptr);
    char label[96];
    std::snprintf(label, sizeof label, "review %s on a full screen, key to speech", command);
    report(label, samples);
  }
  resetConsole();
}

}  // namespace

int main(int argc, char** argv) {
  const int keys = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
  // Silent: no audio device, so every sound returns at once.
  setenv("SDL_AUDIODRIVER", "none-at-all", 1);
  setenv("ONDARIA_FRONTEND", "headless", 1);
  terminalFigures(keys);
  reviewFigures(std::max(5, keys / 10));
  windowFigures(keys);
  return 0;
}
