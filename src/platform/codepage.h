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

// Upper case of one cp1252 byte: ASCII letters, the small accented letters
// 0xE0..0xFE (not the division sign 0xF7) and the four small letters that
// cp1252 keeps among 0x80..0x9F (s and z with caron, oe, y with diaeresis).
// Every other byte is its own upper case.
uint8_t cp1252Upper(uint8_t c);

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

// The encoding of a text file written by an editor or another program. A file
// the program creates is Windows-1252, as files made on the system's home
// platform are; Linux editors write UTF-8, some with a byte-order mark.
enum class TextEncoding : uint8_t {
  Cp1252,   // also every file that holds only ASCII
  Utf8,     // valid UTF-8 holding at least one non-ASCII character
  Utf8Bom,  // begins with the byte-order mark EF BB BF (the rest taken as UTF-8)
};

// The byte-order mark of UTF-8.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Decides how a file's bytes are to be read: a leading byte-order mark means
// UTF-8; otherwise a file that is valid UTF-8 and holds non-ASCII sequences is
// UTF-8; anything else is Windows-1252.
TextEncoding detectTextEncoding(std::string_view bytes);

// Bytes at the start of a file in this encoding that are no text (the mark).
size_t textPreambleLength(std::string_view bytes, TextEncoding encoding);

// The file's text as program text (cp1252), the byte-order mark left out.
// Characters cp1252 cannot hold become "?"; malformed UTF-8 bytes are taken as
// cp1252 bytes, so nothing is dropped.
std::string decodeFileText(std::string_view bytes, TextEncoding encoding);

// Program text in the file's encoding, without a byte-order mark (the caller
// keeps the one the file had).
std::string encodeFileText(std::string_view cp1252, TextEncoding encoding);

}  // namespace platform
