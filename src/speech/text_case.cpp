#include "speech/text_case.h"

#include <array>

namespace ondaria {

namespace {

// Fold table for bytes 128..255. 254 marks a byte that is no letter; 145 (the
// DOS code page's "ae" ligature) is kept for the ligatures of both pages.
constexpr std::array<uint8_t, 128> kFold = [] {
  std::array<uint8_t, 128> t{};
  for (auto& v : t) v = 254;
  auto set = [&t](std::initializer_list<int> bytes, uint8_t to) {
    for (int b : bytes) t[b - 128] = to;
  };
  auto range = [&t](int from, int to, uint8_t value) {
    for (int b = from; b <= to; ++b) t[b - 128] = value;
  };
  set({128, 135, 199, 231}, 'C');
  set({129, 150, 151, 154, 163}, 'U');
  range(217, 220, 'U');
  range(249, 252, 'U');
  set({130, 144}, 'E');
  range(136, 138, 'E');
  range(200, 203, 'E');
  range(232, 235, 'E');
  range(131, 134, 'A');
  set({142, 143, 160}, 'A');
  range(192, 197, 'A');
  range(224, 229, 'A');
  range(139, 141, 'I');
  set({161}, 'I');
  range(204, 207, 'I');
  range(236, 239, 'I');
  range(147, 149, 'O');
  set({153, 162}, 'O');
  range(210, 214, 'O');
  range(242, 246, 'O');
  set({152, 221, 253}, 'Y');
  set({164, 165, 209, 241}, 'N');
  set({215, 247}, 'X');
  set({198, 230}, 145);
  return t;
}();

}  // namespace

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

std::string upperWithAccents(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    auto c = static_cast<uint8_t>(ch);
    if ((c >= 'a' && c <= 'z') || c > 223) ch = static_cast<char>(c - 32);
  }
  return out;
}

}  // namespace ondaria
