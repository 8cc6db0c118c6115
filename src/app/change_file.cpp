#include "app/change_file.h"

#include "platform/codepage.h"

namespace ondaria {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trimBlanks(std::string_view text) {
  size_t b = 0;
  size_t e = text.size();
  while (b < e && isBlank(text[b])) ++b;
  while (e > b && isBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

}  // namespace

std::vector<ChangeFileLine> readChangeFileLines(std::string_view bytes) {
  const std::string text =
      platform::decodeFileText(bytes, platform::detectTextEncoding(bytes));
  std::vector<ChangeFileLine> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = std::string_view(text).substr(pos, end - pos);
    pos = end;
    if (pos < text.size() && text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n')
      pos += 2;
    else if (pos < text.size())
      ++pos;
    if (line.empty() || line[0] == ';' || line[0] == '*') continue;
    lines.push_back({line[0] == '[' ? ChangeFileLine::Kind::Section : ChangeFileLine::Kind::Change,
                     std::string(line)});
  }
  return lines;
}

std::string changeSectionName(const std::string& line) {
  const size_t close = line.rfind(']');
  const size_t end = close == std::string::npos || close == 0 ? line.size() : close;
  return trimBlanks(std::string_view(line).substr(1, end - 1));
}

std::string reportableLine(std::string_view line, size_t limit) {
  std::string out;
  const size_t shown = line.size() > limit ? limit : line.size();
  out.reserve(shown + 3);
  for (size_t i = 0; i < shown; ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    out += (c < 32 || c == 127) ? ' ' : static_cast<char>(c);
  }
  if (line.size() > limit) out += "...";
  return out;
}

}  // namespace ondaria
