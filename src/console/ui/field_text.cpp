#include "console/ui/field_text.h"

#include <algorithm>

#include "speech/text_case.h"

namespace ondaria {

namespace {

constexpr char kBlank = ' ';

// Characters stripped from both ends of the word F12 opens: quotes, brackets
// and the punctuation that commonly surrounds an address in running text.
constexpr std::string_view kLinkTrim = "\"(*-.<=>[_{";

bool isOther(uint8_t c) {
  return c != kBlank && !isWordLetter(c) && !isDigitByte(c);
}

}  // namespace

bool isWordLetter(uint8_t c) { return isCp1252Letter(c); }

bool isDigitByte(uint8_t c) {
  return c >= '0' && c <= '9';
}

FieldText::FieldText(std::string_view initial, int maxLength) {
  const int length = std::clamp(maxLength, 0, kMaxFieldLength);
  text_.assign(static_cast<size_t>(length), kBlank);
  assign(initial);
}

void FieldText::assign(std::string_view text) {
  const size_t n = std::min(text.size(), text_.size());
  std::fill(text_.begin(), text_.end(), kBlank);
  std::copy_n(text.begin(), n, text_.begin());
}

std::string FieldText::trimmed() const {
  return text_.substr(0, static_cast<size_t>(endOfText() - 1));
}

int FieldText::endOfText() const {
  const size_t last = text_.find_last_not_of(kBlank);
  return last == std::string::npos ? 1 : static_cast<int>(last) + 2;
}

uint8_t FieldText::at(int p) const {
  if (p < 1 || p > maxLength()) return kBlank;
  return static_cast<uint8_t>(text_[static_cast<size_t>(p - 1)]);
}

int FieldText::selectionLow() const {
  return std::min(selStart, selEnd);
}

int FieldText::selectionHigh() const {
  return std::max(selStart, selEnd);
}

std::string FieldText::selectedText() const {
  if (!hasSelection()) return {};
  const int low = std::clamp(selectionLow(), 1, maxLength() + 1);
  const int high = std::clamp(selectionHigh(), 1, maxLength() + 1);
  return text_.substr(static_cast<size_t>(low - 1), static_cast<size_t>(high - low));
}

void FieldText::blankFrom(int from) {
  if (from < 1) from = 1;
  for (int p = from; p <= maxLength(); ++p) text_[static_cast<size_t>(p - 1)] = kBlank;
}

void FieldText::deleteBeforeCursor() {
  const int cut = std::clamp(pos - 1, 0, maxLength());
  std::string rest = text_.substr(static_cast<size_t>(cut));
  assign(rest);
  pos = 1;
}

bool FieldText::insert(uint8_t c) {
  if (pos < 1 || pos > maxLength()) return false;
  if (text_.back() != kBlank) return false;
  text_.pop_back();
  text_.insert(text_.begin() + (pos - 1), static_cast<char>(c));
  ++pos;
  return true;
}

bool FieldText::deleteAt(int p, uint8_t& removed) {
  if (p < 1 || p > maxLength()) return false;
  removed = static_cast<uint8_t>(text_[static_cast<size_t>(p - 1)]);
  text_.erase(text_.begin() + (p - 1));
  text_.push_back(kBlank);
  return true;
}

int FieldText::pastWordAndBlanks(int i) const {
  // A run of digits, or one character and the word letters after it, then the
  // blanks that follow.
  const int n = maxLength();
  const uint8_t c = static_cast<uint8_t>(text_[i]);
  if (isDigitByte(c)) {
    while (i < n && isDigitByte(static_cast<uint8_t>(text_[i]))) ++i;
  } else if (c != kBlank) {
    ++i;
    while (i < n && isWordLetter(static_cast<uint8_t>(text_[i]))) ++i;
  }
  while (i < n && text_[i] == kBlank) ++i;
  return i;
}

WordMove FieldText::nextWord() const {
  const int n = maxLength();
  int i = pos - 1;  // 0-based index of the character under the cursor
  if (i < n) i = pastWordAndBlanks(i);
  // After skipping the blanks, any index inside the text is a non-blank.
  if (i < n) return {i + 1, false};
  return {endOfText(), true};
}

WordMove FieldText::previousWord() const {
  int k = std::clamp(pos - 1, 0, maxLength());  // characters before the cursor
  while (k > 0 && text_[k - 1] == kBlank) --k;
  if (k == 0) return {1, true};
  const uint8_t c = static_cast<uint8_t>(text_[k - 1]);
  if (isDigitByte(c)) {
    while (k > 0 && isDigitByte(static_cast<uint8_t>(text_[k - 1]))) --k;
  } else if (isWordLetter(c)) {
    while (k > 0 && isWordLetter(static_cast<uint8_t>(text_[k - 1]))) --k;
    // A mark in front of the letters belongs to the same word, as in a next-word
    // move, which skips a mark together with the letters after it.
    if (k > 0 && isOther(static_cast<uint8_t>(text_[k - 1]))) --k;
  } else {
    --k;
  }
  return {k + 1, false};
}

int FieldText::wordDeletionLength(int from) const {
  const int n = maxLength();
  int i = from - 1;
  if (i < 0 || i >= n) return 0;
  i = pastWordAndBlanks(i);
  // With no word after it, stop at the end of the text: the padding blanks
  // beyond it are not worth deleting (each deletion is spoken).
  const int stop = i < n ? i + 1 : std::max(endOfText(), from);
  return stop - from;
}

SpokenWord FieldText::spokenWordAt(int from) const {
  const int n = maxLength();
  int i = std::max(from - 1, 0);
  while (i < n && text_[i] == kBlank) ++i;
  if (i >= n) return {};
  const uint8_t c = static_cast<uint8_t>(text_[i]);
  SpokenWord word;
  word.start = i + 1;
  int j = i + 1;
  if (isDigitByte(c) || (c == '-' && j < n && isDigitByte(static_cast<uint8_t>(text_[j])))) {
    while (j < n && isDigitByte(static_cast<uint8_t>(text_[j]))) ++j;
    word.kind = SpokenWordKind::Number;
  } else if (isWordLetter(c)) {
    while (j < n && isWordLetter(static_cast<uint8_t>(text_[j]))) ++j;
    word.kind = onlyConsonants(std::string_view(text_).substr(i, j - i)) ? SpokenWordKind::Spelled
                                                                           : SpokenWordKind::Spoken;
  } else {
    word.kind = SpokenWordKind::Single;
  }
  word.end = j + 1;
  return word;
}

std::string FieldText::linkWordAt(int atPos) const {
  const int n = maxLength();
  int i = atPos - 1;
  if (i >= n || i < 0 || text_[i] == kBlank) {
    // The cursor just after a word (typical after typing it) opens that word.
    if (i - 1 >= 0 && i - 1 < n && text_[i - 1] != kBlank) {
      --i;
    } else {
      return {};
    }
  }
  int start = i;
  while (start > 0 && text_[start - 1] != kBlank) --start;
  int end = i + 1;
  while (end < n && text_[end] != kBlank) ++end;
  std::string_view word = std::string_view(text_).substr(start, end - start);
  while (!word.empty() && kLinkTrim.find(word.front()) != std::string_view::npos)
    word.remove_prefix(1);
  while (!word.empty() && kLinkTrim.find(word.back()) != std::string_view::npos)
    word.remove_suffix(1);
  return std::string(word);
}

bool FieldText::paste(std::string_view pasted) {
  const int n = maxLength();
  int at = std::clamp(pos, 1, n + 1);
  std::string result;
  if (hasSelection()) {
    const int low = std::clamp(selectionLow(), 1, n + 1);
    const int high = std::clamp(selectionHigh(), 1, n + 1);
    at = low;
    result = text_.substr(0, static_cast<size_t>(low - 1));
    result += pasted;
    result += text_.substr(static_cast<size_t>(high - 1));
  } else {
    result = text_.substr(0, static_cast<size_t>(at - 1));
    result += pasted;
    result += text_.substr(static_cast<size_t>(at - 1));
  }
  // What the field cannot hold falls off its end; blanks lose nothing.
  const bool whole = result.size() <= static_cast<size_t>(n) ||
                     result.find_first_not_of(kBlank, static_cast<size_t>(n)) == std::string::npos;
  assign(result);
  const int after = std::min(at + static_cast<int>(pasted.size()), n + 1);
  if (after > at) {
    selStart = at;
    selEnd = after;
  } else {
    clearSelection();
  }
  pos = after;
  return whole;
}

std::string cleanPastedText(std::string_view clipboard, size_t limit) {
  std::string out;
  out.reserve(std::min(clipboard.size(), limit));
  for (char ch : clipboard) {
    if (out.size() >= limit) break;
    const uint8_t c = static_cast<uint8_t>(ch);
    if (c == '\r' || c == '\n' || c == 0) break;
    out += (c < 32 || c == 127) ? kBlank : ch;
  }
  return out;
}

bool onlyConsonants(std::string_view word) {
  static constexpr std::string_view kConsonants = "BCDFGHJKLMNPQRSTVXZ";
  if (word.empty()) return false;
  for (char ch : word) {
    char up = ch;
    if (up >= 'a' && up <= 'z') up = static_cast<char>(up - 'a' + 'A');
    if (kConsonants.find(up) == std::string_view::npos) return false;
  }
  return true;
}

}  // namespace ondaria
