// Windows-1252 <-> UTF-8 conversion.
//
// All text inside the program is Windows-1252 bytes in std::string. This module
// is the only place that converts: front-ends (window, terminal), the clipboard,
// speech engines that take UTF-8, stream metadata and file names call it at the
// edge of the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Unicode code point of a cp1252 byte. The five bytes that cp1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the same
// value, so that every byte round-trips.
char32_t cp1252ToCodePoint(uint8_t byte);

// cp1252 byte for a code point; returns false when cp1252 has no such character.
bool codePointToCp1252(char32_t cp, uint8_t& byte);

// Every byte becomes its UTF-8 form; never fails.
std::string cp1252ToUtf8(std::string_view text);

// UTF-8 to cp1252. Characters cp1252 cannot hold become `replacement`
// (0 = drop them). Malformed UTF-8 sequences are taken byte for byte, as if the
// text were already cp1252, so nothing is lost and nothing reads past the end.
std::string utf8ToCp1252(std::string_view text, char replacement = '?');

// True when the whole text is well-formed UTF-8 (ASCII-only text counts).
bool isValidUtf8(std::string_view text);

// Decodes one UTF-8 character at text[pos]; on success sets cp and advances
// pos. On a malformed sequence returns false and leaves pos unchanged.
bool decodeUtf8(std::string_view text, size_t& pos, char32_t& cp);

// Appends the UTF-8 form of a code point.
void appendUtf8(std::string& out, char32_t cp);

}  // namespace platform
