// Third stage of the built-in voice: rhythm and melody.
//
// The normalised text is cut into words and punctuation; each word gets a
// class from the keyword table of the prosody file ("XX" when it has none) and
// a three-digit intonation code from the prosody rules, chosen by the classes
// of the previous, current and next word. The digits pick entries of the pitch
// table (per cent of the base pitch) for three points of the word: its start,
// its stressed phoneme and its end. Finally the phoneme list of the letter
// rules becomes the lines the synthesiser reads, one per phoneme with its
// duration in milliseconds and its pitch points, with a short silence or glide
// inserted wherever the voice lacks the diphone between two phonemes.
//
// The prosody file ("portug.pro", Windows-1252) has three sections:
//   [DURAÇÃO]   PHONEME = MILLISECONDS
//   [CHAVES]    WORD = CLASS
//   [PROSÓDIA]  HERTZ=n, TABHERTZ=ten numbers, PREV|CUR|NEXT = CODE
// The diphone list ("portug.dfn") has one pair of phoneme names per line.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ondaria::koral {

struct ProsodyRule {
  std::string previous, current, next;  // class patterns, empty = any
  std::string code;                     // three digits; "?" first = previous code's last digit
};

class Prosody {
 public:
  static constexpr size_t kMaxDurations = 100;
  static constexpr size_t kMaxKeywords = 1000;
  static constexpr size_t kMaxRules = 300;
  static constexpr int kDefaultDuration = 100;
  static constexpr int kDefaultHertz = 230;

  // Milliseconds of a phoneme (100 when the table lacks it).
  int duration(std::string_view phoneme) const;
  // Keyword class of an upper-cased word, or "XX".
  std::string wordClass(std::string_view upperWord) const;

  std::vector<std::pair<std::string, int>> durations;
  std::vector<std::pair<std::string, std::string>> keywords;  // sorted by word
  std::vector<ProsodyRule> rules;
  int hertz = kDefaultHertz;
  // Per cent of the base pitch for the digits 0 … 9.
  std::array<int, 10> pitchTable{60, 70, 80, 90, 95, 100, 105, 115, 125, 140};

  void clear();
};

// The voice's diphones, "FIRST-SECOND" upper-cased.
class DiphoneList {
 public:
  bool has(std::string_view first, std::string_view second) const;
  void add(std::string_view first, std::string_view second);
  size_t size() const { return pairs_.size(); }
  void clear() { pairs_.clear(); }

 private:
  std::unordered_map<std::string, bool> pairs_;
};

// Reads the prosody file. On failure returns false and sets `error` to the
// message the user is shown ("Configuração da prosódia não foi achada", ...).
bool loadProsody(const std::string& fileName, Prosody& prosody, std::string& error);
// False when the file is missing or unreadable.
bool loadDiphones(const std::string& fileName, DiphoneList& diphones);

// Word items "[CLASS]word", beginning with "[--]"; punctuation tokens have the
// mark doubled as class ("[,,],"), runs of dots are "[.-].-", and "[--]"
// follows every "!", "." and "?".
std::vector<std::string> splitWords(std::string_view text, const Prosody& prosody);
// "code|word" for every item ("code|" for "[--]").
std::vector<std::string> assignCodes(const std::vector<std::string>& wordItems, const Prosody& prosody);

// Words of at most two letters and POR DAS DOS COM NÃO SIM (upper case).
bool isFunctionWord(std::string_view upperWord);
// 1-based stressed letter of a word (lower case), or 0 when it has no vowel.
int stressPosition(std::string_view lowerWord);

// The synthesiser's lines for a phoneme list (see the top of this file).
std::vector<std::string> buildMbrolaLines(const std::vector<std::string>& phonemes,
                                          const Prosody& prosody, const DiphoneList& diphones,
                                          double pitchFactor, double durationFactor);

}  // namespace ondaria::koral
