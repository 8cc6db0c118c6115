#include "tts/koral_text.h"

#include <sys/stat.h>

#include <chrono>
#include <fstream>

namespace ondaria::koral {

long long steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string trimText(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

bool readLines(const std::string& fileName, std::vector<std::string>& lines) {
  // A directory opens like a file here but holds no lines: not a file at all.
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  lines.clear();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return true;
}

}  // namespace ondaria::koral
