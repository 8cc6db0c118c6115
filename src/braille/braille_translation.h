// Portuguese braille for the display and for chord typing: the translator that
// turns a screen row into braille text, the cell table that turns braille text
// into dot patterns, and the chord tables that turn six dots into a character.
//
// Braille text is 8-bit Windows-1252 text in which every character stands for
// one cell ("{" is the capital sign, "#" the number sign, and so on).
// Dot patterns: one byte per cell, bit k-1 set when dot k is raised
// (dot 1 = 1, dot 2 = 2, dot 3 = 4, dot 4 = 8, dot 5 = 16, dot 6 = 32,
// dot 7 = 64, dot 8 = 128).
//
// Everything here is a pure function of its arguments, except that the
// translator remembers whether a text bracket "(" is open from one row to the
// next (see BrailleTranslator).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

// Dot pattern of one character of braille text. Characters that the cell
// table has no pattern for (the dagger, "‰", "Œ", "™", "§", "ß", ... and the
// unused codes 143, 144, 157, 173) show a full eight-dot cell, so that the
// reader feels that a character stands there that braille cannot show; the
// rest of the row is unaffected.
uint8_t brailleCellDots(uint8_t character);
inline constexpr uint8_t kUnknownCellDots = 0xFF;

// Dot patterns of a braille text, one per character.
std::vector<uint8_t> brailleTextToDots(std::string_view brailleText);

// Character typed by six dots (bits 0-5 as above; higher bits are ignored).
// The keyboard's chord typing gives "'" for dot 3 and "û" for dots 1-5-6; the
// display's keys give "." and "@" there. Every other pattern is the same.
uint8_t keyboardChordCharacter(uint8_t dots);
uint8_t displayChordCharacter(uint8_t dots);

// The translator: text of a screen row in, braille text out, scanned left to
// right with the rules for capitals, numbers, ordinals, brackets, fractions and
// math signs of Portuguese braille. Whether a text bracket is open carries over
// from one call to the next (a "(" on one row and its ")" on another).
class BrailleTranslator {
 public:
  std::string translate(std::string_view text);
  bool textBracketOpen() const { return textBracketOpen_; }
  void reset() { textBracketOpen_ = false; }

 private:
  bool textBracketOpen_ = false;
};

// The program's one translator (main thread).
std::string translateToBraille(std::string_view text);

}  // namespace ondaria
