// Station directory figures:
//   - reading an answer of 10 000 stations (about 12 MB of JSON with every
//     field the directory sends): time and the memory it takes at its peak,
//     goals 50 ms and 20 MB;
//   - from Enter on the search (main option N) until the first station found
//     is handed to speech, against a local TLS stand-in of the directory
//     (mirror list and search on 127.0.0.1): goal 300 ms. The first round also
//     fetches the mirror list; later rounds ask the mirror that answered.
// The console is the headless one and speech is silenced, so what is timed is
// the program's own work: connecting, TLS, the transfer, reading, drawing.
//
//   bench_directory_bench [rounds]      (default 20)
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/directory_client.h"
#include "app/directory_menu.h"
#include "app/directory_stations.h"
#include "console/core/console.h"
#include "net/sockets.h"
#include "platform/frontend.h"
#include "platform/speech_log.h"
#include "support/local_server.h"

using namespace ondaria;
using platform::KeyId;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kStations = 10000;
constexpr double kParseGoalMs = 50.0;
constexpr double kParseGoalMb = 20.0;
constexpr double kSearchGoalMs = 300.0;
// Stations in the search answer of the second figure (the search's limit).
constexpr int kSearchStations = kDirectorySearchLimit;

// One station as the directory sends it, every field included.
std::string stationJson(int i, std::mt19937& random) {
  char uuid[40];
  std::snprintf(uuid, sizeof uuid, "%08x-aaaa-bbbb-cccc-%012d", i, i);
  const std::string n = std::to_string(i);
  return std::string("{\"changeuuid\":\"") + uuid + "\",\"stationuuid\":\"" + uuid +
         "\",\"serveruuid\":null,\"name\":\"R\xC3\xA1" "dio Exemplo " + n +
         " FM S\xC3\xA3o Paulo\",\"url\":\"http://stream" + n +
         ".exemplo.com.br:8000/live\",\"url_resolved\":\"http://stream" + n +
         ".exemplo.com.br:8000/live.mp3\",\"homepage\":\"https://www.radio" + n +
         ".com.br/\",\"favicon\":\"https://www.radio" + n +
         ".com.br/favicon.png\",\"tags\":\"sertanejo,mpb,pop,not\xC3\xAD" "cias\",\"country\":\"Brazil\","
         "\"countrycode\":\"BR\",\"iso_3166_2\":\"BR-SP\",\"state\":\"S\xC3\xA3o Paulo\","
         "\"language\":\"portuguese,brazilian portuguese\",\"languagecodes\":\"pt\",\"votes\":" +
         std::to_string(random() % 5000) +
         ",\"lastchangetime\":\"2024-01-01 10:00:00\",\"lastchangetime_iso8601\":"
         "\"2024-01-01T10:00:00Z\",\"codec\":\"MP3\",\"bitrate\":128,\"hls\":0,\"lastcheckok\":1,"
         "\"lastchecktime\":\"2024-05-01 10:00:00\",\"lastchecktime_iso8601\":\"2024-05-01T10:00:00Z\","
         "\"lastcheckoktime\":\"2024-05-01 10:00:00\",\"lastcheckoktime_iso8601\":"
         "\"2024-05-01T10:00:00Z\",\"lastlocalchecktime\":\"2024-05-01 10:00:00\","
         "\"lastlocalchecktime_iso8601\":\"2024-05-01T10:00:00Z\",\"clicktimestamp\":"
         "\"2024-05-01 09:00:00\",\"clicktimestamp_iso8601\":\"2024-05-01T09:00:00Z\","
         "\"clickcount\":" +
         std::to_string(random() % 900) + ",\"clicktrend\":2,\"ssl_error\":0,\"geo_lat\":-23.55,"
         "\"geo_long\":-46.63,\"has_extended_info\":false}";
}

// Written a station at a time, so that making it costs no memory to speak of.
void writeAnswer(const std::string& path, int count) {
  std::mt19937 random(1);
  std::ofstream out(path, std::ios::binary);
  out << '[';
  for (int i = 0; i < count; ++i) out << (i ? "," : "") << stationJson(i, random);
  out << ']';
}

std::string answerText(int count) {
  std::mt19937 random(1);
  std::string text = "[";
  for (int i = 0; i < count; ++i) text += (i ? "," : "") + stationJson(i, random);
  return text + "]";
}

double cpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

long peakKb() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_maxrss;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

void measureParse(const std::string& folder, int rounds) {
  const std::string path = folder + "/answer.json";
  writeAnswer(path, kStations);
  // The peak of the whole process before the first reading, and after it:
  // the difference is what reading the answer took at its peak.
  const long before = peakKb();
  std::vector<double> wall, cpu;
  size_t kept = 0;
  for (int i = 0; i < rounds; ++i) {
    const Clock::time_point t0 = Clock::now();
    const double c0 = cpuMs();
    const DirectoryStations r = parseDirectoryStationsFile(path);
    cpu.push_back(cpuMs() - c0);
    wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    kept = r.ok ? r.stations.size() : 0;
  }
  const double peakMb = (peakKb() - before) / 1024.0;
  std::printf("reading an answer of %d stations (%.1f MB of JSON), %zu kept, %d rounds:\n", kStations,
              std::filesystem::file_size(path) / 1e6, kept, rounds);
  std::printf("  time         median %7.1f ms wall, %7.1f ms CPU, first %7.1f ms   %s\n", median(wall),
              median(cpu), wall.front(), median(cpu) < kParseGoalMs ? "under 50 ms" : "OVER 50 ms");
  std::printf("  memory peak  %7.1f MB above the process before reading          %s\n", peakMb,
              peakMb < kParseGoalMb ? "under 20 MB" : "OVER 20 MB");
}

// Hands over the next scripted step at each key wait.
class ScriptedConsole : public platform::HeadlessFrontend {
 public:
  using Step = std::function<void(ScriptedConsole&)>;
  ScriptedConsole() : HeadlessFrontend(-1) {}
  void keyWait(bool waiting, int col, int row) override {
    HeadlessFrontend::keyWait(waiting, col, row);
    if (!waiting || steps.empty()) return;
    Step step = std::move(steps.front());
    steps.pop_front();
    step(*this);
  }
  std::deque<Step> steps;
};

std::string json200(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

void measureSearch(const std::string& folder, int rounds) {
  test::TestCertificates certs;
  if (!certs.ok()) {
    std::fprintf(stderr, "the test certificates could not be made (openssl)\n");
    return;
  }
  setenv("SSL_CERT_FILE", certs.caFile().c_str(), 1);
  const std::string answer = json200(answerText(kSearchStations));
  test::LocalServer mirror(
      [&](test::ServerConnection& c) {
        c.readRequest();
        c.send(answer);
      },
      &certs.good());
  test::LocalServer base(
      [&](test::ServerConnection& c) {
        c.readRequest();
        c.send(json200("[{\"name\":\"localhost:" + std::to_string(mirror.port()) + "\"}]"));
      },
      &certs.good());
  {
    std::ofstream settings(folder + "/lumare/Lumare.ini", std::ios::binary);
    settings << "[ONDARIA]\r\nDIRETORIO=https://localhost:" << base.port() << "\r\n";
  }
  netStartup();
  std::vector<double> times;
  for (int i = 0; i < rounds + 1; ++i) {
    resetConsole();
    auto frontend = std::make_unique<ScriptedConsole>();
    ScriptedConsole& f = *frontend;
    setConsoleFrontend(std::move(frontend));
    setConsoleExitHandler([] {});
    ensureConsole();
    Clock::time_point enter, spoken;
    platform::setSpeechObserver([&](platform::SpeechEvent kind, const std::string& text) {
      if (kind == platform::SpeechEvent::Text && spoken == Clock::time_point{} &&
          text.find("Exemplo") != std::string::npos)
        spoken = Clock::now();
    });
    // Enter on an empty name (the most voted), then ESC in the list and at
    // the question.
    f.steps.push_back([&](ScriptedConsole& c) {
      c.pressKey(KeyId::Enter);
      enter = Clock::now();
    });
    f.steps.push_back([](ScriptedConsole& c) { c.pressKey(KeyId::Escape); });
    f.steps.push_back([](ScriptedConsole& c) { c.pressKey(KeyId::Escape); });
    searchDirectory();
    platform::setSpeechObserver(nullptr);
    if (spoken == Clock::time_point{}) {
      std::fprintf(stderr, "the first station was not spoken\n");
      return;
    }
    times.push_back(std::chrono::duration<double, std::milli>(spoken - enter).count());
  }
  const double cold = times.front();
  times.erase(times.begin());
  std::printf("\nEnter on the search to the first of %d stations spoken, local TLS stand-in, %d rounds:\n",
              kSearchStations, rounds);
  std::printf("  first (with the mirror list) %7.1f ms   then median %7.1f ms, max %7.1f ms   %s\n",
              cold, median(times), *std::max_element(times.begin(), times.end()),
              std::max(cold, median(times)) < kSearchGoalMs ? "under 300 ms" : "OVER 300 ms");
  netCleanup();
  resetConsole();
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  setenv("SDL_AUDIODRIVER", "ondaria-silent", 1);
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  char pattern[] = "/tmp/ondaria-directory-bench-XXXXXX";
  if (!mkdtemp(pattern) || chdir(pattern) != 0) {
    std::perror("temporary directory");
    return 1;
  }
  std::filesystem::create_directories(std::string(pattern) + "/lumare");
  setenv("XDG_CONFIG_HOME", pattern, 1);
  setenv("LUMARE_SYSTEM_DIR", pattern, 1);
  setenv("TMPDIR", pattern, 1);

  measureParse(pattern, rounds);
  measureSearch(pattern, rounds);
  std::filesystem::remove_all(pattern);
  return 0;
}
