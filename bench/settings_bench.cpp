// Station list speed through the INI layer: a file of 20 000 stations in 200
// categories (about 1 MB), and the same number of stations in one category.
// Prints the median of several runs of: the first listing after the file
// changed (read and parse), listing one category and reading every station's
// address one by one, the same through readProfileSection, and writing one
// station (whole-file atomic replacement with fsync).
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/core/settings.h"

using namespace ondaria;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 9;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string stationList(int categories, int perCategory) {
  std::string bytes;
  for (int c = 0; c < categories; ++c) {
    bytes += "[Categoria " + std::to_string(c) + "]\r\n";
    for (int s = 0; s < perCategory; ++s)
      bytes += "R\xE1" "dio n\xFAmero " + std::to_string(c * perCategory + s) +
               "=http://stream.exemplo.com.br:8000/radio/" + std::to_string(s) + ".mp3\r\n";
  }
  return bytes;
}

void measure(const char* title, const fs::path& file, int categories, int perCategory,
             const std::string& category) {
  const std::string bytes = stationList(categories, perCategory);
  std::vector<double> parse, listAndRead, bulk, write;
  size_t stations = 0;
  for (int run = 0; run < kRuns; ++run) {
    {
      std::ofstream out(file, std::ios::binary | std::ios::trunc);
      out << bytes;
    }
    resetSettingsState();
    auto start = Clock::now();
    const auto sections = profileSectionNames(file.string());
    parse.push_back(msSince(start));
    if (sections.size() != static_cast<size_t>(categories)) std::abort();

    start = Clock::now();
    const auto keys = profileKeyNames(category, file.string());
    size_t found = 0;
    for (const std::string& key : keys)
      if (!readProfileString(category, key, "", file.string()).empty()) ++found;
    listAndRead.push_back(msSince(start));
    if (found != keys.size() || keys.empty()) std::abort();
    stations = keys.size();

    start = Clock::now();
    const auto entries = readProfileSection(category, file.string());
    bulk.push_back(msSince(start));
    if (entries.size() != keys.size()) std::abort();

    start = Clock::now();
    if (!writeProfileString(category, keys.front(), "http://novo/", file.string())) std::abort();
    write.push_back(msSince(start));
  }
  std::printf("%s (%zu bytes)\n", title, bytes.size());
  std::printf("  first listing after a change (read + parse): %8.2f ms\n", median(parse));
  std::printf("  list one category + read its %5zu stations: %8.2f ms\n", stations,
              median(listAndRead));
  std::printf("  the same in one call (readProfileSection):    %8.2f ms\n", median(bulk));
  std::printf("  write one station (atomic, fsync):           %8.2f ms\n", median(write));
}

}  // namespace

int main() {
  char pattern[] = "/tmp/ondaria-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const fs::path dir = pattern;
  measure("20 000 stations in 200 categories", dir / "ondaria.ini", 200, 100, "Categoria 150");
  // Listing is limited to 128000 characters, so a single huge category shows
  // only the stations that fit; the timing covers those.
  measure("20 000 stations in one category", dir / "one.ini", 1, 20000, "Categoria 0");
  fs::remove_all(dir);
  return 0;
}
