// Letters, classes and case of the built-in voice's texts.
//
// Every text of the engine is Windows-1252. The letters are A-Z, a-z and the
// accented letters of Portuguese (ÀÁÂÃÇÉÊÌÍÑÓÔÕÙÚÜ and their lower-case
// forms); the classes below are the ones the rules file and the stress finder
// speak of.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria::koral {

inline constexpr std::string_view kAccentedUpper = "\xC0\xC1\xC2\xC3\xC7\xC9\xCA\xCC\xCD\xD1\xD3\xD4\xD5\xD9\xDA\xDC";

// Windows-1252 upper case: a-z and the accented letters 224..254 (but the
// division sign 247).
inline uint8_t upperByte(uint8_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 32);
  if (c >= 224 && c != 247 && c != 255) return static_cast<uint8_t>(c - 32);
  return c;
}
inline uint8_t lowerByte(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c + 32);
  if (c >= 192 && c <= 222 && c != 215) return static_cast<uint8_t>(c + 32);
  return c;
}
inline std::string upperText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(upperByte(static_cast<uint8_t>(c)));
  return out;
}
inline std::string lowerText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(lowerByte(static_cast<uint8_t>(c)));
  return out;
}

// A letter of the engine: A-Z, a-z and the accented letters above, both cases.
inline bool isLetter(uint8_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  if (c < 192) return false;
  return kAccentedUpper.find(static_cast<char>(upperByte(c))) != std::string_view::npos;
}

// Vowel letters (both cases): A E I O U and À Á Â Ã É Ê Ì Í Ó Ô Õ Ù Ú Ü.
inline bool isVowel(uint8_t c) {
  static constexpr std::string_view vowels = "AEIOU\xC0\xC1\xC2\xC3\xC9\xCA\xCC\xCD\xD3\xD4\xD5\xD9\xDA\xDC";
  uint8_t u = upperByte(c);
  return u != 0 && vowels.find(static_cast<char>(u)) != std::string_view::npos;
}

// Consonant letters: B-Z but the vowels, and Ç Ñ (both cases).
inline bool isConsonant(uint8_t c) { return isLetter(c) && !isVowel(c); }

// Milliseconds of the steady clock (for the engine's time limits).
long long steadyMs();

// Blanks, tabs and line-end characters removed from both ends.
std::string trimText(std::string_view s);

// The lines of a file, each without its line end (LF or CR LF); false when the
// file cannot be opened. A read error past the start ends the list there.
bool readLines(const std::string& fileName, std::vector<std::string>& lines);

}  // namespace ondaria::koral
