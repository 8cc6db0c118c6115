// Letters and upper case of Windows-1252 text.
//
// Text in this program is Windows-1252: the bytes 128..159 are punctuation and
// symbols (the euro sign, quotation marks, dashes, the ellipsis, the bullet,
// the trade mark) together with seven letters (S, Z and Y with their marks,
// the OE ligature); 160..191 are symbols (ordinals, fractions, superscripts,
// currency signs); 192..255 are letters, except the multiplication and
// division signs.
//
// foldUpper folds the letters to plain capitals, for comparisons that must
// ignore case and accents (searching, sorting, matching answers). Bytes that
// stand for no letter become 254.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondaria {

// True for a letter of Windows-1252: A-Z, a-z, the seven letters among
// 128..159, and 192..255 except the multiplication (215) and division (247)
// signs.
bool isCp1252Letter(uint8_t c);

// "a".."z" to "A".."Z"; bytes 128..255 through the fold table; others unchanged.
std::string foldUpper(std::string_view text);
uint8_t foldUpperChar(uint8_t c);

// Upper case keeping accents: "a".."z", the small accented letters 224..254
// (not the division sign) and the small letters of 128..159 and 255 to their
// capitals; every other byte unchanged.
std::string upperWithAccents(std::string_view text);
uint8_t upperWithAccentsChar(uint8_t c);

}  // namespace ondaria
