// Upper-case conversions of Windows-1252 text.
//
// foldUpper folds the accented letters of both the Windows-1252 (192..255) and
// the old DOS code page (128..165) to plain capitals, for comparisons that must
// ignore case and accents (searching, sorting, matching answers). Bytes that
// stand for no letter become 254.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondaria {

// "a".."z" to "A".."Z"; bytes 128..255 through the fold table; others unchanged.
std::string foldUpper(std::string_view text);
uint8_t foldUpperChar(uint8_t c);

// "a".."z" to "A".."Z" and every byte above 223 minus 32 (the accented small
// letters of Windows-1252 to their capitals); others unchanged.
std::string upperWithAccents(std::string_view text);

}  // namespace ondaria
