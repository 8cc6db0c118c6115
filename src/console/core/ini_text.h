// The INI layout in memory: a parsed, read-only view over the bytes of one INI
// file, and edits that produce the new bytes of the file.
//
// Layout, as the private-profile functions read it:
// - A line whose first non-blank character is "[" and that holds a "]" later on
//   is a section header; the name is what lies between the "[" and the LAST "]",
//   blanks trimmed (so a name may itself contain "]").
// - A line whose first non-blank character is ";" is a comment.
// - Any other line holding "=" is an entry: the key is the text before the first
//   "=", the value the text after it, both with blanks (space, tab) trimmed. A
//   value enclosed in a pair of equal quotes (" or ') is read without them.
// - Every other line (no "=", empty key, lines before the first section, lines of
//   a section with an empty name) is kept but is not an entry of any section.
// - Lines end in CR LF, LF or a lone CR; the last line may lack a line end.
//   Bytes are never interpreted otherwise: NUL bytes, cp1252 bytes and very
//   long lines are data.
//
// Encoding: a file is read as Windows-1252 or as UTF-8 (platform/codepage.h,
// detectTextEncoding); a leading byte-order mark is no part of the first line.
// Names and values cross this interface as program text (cp1252) and are
// written in the file's own encoding, so a UTF-8 file stays UTF-8 (with its
// mark, if it had one) and a file the program creates is Windows-1252. Lines
// an edit does not touch keep their bytes whatever the encoding, characters
// cp1252 cannot hold included.
//
// Names are matched without regard to case (ASCII and the cp1252 accented
// letters) after trimming blanks. A section that occurs in several blocks is one
// section: its entries are those of all its blocks in file order, and of
// duplicate keys the first one counts (reading, listing, replacing); erasing a
// key removes all its copies, so it does not come back after the erase.
//
// What the layout cannot hold, and edits therefore refuse (Edit::Refused):
// CR, LF or NUL anywhere; an empty section or key name; a key that contains "="
// or begins with ";" or "[". Values may hold anything else, including "=", "[",
// "]", ";" and bytes above 127; a value with blanks at either end, or one that
// itself begins and ends with the same quote, is written inside double quotes so
// that it reads back exactly. Blanks around names are not significant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/codepage.h"

namespace ondaria::ini {

using platform::TextEncoding;

// A list of section or key names read at once holds at most this many
// characters, counting a terminating zero after each name and one more at the
// end; names that do not fit whole are left out.
constexpr size_t kNameListLimit = 128000;

// Case folding used for section and key names (cp1252 upper case).
std::string foldName(std::string_view name);

// Blanks (space, tab) removed at both ends.
std::string_view trimBlanks(std::string_view text);

enum class Edit { Changed, Unchanged, Refused };

class IniText {
 public:
  IniText() = default;
  // The file's bytes; the encoding is detected from them.
  explicit IniText(std::string bytes);
  // The bytes of an edit of a file whose encoding is already known, so that
  // the encoding stays what it was however the new bytes look.
  IniText(std::string bytes, TextEncoding encoding);

  const std::string& bytes() const { return bytes_; }
  TextEncoding encoding() const { return encoding_; }

  // The value of section/key, whole (quotes removed); false when there is no
  // such entry.
  bool find(std::string_view section, std::string_view key, std::string& value) const;

  // Section names (first spelling of each) and the keys of one section, in file
  // order, within kNameListLimit.
  std::vector<std::string> sectionNames() const;
  std::vector<std::string> keyNames(std::string_view section) const;
  // The keys of keyNames with their values (as find gives them).
  std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;

  // The file's bytes after setting section/key to value: the first copy of the
  // key is changed in place (everything up to its "=" kept as it was); a new key
  // goes after the last entry of the section's first block; a new section is
  // appended at the end. Untouched lines keep their bytes.
  Edit setValue(std::string_view section, std::string_view key, std::string_view value,
                std::string& out) const;

  // The file's bytes without every copy of section/key, or without every block
  // of the section (header up to the next header) when key is empty.
  Edit erase(std::string_view section, std::string_view key, std::string& out) const;

 private:
  enum class Kind : uint8_t { Other, Header, Entry };
  struct Line {
    size_t start = 0;      // first byte of the line
    size_t length = 0;     // bytes before the line end
    uint8_t eolLength = 0; // 0 (last line without a line end), 1 (LF or CR) or 2 (CR LF)
    Kind kind = Kind::Other;
    int32_t section = -1;  // index into sections_, -1 outside any section
    size_t nameStart = 0, nameLength = 0;    // trimmed key or section name
    size_t valueStart = 0, valueLength = 0;  // trimmed value (entries)
    size_t afterEquals = 0;                  // first byte after the "=" (entries)
  };
  struct Section {
    std::string name;                    // first spelling, program text
    std::vector<size_t> blocks;          // line index of each header
    std::vector<size_t> keys;            // line of the first copy of each key, file order
    std::unordered_map<std::string, size_t> keyIndex;  // folded key (program text) -> line
  };

  void parse();
  // Program text <-> the file's encoding.
  std::string toProgram(std::string_view fileText) const;
  std::string toFile(std::string_view programText) const;
  std::string_view lineName(const Line& line) const;  // as in the file
  std::string lineValue(const Line& line) const;
  int sectionIndex(std::string_view section) const;
  size_t blockEnd(size_t headerLine) const;  // line index after the block
  const char* lineEnd() const;               // line end for new lines

  std::string bytes_;
  TextEncoding encoding_ = TextEncoding::Cp1252;
  size_t contentStart_ = 0;  // after the byte-order mark
  std::vector<Line> lines_;
  std::vector<Section> sections_;
  std::unordered_map<std::string, size_t> sectionIndex_;  // folded name -> section
};

}  // namespace ondaria::ini
