// Diphone text translation: turns a run of words into the phonetic text that
// diphone speech joins from recorded units.
//
// Each word is read, replaced when it is listed in the exceptions file
// ("portug.exc"), given an upper-case stressed vowel by the Portuguese ending
// rules, and rewritten letter group by letter group with the context rules of
// the rules file ("regras.rgr"). A word of the form "[" unit "/" unit ... "]"
// is the result; a word without vowels is spelled as recorded letters
// ("[ /_p]" for each letter).
//
// Rule lines:   left(match)right=output|comment
// Contexts are read outward from the match; symbols other than letters are
// letter classes (see contextSymbol... in the source). Lines beginning with ";"
// are comments. Exception lines:   word=replacement|comment
//
// All functions are pure over the loaded tables; nothing here makes sound.
// Texts are Windows-1252.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

struct DiphoneRule {
  std::string left;    // at most 5 characters, read from its end leftwards
  std::string match;   // 1 to 5 characters, upper case
  std::string right;   // at most 5 characters
  std::string output;  // at most 11 characters
};

struct DiphoneException {
  std::string word;
  std::string replacement;
};

// The word being translated.
struct DiphoneWord {
  std::string letters;          // lower case, marks kept; the stressed vowel upper case
  int vowelCount = 0;           // a e i o u
  bool explicitStress = false;  // an accent mark other than the diaeresis follows a letter
};

// ---- Loading (module state) -----------------------------------------------

// Empties the rule index and reads the rules file; false when it cannot be
// opened. Lines with an empty match, or one that begins outside " ".."_", have
// no rule list and are skipped.
bool loadDiphoneRules(const std::string& fileName);
// Reads the exceptions file (at most 15000 entries, lines of at most 255
// characters) and sorts it by word; false when it cannot be opened.
bool loadDiphoneExceptions(const std::string& fileName);
// The same from text already in memory (tests, the voice generator).
void parseDiphoneRules(std::string_view text);
void parseDiphoneExceptions(std::string_view text);
// Empties the rule index and the exceptions.
void freeDiphoneRules();

// Rules filed under the byte `first` (empty outside 32..95), in file order.
const std::vector<DiphoneRule>& diphoneRulesFor(unsigned char first);
const std::vector<DiphoneException>& diphoneExceptions();

// ---- Translation ------------------------------------------------------------

// The whole translation of a run of words and blanks.
std::string translateToPhonetic(std::string_view text);

// Step by step (exposed for tests):
// W/Y next to a letter become u/i, "d'" loses its apostrophe, accented bytes
// become letter + mark, punctuation bytes from 128 up become a blank, control
// characters and unmapped bytes become " # ".
std::string rewriteDiphoneText(std::string_view text);
// The accent-table entry of a byte 128..255 (empty: no entry).
std::string_view diphoneAccentEntry(unsigned char byte);
// Reads the next word from `pos` (0-based) of a rewritten text; false at the end.
bool readWord(std::string_view text, size_t& pos, DiphoneWord& word);
// Replaces a word listed in the exceptions (also after removing final s/m letters).
void applyDiphoneException(DiphoneWord& word);
// Upper-cases the stressed vowel by the ending rules.
void markStress(DiphoneWord& word);
// "[" + rule outputs joined by "/" + "]".
std::string wordToUnits(const DiphoneWord& word);

// Longest word kept; longer runs of word characters continue as a new word.
inline constexpr size_t kDiphoneWordMax = 255;
inline constexpr size_t kDiphoneExceptionMax = 15000;

}  // namespace ondaria
