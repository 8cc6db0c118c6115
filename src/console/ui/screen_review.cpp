#include "console/ui/screen_review.h"

#include <algorithm>
#include <string_view>

#include "console/core/console.h"
#include "console/core/magnified_strip.h"
#include "console/ui/ui_draw.h"
#include "console/ui/ui_hooks.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr int kRows = kConsoleRows;
constexpr int kColumns = kConsoleColumns;
// The review cursor may stand just beyond the last column.
constexpr int kBeyondLastColumn = kColumns + 1;

constexpr uint8_t kEsc = 27;
constexpr uint8_t kEnter = 13;
constexpr uint8_t kBackspace = 8;

// What a key does in review; extended keys by their code byte.
enum class ReviewAction {
  Right, Left, Down, Up, NextRowSilent, FirstRow, LastRow, RowStart, RowEnd,
  FirstLetter, LastLetter, PreviousWord, NextWord, AfterField, BeforeField,
  ReadWord, ReadField, ReadRow, SayPosition, Copy, GoTo, Search, SearchAgain,
  ReadingCommand, Leave, Unknown,
};

struct ReviewKey {
  bool extended;
  uint8_t code;
  ReviewAction action;
};

constexpr ReviewKey kReviewKeys[] = {
    {true, 77, ReviewAction::Right},          {true, 75, ReviewAction::Left},
    {false, kBackspace, ReviewAction::Left},  {true, 80, ReviewAction::Down},
    {true, 72, ReviewAction::Up},             {false, kEnter, ReviewAction::NextRowSilent},
    {true, 73, ReviewAction::FirstRow},       {true, 81, ReviewAction::LastRow},
    {true, 71, ReviewAction::RowStart},       {true, 79, ReviewAction::RowEnd},
    {true, 132, ReviewAction::FirstLetter},   {true, 118, ReviewAction::LastLetter},
    {true, 115, ReviewAction::PreviousWord},  {true, 116, ReviewAction::NextWord},
    {false, 9, ReviewAction::AfterField},     {true, 15, ReviewAction::BeforeField},
    {true, 59, ReviewAction::ReadWord},       {true, 94, ReviewAction::ReadField},
    {false, ' ', ReviewAction::ReadRow},      {false, 11, ReviewAction::SayPosition},
    {false, 12, ReviewAction::SayPosition},   {false, 3, ReviewAction::Copy},
    {true, 64, ReviewAction::GoTo},           {true, 63, ReviewAction::Search},
    {true, 98, ReviewAction::SearchAgain},    {false, kEsc, ReviewAction::Leave},
};

ReviewAction reviewAction(bool extended, uint8_t code) {
  for (const ReviewKey& k : kReviewKeys)
    if (k.extended == extended && k.code == code) return k.action;
  if (!extended && ((code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z')))
    return ReviewAction::ReadingCommand;
  return ReviewAction::Unknown;
}

bool isBlank(uint8_t c) { return c == ' ' || c == 0; }

bool isAsciiLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Letters, digits and the accented letters of Portuguese (cp1252), both cases.
bool isWordCharacter(uint8_t c) {
  if (isAsciiLetter(c) || (c >= '0' && c <= '9')) return true;
  const uint8_t lower = (c >= 0xC0 && c <= 0xDE) ? static_cast<uint8_t>(c + 0x20) : c;
  switch (lower) {
    case 0xE0: case 0xE1: case 0xE2: case 0xE3: case 0xE7: case 0xE9: case 0xEA:
    case 0xED: case 0xF1: case 0xF3: case 0xF4: case 0xF5: case 0xFA:
      return true;
    default:
      return false;
  }
}

bool isSeparator(uint8_t c) {
  return c == '!' || c == ':' || c == '?' || c == '|' || (c >= 176 && c <= 223);
}

// Spelled rather than spoken: a text of consonants only, which no voice
// could pronounce as a word.
bool onlyConsonants(std::string_view text) {
  if (text.empty()) return false;
  for (char ch : text) {
    const uint8_t c = upperAscii(static_cast<uint8_t>(ch));
    if (c < 'B' || c > 'Z' || c == 'E' || c == 'I' || c == 'O' || c == 'U') return false;
  }
  return true;
}

std::string rowText(int row, int from = 1, int to = kColumns) {
  std::string out;
  for (int c = std::max(from, 1); c <= std::min(to, kColumns); ++c)
    out += static_cast<char>(reviewCharAt(row, c));
  return out;
}

// Column just after the row's last non-blank character; 1 for an empty row.
int afterLastCharacter(int row) {
  for (int c = kColumns; c >= 1; --c)
    if (!isBlank(reviewCharAt(row, c))) return c + 1;
  return 1;
}

struct ReviewState {
  int row = 1;
  int column = 1;
  std::string searchText;
};

ReviewState& review() {
  static ReviewState s;
  return s;
}

// The row in the magnified strip, leading blanks removed, the character
// under the review cursor highlighted.
void showRowInStrip(int row, int column) {
  const std::string text = rowText(row);
  const size_t lead = std::min(text.find_first_not_of(' '), text.size());
  showInStrip(std::string_view(text).substr(lead), column - static_cast<int>(lead) + 1);
}

// Reads the word at or after `column` on `row` (blanks skipped up to the
// last column; a character that is not a word character goes with up to two
// copies of itself), no further than `lastColumn`. Returns the column after
// it, or 0 when only blanks were left.
int readWord(int row, int column, int lastColumn) {
  lastColumn = std::min(lastColumn, kColumns);
  int c = std::max(column, 1);
  while (c <= lastColumn && isBlank(reviewCharAt(row, c))) ++c;
  if (c > lastColumn) return 0;
  std::string word;
  const uint8_t first = reviewCharAt(row, c);
  if (isWordCharacter(first)) {
    while (c <= lastColumn && isWordCharacter(reviewCharAt(row, c))) {
      word += static_cast<char>(reviewCharAt(row, c));
      gotoXY(c, row);
      ++c;
    }
  } else {
    while (c <= lastColumn && word.size() < 3 && reviewCharAt(row, c) == first) {
      word += static_cast<char>(first);
      gotoXY(c, row);
      ++c;
    }
  }
  if (onlyConsonants(word))
    spellText(word);
  else
    speakText(word);
  return c;
}

// Where a reading stopped: the position after the last thing read.
struct ReadStop {
  int row;
  int column;
};

// Reads rows r1…r2, from column c1 on the first row to column c2 on the last
// (80 on the others). A key stops it and stays queued. Returns where it
// stopped; a span that ended at the last column leaves the cursor after the
// last row's last character.
ReadStop readSpan(int r1, int c1, int r2, int c2) {
  ReadStop stop{r1, c1};
  if (r1 == r2 && c2 < c1) {
    errorBeep();
    return stop;
  }
  for (int r = r1; r <= r2; ++r) {
    if (keyPressed()) return stop;
    if (r > r1) clickSound();
    if (keyPressed()) return stop;
    const int from = r == r1 ? c1 : 1;
    const int to = std::min(r == r2 ? c2 : kColumns, kColumns);
    showRowInStrip(r, from);
    stop = ReadStop{r, from};
    if (speechServerActive()) {
      // A voice of its own reads the row as one text, with its intonation.
      gotoXY(from, r);
      speakText(rowText(r, from, to));
      stop.column = to + 1;
    } else {
      int c = from;
      while (c <= to && !keyPressed()) {
        const int next = readWord(r, c, to);
        if (next == 0) {
          c = to + 1;
          break;
        }
        c = next;
        stop.column = c;
      }
      if (c <= to) return stop;  // a key stopped it
      stop.column = to + 1;
    }
  }
  if (c2 >= kColumns) stop.column = afterLastCharacter(stop.row);
  return stop;
}

void sayPosition(const ReviewState& s) {
  speakText(std::to_string(s.row) + " " + std::to_string(s.column));
}

// One key read as review reads keys: 0 and the code for extended keys.
struct ReadKeyResult {
  bool extended;
  uint8_t code;
};

ReadKeyResult readReviewKey() {
  const uint8_t key = readKey();
  stopSpeech();
  if (key != 0) return {false, key};
  return {true, readKey()};
}

void refused() {
  errorBeep();
  clickSound();
  errorBeep();
}

// F6: four digits, two for the row and two for the column.
void goToTypedPosition(ReviewState& s) {
  speakText("Entre linha e coluna");
  int digits[4];
  for (int& d : digits) {
    const ReadKeyResult k = readReviewKey();
    if (k.extended || k.code < '0' || k.code > '9') {
      errorBeep();
      errorBeep();
      return;
    }
    speakChar(k.code);
    d = k.code - '0';
  }
  s.row = digits[0] * 10 + digits[1];
  s.column = digits[2] * 10 + digits[3];
}

void search(ReviewState& s) {
  if (s.searchText.empty()) {
    errorBeep();
    return;
  }
  for (int r = s.row; r <= kRows; ++r) {
    const std::string text = rowText(r);
    // On the cursor's own row only what lies after the cursor counts.
    const size_t from = r == s.row ? static_cast<size_t>(std::min(s.column, kColumns)) : 0;
    const size_t hit = text.find(s.searchText, from);
    if (hit != std::string::npos) {
      s.row = r;
      s.column = static_cast<int>(hit) + 1;
      clickSound();
      return;
    }
  }
  errorBeep();
  errorBeep();
}

// F5: the text is typed key by key, each character spoken.
void askAndSearch(ReviewState& s) {
  speakText("Qual texto");
  std::string typed;
  for (;;) {
    const ReadKeyResult k = readReviewKey();
    if (k.extended) continue;
    if (k.code == kEsc) return;
    if (k.code == kEnter) break;
    if (k.code == kBackspace) {
      if (typed.empty()) {
        errorBeep();
        continue;
      }
      const uint8_t removed = static_cast<uint8_t>(typed.back());
      typed.pop_back();
      playRecording("_DEL");
      speakChar(removed);
      continue;
    }
    if (k.code < 32) continue;
    typed += static_cast<char>(k.code);
    speakChar(k.code);
  }
  if (!typed.empty()) s.searchText = typed;
  search(s);
}

// The first (or last) ASCII letter on the screen.
bool findLetter(bool fromTop, int& row, int& column) {
  for (int i = 0; i < kRows; ++i) {
    const int r = fromTop ? 1 + i : kRows - i;
    for (int j = 0; j < kColumns; ++j) {
      const int c = fromTop ? 1 + j : kColumns - j;
      if (isAsciiLetter(reviewCharAt(r, c))) {
        row = r;
        column = c;
        return true;
      }
    }
  }
  return false;
}

void readRowKeepingCursor(const ReviewState& s) { readSpan(s.row, 1, s.row, kColumns); }

// A reading command: I, F or T (L counts as T), then C, L or T.
void readingCommand(ReviewState& s, uint8_t firstKey) {
  const uint8_t scope = upperAscii(firstKey);
  const ReadKeyResult second = readReviewKey();
  const uint8_t what = second.extended ? 0 : upperAscii(second.code);
  const char from = scope == 'L' ? 'T' : static_cast<char>(scope);
  if ((from != 'I' && from != 'F' && from != 'T') || (what != 'C' && what != 'L' && what != 'T')) {
    refused();
    return;
  }
  const int column = std::min(s.column, kBeyondLastColumn);
  const ReviewField field = reviewFieldAt(s.row, std::min(column, kColumns));
  if (what == 'T') {
    ReadStop stop{s.row, column};
    if (from == 'I') stop = readSpan(1, 1, s.row, column - 1);
    if (from == 'T') stop = readSpan(1, 1, kRows, kColumns);
    if (from == 'F') stop = readSpan(s.row, column, kRows, kColumns);
    // The screen commands leave the review cursor where the reading stopped.
    s.row = stop.row;
    s.column = stop.column;
    return;
  }
  if (what == 'L') {
    if (from == 'I') readSpan(s.row, 1, s.row, column - 1);
    if (from == 'T') readSpan(s.row, 1, s.row, kColumns);
    if (from == 'F') readSpan(s.row, column, s.row, kColumns);
    return;
  }
  if (from == 'I') readSpan(s.row, field.first, s.row, column - 1);
  if (from == 'T') readSpan(s.row, field.first, s.row, field.last);
  if (from == 'F') readSpan(s.row, column, s.row, field.last);
}

// Acts on one key; false when it was Esc.
bool act(ReviewState& s, const ReadKeyResult& key) {
  switch (reviewAction(key.extended, key.code)) {
    case ReviewAction::Right:
      if (s.column > kBeyondLastColumn)
        errorBeep();
      else
        speakChar(reviewCharAt(s.row, s.column));
      ++s.column;
      break;
    case ReviewAction::Left:
      if (s.column <= 1) {
        errorBeep();
        break;
      }
      --s.column;
      speakChar(reviewCharAt(s.row, s.column));
      break;
    case ReviewAction::Down:
      s.column = 1;
      if (s.row >= kRows) {
        errorBeep();
        s.row = kRows;
        break;
      }
      ++s.row;
      clickSound();
      readRowKeepingCursor(s);
      break;
    case ReviewAction::Up:
      s.column = 1;
      if (s.row <= 1) {
        errorBeep();
        s.row = 1;
        break;
      }
      --s.row;
      readRowKeepingCursor(s);
      break;
    case ReviewAction::NextRowSilent:
      ++s.row;
      s.column = 1;
      clickSound();
      break;
    case ReviewAction::FirstRow:
    case ReviewAction::LastRow:
      s.row = reviewAction(key.extended, key.code) == ReviewAction::FirstRow ? 1 : kRows;
      s.column = 1;
      readRowKeepingCursor(s);
      break;
    case ReviewAction::RowStart:
      s.column = 1;
      break;
    case ReviewAction::RowEnd:
      s.column = afterLastCharacter(s.row);
      if (s.column == 1) clickSound();
      break;
    case ReviewAction::FirstLetter:
    case ReviewAction::LastLetter: {
      const bool fromTop = reviewAction(key.extended, key.code) == ReviewAction::FirstLetter;
      if (!findLetter(fromTop, s.row, s.column)) {
        errorBeep();
        break;
      }
      const int column = s.column;
      readRowKeepingCursor(s);
      s.column = column;
      break;
    }
    case ReviewAction::PreviousWord: {
      int c = std::min(s.column, kBeyondLastColumn) - 1;
      while (c >= 1 && isBlank(reviewCharAt(s.row, c))) --c;
      if (c < 1) {
        s.column = 1;
        errorBeep();
        break;
      }
      while (c > 1 && !isBlank(reviewCharAt(s.row, c - 1))) --c;
      s.column = c;
      clickSound();
      break;
    }
    case ReviewAction::NextWord: {
      int c = std::max(s.column, 1);
      while (c <= kColumns && !isBlank(reviewCharAt(s.row, c))) ++c;
      while (c <= kColumns && isBlank(reviewCharAt(s.row, c))) ++c;
      if (c > kColumns) {
        s.column = afterLastCharacter(s.row);
        errorBeep();
        break;
      }
      s.column = c;
      clickSound();
      break;
    }
    case ReviewAction::AfterField: {
      const ReviewField f = reviewFieldAt(s.row, std::min(s.column, kColumns));
      if (f.last + 2 > kColumns) {
        s.column = afterLastCharacter(s.row);
        break;
      }
      s.column = f.last + 2;
      clickSound();
      break;
    }
    case ReviewAction::BeforeField:
      s.column = reviewFieldAt(s.row, std::min(s.column, kColumns)).first - 2;
      clickSound();
      break;
    case ReviewAction::ReadWord: {
      const int after = s.column >= kColumns ? 0 : readWord(s.row, s.column, kColumns);
      if (after == 0) {
        clickSound();
        s.column = afterLastCharacter(s.row);
      } else {
        s.column = after;
      }
      break;
    }
    case ReviewAction::ReadField: {
      const ReviewField f = reviewFieldAt(s.row, std::min(s.column, kColumns));
      readSpan(s.row, f.first, s.row, f.last);
      break;
    }
    case ReviewAction::ReadRow:
      readRowKeepingCursor(s);
      break;
    case ReviewAction::SayPosition:
      sayPosition(s);
      break;
    case ReviewAction::Copy:
      copyToClipboard(screenAsText());
      clickSound();
      break;
    case ReviewAction::GoTo:
      goToTypedPosition(s);
      break;
    case ReviewAction::Search:
      askAndSearch(s);
      break;
    case ReviewAction::SearchAgain:
      search(s);
      break;
    case ReviewAction::ReadingCommand:
      readingCommand(s, key.code);
      break;
    case ReviewAction::Leave:
      return false;
    case ReviewAction::Unknown:
      refused();
      break;
  }
  return true;
}

// Brings the review cursor back inside the grid; each correction beeps.
void keepInGrid(ReviewState& s) {
  if (s.column < 1) {
    s.column = 1;
    errorBeep();
  }
  if (s.column > kBeyondLastColumn) {
    s.column = kColumns;
    errorBeep();
  }
  if (s.row < 1) {
    s.row = 1;
    errorBeep();
  }
  if (s.row > kRows) {
    s.row = kRows;
    errorBeep();
  }
}

}  // namespace

uint8_t reviewCharAt(int row, int column) {
  if (row < 1 || row > kRows || column < 1 || column > kColumns) return ' ';
  return charAt(column, row);
}

uint8_t reviewAttrAt(int row, int column) {
  if (row < 1 || row > kRows || column < 1 || column > kColumns) return 0;
  return attrAt(column, row);
}

const std::string& reviewSearchText() { return review().searchText; }

std::string screenAsText() {
  std::string out;
  out.reserve(static_cast<size_t>(kRows) * (kColumns + 2));
  for (int r = 1; r <= kRows; ++r) {
    out += rowText(r);
    out += "\r\n";
  }
  return out;
}

ReviewField reviewFieldAt(int row, int column) {
  column = std::clamp(column, 1, kColumns);
  ReviewField f{column, column};
  if (isSeparator(reviewCharAt(row, column))) return f;
  const uint8_t attr = reviewAttrAt(row, column);
  auto inField = [&](int c) {
    return c >= 1 && c <= kColumns && reviewAttrAt(row, c) == attr && !isSeparator(reviewCharAt(row, c));
  };
  while (inField(f.first - 1)) --f.first;
  while (inField(f.last + 1)) ++f.last;
  return f;
}

void screenReview() {
  ensureConsole();
  ReviewState& s = review();
  const int savedColumn = whereX();
  const int savedRow = whereY();
  errorBeep();
  s.row = savedRow;
  s.column = savedColumn;
  for (;;) {
    gotoXY(s.column, s.row);
    showRowInStrip(s.row, s.column);
    const ReadKeyResult key = readReviewKey();
    if (!act(s, key)) break;
    keepInGrid(s);
  }
  errorBeep();
  errorBeep();
  refreshStrip();
  gotoXY(savedColumn, savedRow);
}

void installLowVisionAids() {
  setStripShowHook([](std::string_view text, int cursor) { showInStrip(text, cursor); });
  setStripRefreshHook([] { refreshStrip(); });
  setScreenReviewHook([] { screenReview(); });
  setLowVisionHook([](const LowVisionSettings& v) {
    setStripColours(v.textColour, v.backColour, v.cursorColour);
    closeStrip();
    openStrip(1, v.zoom);
  });
  setNoticeHook([](const std::string& notice) { speakText(notice); });
}

}  // namespace ondaria
