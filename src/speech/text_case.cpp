#include "speech/text_case.h"

#include <array>

#include "platform/codepage.h"

namespace ondaria {

namespace {

// Fold table for bytes 128..255. 254 marks a byte that is no letter; 145
// stands for the "ae" ligature (its place in the old DOS code page, which no
// letter of Windows-1252 folds to).
constexpr std::array<uint8_t, 128> kFold = [] {
  std::array<uint8_t, 128> t{};
  for (auto& v : t) v = 254;
  auto set = [&t](std::initializer_list<int> bytes, uint8_t to) {
    for (int b : bytes) t[b - 128] = to;
  };
  auto range = [&t](int from, int to, uint8_t value) {
    for (int b = from; b <= to; ++b) t[b - 128] = value;
  };
  // The letters among the punctuation of 128..159.
  set({0x83}, 'F');
  set({0x8A, 0x9A}, 'S');
  set({0x8C, 0x9C}, 'O');
  set({0x8E, 0x9E}, 'Z');
  set({0x9F}, 'Y');
  set({199, 231}, 'C');
  range(217, 220, 'U');
  range(249, 252, 'U');
  range(200, 203, 'E');
  range(232, 235, 'E');
  range(192, 197, 'A');
  range(224, 229, 'A');
  range(204, 207, 'I');
  range(236, 239, 'I');
  range(210, 214, 'O');
  range(242, 246, 'O');
  set({221, 253, 255}, 'Y');
  set({209, 241}, 'N');
  set({215, 247}, 'X');
  set({198, 230}, 145);
  return t;
}();

}  // namespace

bool isCp1252Letter(uint8_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  switch (c) {
    case 0x83: case 0x8A: case 0x8C: case 0x8E: case 0x9A: case 0x9C: case 0x9E: case 0x9F:
      return true;
    default:
      return c >= 192 && c != 215 && c != 247;
  }
}

uint8_t foldUpperChar(uint8_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 32);
  if (c >= 128) return kFold[c - 128];
  return c;
}

std::string foldUpper(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = static_cast<char>(foldUpperChar(static_cast<uint8_t>(ch)));
  return out;
}

uint8_t upperWithAccentsChar(uint8_t c) { return platform::cp1252Upper(c); }

std::string upperWithAccents(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = static_cast<char>(upperWithAccentsChar(static_cast<uint8_t>(ch)));
  return out;
}

}  // namespace ondaria
