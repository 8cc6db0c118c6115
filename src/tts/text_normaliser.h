// First stage of the built-in voice: a text becomes plain words.
//
// Numbers become words (cardinals up to 999 999 999 999 999, ordinals with
// º ª o. a. os. as., digit runs with dashes read digit by digit, decimals with
// "vírgula" and "ponto"), a minus sign before a digit becomes "menos",
// abbreviations from the abbreviation file are expanded, words made only of
// consonants are spelled, and any other symbol is replaced by its spoken name.
// A cardinal takes the gender of the noun it counts ("duas horas", "mil e
// duzentas pessoas"); clock times, dates and sums of money are read as such
// (number_forms.h); "nº" is "número". A full stop is a pause, and the word
// "ponto" only inside a token ("3.0", "radio.com.br"). What remains is words, blanks and the punctuation marks ! ( ) , . : ; ? that
// the later stages turn into pauses and intonation. Windows-1252 throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tts/noun_gender.h"

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

  // The nouns' genders, from the file's section [GÊNERO].
  NounGenders& genders() { return genders_; }
  const NounGenders& genders() const { return genders_; }

 private:
  NounGenders genders_;
  std::vector<std::pair<std::string, std::string>> entries_;
  std::unordered_map<std::string, size_t> index_;  // key -> first entry
};

// Reads "KEY=expansion" lines (";" comments, blank lines skipped; at most 2000
// entries) up to the first section header ("[NAME]" alone on its line); the
// lines of the section [GÊNERO] fill the gender table, those of any other
// section are skipped. False only when the file cannot be opened.
bool loadAbbreviations(const std::string& fileName, Abbreviations& table);

std::string normaliseText(std::string_view text, const Abbreviations& abbreviations);

// Reads the number at `position` and moves the position past it (and past an
// ordinal marker it consumed). A cardinal is read in the feminine when asked.
std::string expandNumber(std::string_view text, size_t& position, bool feminine = false);

// 0 … 999 999 999 999 999. The feminine changes the units and the hundreds
// of the thousands and of the last group ("uma", "duas", "duzentas mil e
// duzentas"); millions and above are masculine nouns themselves.
std::string cardinalWords(uint64_t value, bool feminine = false);

// Whether the number that ends at `position` counts feminine things: the noun
// after it (past "mil", and past "ou 2", "a 3", "e 4" to the noun the numbers
// share), a unit abbreviation by its expansion ("h": horas).
bool countsFeminine(std::string_view text, size_t position, const Abbreviations& abbreviations);
// Below 2000 as ordinal words; from 2000 on as cardinals.
std::string ordinalWords(uint64_t value, bool feminine);

// Spoken name of a byte; empty for bytes without one (controls, 127-160, 221-224).
std::string characterName(uint8_t byte);

}  // namespace ondaria::koral
