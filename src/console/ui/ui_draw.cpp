#include "console/ui/ui_draw.h"

#include <algorithm>

#include "console/core/console.h"

namespace ondaria {

void writeBytes(std::string_view bytes) {
  if (!bytes.empty()) writeText(bytes.data(), bytes.size());
}

std::string drawable(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    if (static_cast<uint8_t>(ch) < 32) ch = ' ';
  }
  return out;
}

std::string fitted(std::string_view text, int width) {
  const size_t cells = static_cast<size_t>(std::max(width, 0));
  std::string out = drawable(text.substr(0, std::min(text.size(), cells)));
  out.resize(cells, ' ');
  return out;
}

void applyAttribute(uint8_t attr) {
  setTextColor(attr & 0x0F);
  setTextBackground(attr >> 4);
}

uint8_t upperAscii(uint8_t c) {
  return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 'a' + 'A') : c;
}

std::string trimmedText(std::string_view text) {
  size_t a = 0, b = text.size();
  while (a < b && static_cast<unsigned char>(text[a]) <= ' ') ++a;
  while (b > a && static_cast<unsigned char>(text[b - 1]) <= ' ') --b;
  return std::string(text.substr(a, b - a));
}

void clearFromLine(int row) {
  for (int y = row; y <= kConsoleRows; ++y) {
    gotoXY(1, y);
    clearToEndOfLine();
  }
  gotoXY(1, row);
}

}  // namespace ondaria
