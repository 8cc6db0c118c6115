// Station list figures on a list of 20 000 stations in 200 categories (one of
// them holding 1 000 stations, every 40th station an "Especial": 500):
//   - opening the category choice: section names read, the menu drawn, ESC;
//   - opening the browse of the 1 000-station category: keys read, sorted, the
//     list drawn, ESC;
//   - a search that matches 500 stations: from Enter on the query until the
//     result list waits for a key (file read, every name folded and compared,
//     the list drawn).
// Each is measured once with the INI cache cold (the first read of the file)
// and then `rounds` times warm. The console uses the headless front-end and
// speech is silenced (no audio device, no speech server, diphone speech not
// started), so what is timed is the program's own work. Goal: under 50 ms.
//
//   bench_stations_bench [rounds]      (default 50)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/search.h"
#include "app/station_list.h"
#include "console/core/console.h"
#include "console/core/ini_file.h"
#include "platform/frontend.h"
#include "speech/speech.h"

using namespace ondaria;
using platform::KeyId;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kStations = 20000;
constexpr int kCategories = 200;
constexpr int kBigCategory = 1000;
constexpr int kSpecialEvery = 40;
constexpr double kGoalMs = 50.0;

// Records the moment of every key wait and hands over the next scripted step.
class WaitClock : public platform::HeadlessFrontend {
 public:
  using Step = std::function<void(WaitClock&)>;
  WaitClock() : HeadlessFrontend(-1) {}

  void keyWait(bool waiting, int col, int row) override {
    HeadlessFrontend::keyWait(waiting, col, row);
    if (!waiting) return;
    waits.push_back(Clock::now());
    if (steps.empty()) return;
    Step step = std::move(steps.front());
    steps.pop_front();
    step(*this);
  }

  std::deque<Step> steps;
  std::vector<Clock::time_point> waits;
};

WaitClock::Step press(KeyId key) {
  return [key](WaitClock& f) { f.pressKey(key); };
}

std::string padded(int n, int width) {
  std::string s = std::to_string(n);
  return std::string(static_cast<size_t>(std::max(0, width - static_cast<int>(s.size()))), '0') + s;
}

std::string largeList() {
  const int perCategory = (kStations - kBigCategory) / (kCategories - 1);
  std::string bytes;
  int station = 1;
  for (int c = 1; c <= kCategories; ++c) {
    bytes += "[Categoria " + padded(c, 3) + "]\r\n";
    const int size = c == 1 ? kBigCategory : c == kCategories ? kStations - station + 1 : perCategory;
    for (int i = 0; i < size; ++i, ++station) {
      // Names in reverse order, so that the browse really sorts.
      bytes += "R\xE1" "dio A\xE7\xE3o " + padded(kStations + 1 - station, 5);
      if (station % kSpecialEvery == 0) bytes += " Especial";
      bytes += "=http://estacao.exemplo/" + std::to_string(station) + "\r\n";
    }
  }
  return bytes;
}

WaitClock& useClockConsole() {
  resetConsole();
  auto frontend = std::make_unique<WaitClock>();
  WaitClock& ref = *frontend;
  setConsoleFrontend(std::move(frontend));
  setConsoleExitHandler([] {});
  ensureConsole();
  return ref;
}

double msBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// The choice and the browse are timed from the call until they return, with
// ESC already waiting: it cuts the spoken prompts at once (a prompt's full
// stop alone is a pause of a quarter of a second, which is speech, not work),
// so the figure is reading, sorting and drawing, then closing again.
double timeOpenChoice() {
  useClockConsole();
  pushKey(27);
  const Clock::time_point start = Clock::now();
  const std::string chosen = chooseCategory();
  const Clock::time_point end = Clock::now();
  return chosen.empty() ? msBetween(start, end) : -1;
}

double timeOpenBrowse() {
  useClockConsole();
  // The second ESC cuts "Fim do Folheamento." the same way.
  pushKey(27);
  pushKey(27);
  const Clock::time_point start = Clock::now();
  browseCategory("Categoria 001");
  const Clock::time_point end = Clock::now();
  flushKeys();
  return msBetween(start, end);
}

// The search is timed from Enter on the query until the result list waits
// for a key (no prompt is spoken in between).
double timeSearch() {
  WaitClock& f = useClockConsole();
  Clock::time_point enter;
  // The query, then ESC in the result list, then an empty query to leave.
  f.steps.push_back([&enter](WaitClock& c) {
    c.typeText("especial");
    c.pressKey(KeyId::Enter);
    enter = Clock::now();
  });
  f.steps.push_back(press(KeyId::Escape));
  f.steps.push_back(press(KeyId::Enter));
  searchByName();
  return f.waits.size() < 2 ? -1 : msBetween(enter, f.waits[1]);
}

void report(const char* label, double cold, std::vector<double> warm) {
  std::sort(warm.begin(), warm.end());
  const double median = warm.empty() ? -1 : warm[warm.size() / 2];
  const double max = warm.empty() ? -1 : warm.back();
  std::printf("  %-40s cold %7.2f ms   warm median %7.2f ms   max %7.2f ms   %s\n", label, cold,
              median, max, std::max(cold, median) < kGoalMs ? "under 50 ms" : "OVER 50 ms");
}

void measure(const char* label, double (*operation)(), int rounds) {
  ini::clearIniCache();
  const double cold = operation();
  std::vector<double> warm;
  for (int i = 0; i < rounds; ++i) warm.push_back(operation());
  report(label, cold, warm);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  setenv("SDL_AUDIODRIVER", "ondaria-silent", 1);
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  char pattern[] = "/tmp/ondaria-stations-bench-XXXXXX";
  if (!mkdtemp(pattern) || chdir(pattern) != 0) {
    std::perror("temporary directory");
    return 1;
  }
  // Settings of our own, so that nothing of the user's is read.
  setenv("XDG_CONFIG_HOME", pattern, 1);
  setenv("LUMARE_SYSTEM_DIR", pattern, 1);
  const std::string listPath = std::string(pattern) + "/ondaria.ini";
  {
    std::ofstream out(listPath, std::ios::binary);
    out << largeList();
  }
  appState().stationListPath = listPath;

  std::printf("stations_bench: %d stations in %d categories (%.1f MB), %d warm rounds;\n"
              "headless console, speech silenced\n\n",
              kStations, kCategories, std::filesystem::file_size(listPath) / 1e6, rounds);
  measure("open the category choice (200)", timeOpenChoice, rounds);
  measure("open the browse of 1000 stations", timeOpenBrowse, rounds);
  std::printf("  (the search query matches %zu stations)\n",
              findStations(readStationListLines(), foldForSearch("especial")).size());
  measure("search matching 500 stations", timeSearch, rounds);

  resetConsole();
  std::filesystem::remove_all(pattern);
  return 0;
}
