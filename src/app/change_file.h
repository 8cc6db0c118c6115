// Reading a change file ("ATU" file): the lines of main option A's change-file
// update, taken out of the file's bytes without touching the station list.
//
// A change file is text in Windows-1252 or UTF-8 (with or without a
// byte-order mark; platform/codepage.h decides which); lines end in CR LF, LF
// or a lone CR. Empty lines and comments (first character ";" or "*") are
// left out; a line beginning with "[" names the section of the lines after
// it; any other line is a change "key=value" of the current section, or an
// invalid line when it has no "=".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

// The largest change file read: far beyond any list of stations, and small
// enough that a wrong file (a film, a disk image) cannot exhaust memory.
inline constexpr uint64_t kChangeFileLimit = 64ull * 1024 * 1024;

struct ChangeFileLine {
  enum class Kind : uint8_t { Section, Change };
  Kind kind = Kind::Change;
  std::string text;  // the whole line, program text (cp1252)
};

// The lines of a change file that mean something, in file order.
std::vector<ChangeFileLine> readChangeFileLines(std::string_view bytes);

// The section name of a line that begins with "[": the text up to the last
// "]" (or to the end when there is none), blanks trimmed.
std::string changeSectionName(const std::string& line);

// A line as it is shown and spoken when it is reported: control characters
// (which would ring, move the cursor or cut the line) become blanks, and a
// line longer than `limit` characters is cut there and followed by "...".
std::string reportableLine(std::string_view line, size_t limit);

}  // namespace ondaria
