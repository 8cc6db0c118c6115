// The text of one field being edited, and the operations on it that need
// neither the console nor speech: inserting, deleting, word moves, the word
// spoken by F1, the word opened by F12, the selection and pasting.
//
// While a field is edited its text is exactly maxLength bytes, padded with
// blanks; positions are 1-based, from 1 to maxLength + 1 (just after the last
// cell). A selection is a pair of positions in either order; the characters
// between the smaller and the larger are selected; 0 means "no selection".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ondaria {

// The longest field the editor handles.
inline constexpr int kMaxFieldLength = 2048;

// Letters for word moves and word speaking: the letters of Windows-1252
// (isCp1252Letter), so that dashes, quotation marks and symbols end a word.
bool isWordLetter(uint8_t c);
bool isDigitByte(uint8_t c);

struct WordMove {
  int pos;        // where the cursor lands
  bool hitEdge;   // true: ran past the end or reached the start (errorBeep)
};

// What F1 speaks at a position: blanks are skipped, then one token.
enum class SpokenWordKind {
  None,     // only blanks from the position on
  Number,   // a run of digits, or "-" followed by digits: speakText
  Spelled,  // a run of letters made only of consonants: spellText
  Spoken,   // any other run of letters: speakText
  Single,   // one other character: spelled alone
};

struct SpokenWord {
  SpokenWordKind kind = SpokenWordKind::None;
  int start = 0;  // 1-based position of its first character
  int end = 0;    // 1-based position just after it
};

class FieldText {
 public:
  // Cuts `initial` to maxLength (clamped into 0...kMaxFieldLength) and pads it.
  FieldText(std::string_view initial, int maxLength);

  const std::string& text() const { return text_; }
  int maxLength() const { return static_cast<int>(text_.size()); }
  // The text without trailing blanks.
  std::string trimmed() const;
  // Position just after the last non-blank character (1 for an all-blank field).
  int endOfText() const;
  uint8_t at(int pos) const;  // the byte at a position; a blank outside the text

  int pos = 1;
  int selStart = 0;
  int selEnd = 0;

  bool hasSelection() const { return selStart != 0 && selStart != selEnd; }
  int selectionLow() const;   // smaller bound (valid only with a selection)
  int selectionHigh() const;  // larger bound
  std::string selectedText() const;
  void clearSelection() { selStart = selEnd = 0; }

  // Replaces the whole text (cut and padded); the cursor and selection stay.
  void assign(std::string_view text);
  void blankFrom(int from);  // blanks from `from` to the end
  void blankAll() { blankFrom(1); }
  // Deletes everything before pos (the rest moves to the start); pos = 1.
  void deleteBeforeCursor();

  // Inserts at pos and moves pos on. Refused (false, text unchanged) when pos
  // is beyond maxLength or when the last cell holds a character other than a
  // blank, which the insertion would push out of the field.
  bool insert(uint8_t c);
  // Removes the character at pos, appends a blank; returns the removed byte.
  // Refused (false) when pos is beyond maxLength.
  bool deleteAt(int pos, uint8_t& removed);

  WordMove nextWord() const;
  WordMove previousWord() const;
  // Number of characters Ctrl+Backspace deletes from `from`: the word there
  // and the blanks after it, stopping at the next word or at the end of text.
  int wordDeletionLength(int from) const;

  SpokenWord spokenWordAt(int from) const;
  // The run of non-blank characters around pos (or just before it, when pos
  // stands on a blank after a word), stripped of the characters
  // " ( * - . < = > [ _ { at both ends. Empty when there is none.
  std::string linkWordAt(int at) const;

  // Replaces the selection (or inserts at pos when there is none) with
  // `pasted`, cuts the result to maxLength, then selects the pasted text and
  // leaves the cursor after it. `pasted` should come from cleanPastedText.
  // False when characters other than blanks did not fit and were cut off.
  bool paste(std::string_view pasted);

 private:
  // Index just past the word (or digit run) starting at 0-based i and its blanks.
  int pastWordAndBlanks(int i) const;
  std::string text_;
};

// Clipboard text as a field takes it: at most `limit` characters, cut at the
// first carriage return, line feed or zero byte; every other control byte
// (tab, 1...31, 127) becomes a blank, because the console does not draw
// control bytes and the field's cells would no longer line up with its text.
std::string cleanPastedText(std::string_view clipboard, size_t limit);

// True when the word, upper-cased (A-Z), holds only the consonants
// B C D F G H J K L M N P Q R S T V X Z; such a run is spelled, not spoken.
bool onlyConsonants(std::string_view word);

}  // namespace ondaria
