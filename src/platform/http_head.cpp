#include "platform/http_head.h"

#include <cctype>

namespace platform {

namespace {

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && equalNoCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace

bool parseResponseHead(std::string_view head, std::vector<std::string>& lines, int& status,
                       bool& icy) {
  lines.clear();
  status = 0;
  icy = false;
  size_t pos = 0;
  while (pos <= head.size()) {
    const size_t nl = head.find('\n', pos);
    std::string_view line = head.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.emplace_back(line);
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  if (lines.empty()) return false;
  const std::string& statusLine = lines[0];
  icy = startsWithNoCase(statusLine, "icy ");
  if (!icy && !startsWithNoCase(statusLine, "http/")) return false;
  const size_t blank = statusLine.find(' ');
  if (blank != std::string::npos) {
    // At most three digits: a status code, never a number that overflows.
    size_t i = blank + 1;
    while (i < statusLine.size() && statusLine[i] == ' ') ++i;
    int value = 0, digits = 0;
    while (i < statusLine.size() && digits < 3 && std::isdigit(static_cast<unsigned char>(statusLine[i]))) {
      value = value * 10 + (statusLine[i++] - '0');
      ++digits;
    }
    status = value;
  }
  return true;
}

std::string headerValue(const std::vector<std::string>& lines, std::string_view name) {
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const size_t colon = line.find(':');
    if (colon == std::string::npos || !equalNoCase(std::string_view(line).substr(0, colon), name))
      continue;
    const size_t v = line.find_first_not_of(" \t", colon + 1);
    return v == std::string::npos ? std::string() : line.substr(v);
  }
  return {};
}

}  // namespace platform
