// First stage of the built-in voice: a text becomes plain words.
//
// Numbers become words (cardinals up to 999 999 999 999 999, ordinals with
// º ª o. a. os. as., digit runs with dashes read digit by digit, decimals with
// "vírgula" and "ponto"), a minus sign before a digit becomes "menos",
// abbreviations from the abbreviation file are expanded, words made only of
// consonants are spelled, and any other symbol is replaced by its spoken name.
// What remains is words, blanks and the punctuation marks ! ( ) , . : ; ? that
// the later stages turn into pauses and intonation. Windows-1252 throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ondaria::koral {

// Pairs (key, expansion) of the abbreviation file, keys upper-cased, in file
// order; the first of equal keys wins.
class Abbreviations {
 public:
  static constexpr size_t kMaxEntries = 2000;
  static constexpr size_t kMaxExpansion = 999;

  void clear();
  // Adds a pair unless the table is full; false when it is.
  bool add(std::string_view key, std::string_view expansion);
  // The expansion of an upper-cased key, or nullptr.
  const std::string* find(std::string_view upperKey) const;
  size_t size() const { return entries_.size(); }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
  std::unordered_map<std::string, size_t> index_;  // key -> first entry
};

// Reads "KEY=expansion" lines (";" comments, blank lines skipped; at most 2000
// entries). False only when the file cannot be opened.
bool loadAbbreviations(const std::string& fileName, Abbreviations& table);

std::string normaliseText(std::string_view text, const Abbreviations& abbreviations);

// Reads the number at `position` and moves the position past it (and past an
// ordinal marker it consumed).
std::string expandNumber(std::string_view text, size_t& position);

// 0 … 999 999 999 999 999.
std::string cardinalWords(uint64_t value);
// Below 2000 as ordinal words; from 2000 on as cardinals.
std::string ordinalWords(uint64_t value, bool feminine);

// Spoken name of a byte; empty for bytes without one (controls, 127-160, 221-224).
std::string characterName(uint8_t byte);

}  // namespace ondaria::koral
