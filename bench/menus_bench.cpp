// Per-key handling time of the field editor and of the marked list.
//
// A key's handling time runs from the moment the key is handed to the console
// (while the program waits for it) to the moment the program waits for the
// next key: translation, the editor's or list's work, redrawing and speech.
// The console uses the headless front-end. Speech is silenced: no audio
// device can be opened (so beeps, clicks and letters return at once), no
// speech server runs and diphone speech is not started; what is timed is the
// program's own work, not the length of sounds.
//
//   bench_menus_bench [rounds]      (default 200 keys of each kind)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "console/core/console.h"
#include "console/ui/field_editor.h"
#include "console/ui/marked_list.h"
#include "platform/frontend.h"

using namespace ondaria;
using platform::KeyId;
using Clock = std::chrono::steady_clock;

namespace {

struct TimedKey {
  std::string label;  // what the figure is reported under; empty: not timed
  KeyId key;
  uint8_t mods = 0;
  std::string text;  // typed text instead of a key, when not empty
};

class TimedFrontend : public platform::HeadlessFrontend {
 public:
  TimedFrontend() : HeadlessFrontend(-1) {}

  void keyWait(bool waiting, int col, int row) override {
    HeadlessFrontend::keyWait(waiting, col, row);
    if (!waiting) return;
    const Clock::time_point now = Clock::now();
    if (!pendingLabel_.empty()) {
      samples[pendingLabel_].push_back(std::chrono::duration<double, std::milli>(now - pushedAt_).count());
      pendingLabel_.clear();
    }
    if (keys.empty()) return;
    TimedKey k = std::move(keys.front());
    keys.pop_front();
    if (k.text.empty()) {
      pressKey(k.key, k.mods);
    } else {
      typeText(k.text);
    }
    pushedAt_ = Clock::now();
    pendingLabel_ = k.label;
  }

  std::deque<TimedKey> keys;
  std::map<std::string, std::vector<double>> samples;

 private:
  Clock::time_point pushedAt_;
  std::string pendingLabel_;
};

struct Figures {
  double median = 0;
  double p95 = 0;
  double max = 0;
};

Figures figures(std::vector<double> v) {
  Figures f;
  if (v.empty()) return f;
  std::sort(v.begin(), v.end());
  f.median = v[v.size() / 2];
  f.p95 = v[std::min(v.size() - 1, static_cast<size_t>(v.size() * 0.95))];
  f.max = v.back();
  return f;
}

void report(const TimedFrontend& frontend, const std::vector<std::string>& order) {
  std::vector<double> all;
  for (const std::string& label : order) {
    auto it = frontend.samples.find(label);
    if (it == frontend.samples.end()) continue;
    const Figures f = figures(it->second);
    std::printf("  %-14s n=%-5zu median %7.3f ms   p95 %7.3f ms   max %7.3f ms\n",
                label.c_str(), it->second.size(), f.median, f.p95, f.max);
    all.insert(all.end(), it->second.begin(), it->second.end());
  }
  const Figures f = figures(all);
  std::printf("  %-14s n=%-5zu median %7.3f ms   p95 %7.3f ms   max %7.3f ms\n", "all keys",
              all.size(), f.median, f.p95, f.max);
  // The goal per key; single slow keys on a loaded machine are preemption.
  constexpr double kGoalMs = 5.0;
  const auto slow = std::count_if(all.begin(), all.end(), [](double ms) { return ms >= kGoalMs; });
  std::printf("  keys at or over %.0f ms: %td of %zu\n", kGoalMs, slow, all.size());
}

TimedFrontend& useTimedConsole() {
  resetConsole();
  auto frontend = std::make_unique<TimedFrontend>();
  TimedFrontend& ref = *frontend;
  setConsoleFrontend(std::move(frontend));
  ensureConsole();
  return ref;
}

void benchFieldEditor(int rounds) {
  TimedFrontend& f = useTimedConsole();
  std::string text;
  for (int i = 0; i < 2000; ++i) text += static_cast<char>(i % 7 == 6 ? ' ' : 'a' + i % 26);
  // Keys over the whole field: moves at both ends (scrolling), word moves,
  // inserting and deleting near the start (the whole text shifts).
  f.keys.push_back({"", KeyId::Right});  // the first key: no proposed-text clearing
  for (int r = 0; r < rounds; ++r) {
    f.keys.push_back({"End", KeyId::End});
    f.keys.push_back({"Left", KeyId::Left});
    f.keys.push_back({"Ctrl+Left", KeyId::Left, platform::kModCtrl});
    f.keys.push_back({"Home", KeyId::Home});
    f.keys.push_back({"Right", KeyId::Right});
    f.keys.push_back({"Ctrl+Right", KeyId::Right, platform::kModCtrl});
    f.keys.push_back({"type", KeyId::Unknown, 0, "x"});
    f.keys.push_back({"Backspace", KeyId::Backspace});
    f.keys.push_back({"Shift+End", KeyId::End, platform::kModShift});
  }
  f.keys.push_back({"", KeyId::Enter});
  const uint8_t end = editField(text, 1, 5, true, 78, 2048);
  std::printf("field editor: maxLength 2048 holding %zu characters, 78 cells wide (ended with %d)\n",
              text.size(), end);
  report(f, {"Right", "Left", "Ctrl+Right", "Ctrl+Left", "End", "Home", "Shift+End", "type",
             "Backspace"});
}

void benchMarkedList(int rounds) {
  TimedFrontend& f = useTimedConsole();
  constexpr int kItems = 60000;
  const Clock::time_point start = Clock::now();
  openList(1, 3, 80, 23);
  for (int i = 1; i <= kItems; ++i) addListItem("R\xE1" "dio n\xFAmero " + std::to_string(i));
  const double openMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

  for (int r = 0; r < rounds; ++r) {
    f.keys.push_back({"Page Down", KeyId::PageDown});
    f.keys.push_back({"Down", KeyId::Down});
    f.keys.push_back({"Shift+Down", KeyId::Down, platform::kModShift});
    f.keys.push_back({"*", KeyId::Unknown, 0, "*"});
    f.keys.push_back({"/", KeyId::Unknown, 0, "/"});
    f.keys.push_back({"End", KeyId::End});
    f.keys.push_back({"Home", KeyId::Home});
    f.keys.push_back({"Shift+End", KeyId::End, platform::kModShift});
    f.keys.push_back({"Page Up", KeyId::PageUp});
  }
  f.keys.push_back({"", KeyId::Enter});
  const ListRunResult result = runList(1, true);
  std::printf("marked list: %d items, open and add %.1f ms (ended on item %d)\n", kItems, openMs,
              result.index);
  report(f, {"Page Down", "Page Up", "Down", "Shift+Down", "End", "Home", "Shift+End", "*", "/"});
  closeList();
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  // Silence: an audio driver that does not exist, so no device ever opens.
  setenv("SDL_AUDIODRIVER", "ondaria-silent", 1);
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  // An empty working directory: the speech layer's unstarted letter and sound
  // directories name it, and nothing there needs to be searched.
  char pattern[] = "/tmp/ondaria-bench-XXXXXX";
  if (!mkdtemp(pattern) || chdir(pattern) != 0) {
    std::perror("temporary directory");
    return 1;
  }
  setConsoleExitHandler([] {});
  std::printf("menus_bench: per-key handling time (key handed over -> program waits again),\n"
              "headless console; speech silenced (no audio device, no speech server, diphone\n"
              "speech not started)\n\n");
  benchFieldEditor(rounds);
  std::printf("\n");
  benchMarkedList(rounds);
  resetConsole();
  std::filesystem::remove_all(pattern);
  return 0;
}
