// Second stage of the built-in voice: words become phoneme symbols.
//
// A word is first looked up in the exceptions file, which may replace its
// letters by a respelling; then the letter-to-sound rules of the rules file
// rewrite it from left to right. A rule line reads
//
//     left(MATCH)right=output|comment
//
// and applies at a position when MATCH equals the letters there (upper case)
// and both contexts hold. The first rule of the letter, in file order, that
// applies wins. The output is phoneme symbols of the voice separated by "&";
// a ">" goes in front of the phoneme that starts at the stressed letter.
//
// Context symbols (left contexts are read leftwards from the letter before the
// match, right contexts rightwards from the letter after it):
//
//   left   #  a vowel            %  word start        ]  a back vowel A O Á Â Ó Ô
//          _  word start or a vowel                   |  N, R or S
//   right  #  a vowel            %  word end          &  L, M, N, R or Z
//          *  a consonant but L, R (not passed over)  +  a front vowel E I É Í
//          [  word end or a consonant but H (not passed over)
//          \  an S if there is one
//   both   '  the match begins at the stressed letter (passes over nothing)
//   other characters stand for themselves.
//
// Windows-1252 files; words are upper-cased Windows-1252.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ondaria::koral {

struct LetterRule {
  std::string left;    // at most 5 characters
  std::string match;   // 1 … 5 characters
  std::string right;   // at most 5
  std::string output;  // at most 20 stored, 11 used
};

class LetterRules {
 public:
  static constexpr size_t kMaxExceptions = 15000;
  static constexpr size_t kMaxContext = 5;
  static constexpr size_t kMaxOutputStored = 20;
  static constexpr size_t kMaxOutputUsed = 11;

  // The rules whose match begins with the byte (bytes below 32 have none).
  const std::vector<LetterRule>& rulesFor(uint8_t byte) const { return index_[byte]; }
  size_t ruleCount() const;
  // Exceptions sorted by word (byte order); equal words keep file order.
  const std::vector<std::pair<std::string, std::string>>& exceptions() const { return exceptions_; }

  void addRule(LetterRule rule);
  void freeRules();
  void setExceptions(std::vector<std::pair<std::string, std::string>> sortedExceptions);

 private:
  std::array<std::vector<LetterRule>, 256> index_;
  std::vector<std::pair<std::string, std::string>> exceptions_;
};

// Reads the rules file; false when it cannot be opened. Lines whose match is
// empty (blank lines, lines without "(") are skipped.
bool loadRules(const std::string& fileName, LetterRules& rules);
// Reads "WORD=REPLACEMENT|comment" lines (upper-cased; at most 15000); false
// when the file cannot be opened.
bool loadExceptions(const std::string& fileName, LetterRules& rules);

// The upper-cased word with its exception applied: found words give their
// replacement; otherwise a final S or M is set aside (repeatedly) and put back
// after the replacement of what remains; nothing found leaves the word.
std::string applyException(const LetterRules& rules, std::string_view upperWord);

// Appends the phoneme items of an upper-cased word and a closing empty item.
// stressPosition is the 1-based stressed letter, or 0 or less for none.
void wordToPhonemes(const LetterRules& rules, std::string_view upperWord, int stressPosition,
                    std::vector<std::string>& list);

// The phoneme list of a text from its coded words ("code|word" items): a word
// marker ";code|word" per item, then its phonemes and an empty item, pause
// items "_," "_." … for punctuation, "__" and an empty item at sentence
// boundaries, and "__" at the end; then joinWords.
std::vector<std::string> textToPhonemes(const LetterRules& rules,
                                        const std::vector<std::string>& codedWords);

// Liaison: a word-final "s2" or "r2" becomes "z" or "r" when the next word
// begins with a vowel sound.
void joinWords(std::vector<std::string>& list);

}  // namespace ondaria::koral
