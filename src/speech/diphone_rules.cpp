// Diphone text translation: loaders, character classes, accent table, word
// reader, exceptions, stress finder and the context-rule rewriter.
#include "speech/diphone_rules.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/codepage.h"

namespace ondaria {

namespace {

// Rule fields are cut to these lengths when a rule is read.
constexpr size_t kContextMax = 5;
constexpr size_t kMatchMax = 5;
constexpr size_t kOutputMax = 11;
// Rules are filed by the first byte of their match, " " (32) to "_" (95).
constexpr unsigned char kFirstIndexed = 32;
constexpr unsigned char kLastIndexed = 95;
constexpr size_t kIndexSize = kLastIndexed - kFirstIndexed + 1;
constexpr size_t kExceptionLineMax = 255;

struct TranslatorState {
  std::array<std::vector<DiphoneRule>, kIndexSize> rules;
  std::vector<DiphoneException> exceptions;
};

TranslatorState& state() {
  static TranslatorState s;
  return s;
}

const std::vector<DiphoneRule>& noRules() {
  static const std::vector<DiphoneRule> none;
  return none;
}

// ---- Character classes ------------------------------------------------------
// The word is lower case except its stressed vowel, so each class holds both cases.

bool isVowel(char c) { return c != '\0' && std::strchr("AEIOUaeiou", c) != nullptr; }
bool isConsonant(char c) {
  return c != '\0' && std::strchr("BCDFGHJKLMNPQRSTVWXYZbcdfghjklmnpqrstvwxyz", c) != nullptr;
}
bool isLetter(char c) { return isVowel(c) || isConsonant(c); }
bool isMark(char c) { return c != '\0' && std::strchr("\"'^`~", c) != nullptr; }
bool isWordChar(char c) { return isLetter(c) || isMark(c); }
bool isPause(char c) { return c != '\0' && std::strchr(" !,.:;?", c) != nullptr; }
bool isBackVowel(char c) { return c != '\0' && std::strchr("AOao", c) != nullptr; }
bool isFrontVowel(char c) { return c != '\0' && std::strchr("EIei", c) != nullptr; }
bool isGQ(char c) { return c == 'g' || c == 'q' || c == 'G' || c == 'Q'; }
// Marks that carry stress: all but the diaeresis (written as the double quote).
bool isStressMark(char c) { return isMark(c) && c != '"'; }

char toUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char toLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
bool isUpperVowel(char c) { return c != '\0' && std::strchr("AEIOU", c) != nullptr; }

// ---- Accent table -----------------------------------------------------------
// Bytes 128..255 as Windows-1252 has them: the letters become a plain letter
// and its mark; punctuation and symbols (dashes, quotation marks, the
// ellipsis, fractions, ...) become a blank, a pause between words, since the
// speech front-end speaks them by their names and never sends them here as
// part of a word.

struct AccentTable {
  std::array<std::string, 128> entry;
  AccentTable() {
    auto set = [this](std::initializer_list<int> bytes, const char* text) {
      for (int b : bytes) entry[static_cast<size_t>(b - 128)] = text;
    };
    for (int b = 128; b < 192; ++b) entry[static_cast<size_t>(b - 128)] = " ";
    set({0x83}, "f");
    set({0x8A, 0x9A}, "x");    // S with caron sounds as the Portuguese x
    set({0x8C, 0x9C}, "oe");
    set({0x8E, 0x9E}, "j");    // Z with caron sounds as the Portuguese j
    set({0x9F}, "i");
    set({201, 233}, "e'");
    set({194, 226}, "a^");
    set({195, 196, 227, 228}, "a~");
    set({192, 224}, "a`");
    set({193, 225}, "a'");
    set({199, 231}, "ss");
    set({202, 234}, "e^");
    set({203, 235}, "e\"");
    set({200, 232}, "e`");
    set({207, 239}, "i\"");
    set({206, 238}, "i^");
    set({204, 236}, "i`");
    set({198, 230}, "ae");
    set({212, 244}, "o^");
    set({213, 245}, "o~");
    set({210, 214, 242, 246}, "o`");
    set({219, 251}, "u^");
    set({217, 249}, "u`");
    set({205, 237}, "i'");
    set({211, 243}, "o'");
    set({218, 250}, "u'");
    set({209, 241}, "nh");
    set({197, 229}, "a");
    set({215, 247}, "x");
    set({216, 248}, "0");
    set({220, 252}, "u");
    set({221, 253, 255}, "i");
    set({223}, "ss");
  }
};

const AccentTable& accents() {
  static const AccentTable table;
  return table;
}

// ---- Loading ----------------------------------------------------------------

// Lines end in LF, CR LF or a lone CR. Text in UTF-8 (an editor's choice on
// Linux, with or without a byte-order mark) is read as program text first.
std::vector<std::string> splitLines(std::string_view bytes) {
  const std::string text = platform::decodeFileText(bytes, platform::detectTextEncoding(bytes));
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text, start, end - start);
    start = end + ((end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

bool readWholeFile(const std::string& fileName, std::string& out) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

DiphoneRule parseRuleLine(const std::string& line) {
  DiphoneRule rule;
  size_t open = line.find('(');
  if (open == std::string::npos) {
    rule.left = line;
  } else {
    rule.left = line.substr(0, open);
    size_t close = line.find(')', open + 1);
    if (close == std::string::npos) {
      rule.match = line.substr(open + 1);
    } else {
      rule.match = line.substr(open + 1, close - open - 1);
      size_t equals = line.find('=', close + 1);
      if (equals == std::string::npos) {
        rule.right = line.substr(close + 1);
      } else {
        rule.right = line.substr(close + 1, equals - close - 1);
        size_t bar = line.find('|', equals + 1);
        rule.output = line.substr(equals + 1, bar == std::string::npos ? std::string::npos
                                                                       : bar - equals - 1);
      }
    }
  }
  if (rule.left.size() > kContextMax) rule.left.resize(kContextMax);
  if (rule.match.size() > kMatchMax) rule.match.resize(kMatchMax);
  if (rule.right.size() > kContextMax) rule.right.resize(kContextMax);
  if (rule.output.size() > kOutputMax) rule.output.resize(kOutputMax);
  return rule;
}

// ---- Rule matching ----------------------------------------------------------
// Positions are 1-based over the word; 0 is before it and size + 1 after it.

struct WordView {
  const std::string& w;
  int size() const { return static_cast<int>(w.size()); }
  char at(int p) const { return (p >= 1 && p <= size()) ? w[static_cast<size_t>(p - 1)] : '\0'; }
};

bool leftContextMatches(const WordView& word, const std::string& left, int pos) {
  for (size_t k = left.size(); k-- > 0;) {
    char sym = left[k];
    char c = word.at(pos);
    switch (sym) {
      case '#':
        if (!isVowel(c) && !isMark(c)) return false;
        while (isVowel(word.at(pos)) || isMark(word.at(pos))) --pos;
        break;
      case '%':
        if (pos >= 1) return false;
        break;
      case ']':
        if (isBackVowel(c)) {
          --pos;
        } else if (isMark(c) && isBackVowel(word.at(pos - 1))) {
          pos -= 2;
        } else {
          return false;
        }
        break;
      case '_':
        if (pos < 1) break;  // the word start
        if (isVowel(c)) {
          --pos;
        } else if (isMark(c) && isVowel(word.at(pos - 1))) {
          pos -= 2;
        } else {
          return false;
        }
        break;
      case '|':
        if (c == '\0' || std::strchr("NRSnrs", c) == nullptr) return false;
        --pos;
        break;
      default:
        if (c == '\0' || toUpper(c) != sym) return false;
        --pos;
        break;
    }
  }
  return true;
}

bool rightContextMatches(const WordView& word, const std::string& right, int pos) {
  for (char sym : right) {
    char c = word.at(pos);
    switch (sym) {
      case '#':
        if (!isVowel(c) && !isMark(c)) return false;
        while (isVowel(word.at(pos)) || isMark(word.at(pos))) ++pos;
        break;
      case '%':
        if (pos <= word.size()) return false;
        break;
      case '&':
        if (c == '\0' || std::strchr("LMNRZlmnrz", c) == nullptr) return false;
        ++pos;
        break;
      case '*':
        if (!isConsonant(c) || std::strchr("LRlr", c) != nullptr) return false;
        break;
      case '+':
        if (!isFrontVowel(c)) return false;
        pos += isMark(word.at(pos + 1)) ? 2 : 1;
        break;
      case '[':
        if (pos <= word.size() && (!isConsonant(c) || c == 'h' || c == 'H')) return false;
        break;
      case '\\':
        if (c == 's' || c == 'S') ++pos;
        break;
      default:
        if (c == '\0' || toUpper(c) != sym) return false;
        ++pos;
        break;
    }
  }
  return true;
}

bool matchAt(const WordView& word, const std::string& match, int pos) {
  if (pos + static_cast<int>(match.size()) - 1 > word.size()) return false;
  for (size_t k = 0; k < match.size(); ++k)
    if (toUpper(word.at(pos + static_cast<int>(k))) != match[k]) return false;
  return true;
}

bool findException(const std::string& word, std::string& replacement) {
  const auto& list = state().exceptions;
  auto it = std::lower_bound(list.begin(), list.end(), word,
                             [](const DiphoneException& e, const std::string& w) { return e.word < w; });
  if (it == list.end() || it->word != word) return false;
  replacement = it->replacement;
  return true;
}

void countWord(DiphoneWord& word) {
  word.vowelCount = 0;
  word.explicitStress = false;
  const std::string& w = word.letters;
  for (size_t i = 0; i < w.size(); ++i) {
    if (isVowel(w[i])) ++word.vowelCount;
    if (i + 1 < w.size() && isStressMark(w[i + 1])) word.explicitStress = true;
  }
}

}  // namespace

// ---- Loading ----------------------------------------------------------------

void parseDiphoneRules(std::string_view text) {
  for (auto& list : state().rules) list.clear();
  for (const std::string& line : splitLines(text)) {
    if (!line.empty() && line[0] == ';') continue;
    DiphoneRule rule = parseRuleLine(line);
    if (rule.match.empty()) continue;
    auto first = static_cast<unsigned char>(rule.match[0]);
    if (first < kFirstIndexed || first > kLastIndexed) continue;
    state().rules[first - kFirstIndexed].push_back(std::move(rule));
  }
}

bool loadDiphoneRules(const std::string& fileName) {
  for (auto& list : state().rules) list.clear();
  std::string text;
  if (!readWholeFile(fileName, text)) return false;
  parseDiphoneRules(text);
  return true;
}

void parseDiphoneExceptions(std::string_view text) {
  auto& list = state().exceptions;
  list.clear();
  for (std::string line : splitLines(text)) {
    if (list.size() >= kDiphoneExceptionMax) break;
    if (line.size() > kExceptionLineMax) line.resize(kExceptionLineMax);
    if (line.empty()) continue;
    line += "|=|";
    size_t equals = line.find('=');
    size_t bar = line.find('|', equals + 1);
    list.push_back({line.substr(0, equals), line.substr(equals + 1, bar - equals - 1)});
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const DiphoneException& a, const DiphoneException& b) { return a.word < b.word; });
}

bool loadDiphoneExceptions(const std::string& fileName) {
  state().exceptions.clear();
  std::string text;
  if (!readWholeFile(fileName, text)) return false;
  parseDiphoneExceptions(text);
  return true;
}

void freeDiphoneRules() {
  for (auto& list : state().rules) list.clear();
  state().exceptions.clear();
}

const std::vector<DiphoneRule>& diphoneRulesFor(unsigned char first) {
  if (first < kFirstIndexed || first > kLastIndexed) return noRules();
  return state().rules[first - kFirstIndexed];
}

const std::vector<DiphoneException>& diphoneExceptions() { return state().exceptions; }

// ---- Translation ------------------------------------------------------------

std::string_view diphoneAccentEntry(unsigned char byte) {
  if (byte < 128) return {};
  return accents().entry[byte - 128];
}

std::string rewriteDiphoneText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    auto b = static_cast<unsigned char>(c);
    bool letterBefore = i > 0 && isLetter(text[i - 1]);
    bool letterAfter = i + 1 < text.size() && isLetter(text[i + 1]);
    if ((c == 'W' || c == 'w') && (letterBefore || letterAfter)) {
      out += 'u';
    } else if ((c == 'Y' || c == 'y') && (letterBefore || letterAfter)) {
      out += 'i';
    } else if ((c == '\'' || b == 0x92) && i > 0 && (text[i - 1] == 'D' || text[i - 1] == 'd')) {
      // "d'água" (also with the typographic apostrophe): the d joins the next word
    } else if (b >= 128) {
      std::string_view entry = diphoneAccentEntry(b);
      if (entry.empty()) out += " # ";
      else out += entry;
    } else if (b < 32) {
      out += " # ";
    } else {
      out += c;
    }
  }
  return out;
}

bool readWord(std::string_view text, size_t& pos, DiphoneWord& word) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos >= text.size()) return false;
  word = DiphoneWord{};
  char first = toLower(text[pos]);
  if (!isLetter(first)) {
    word.letters = std::string(1, first);
    ++pos;
    return true;
  }
  while (pos < text.size() && isWordChar(text[pos]) && word.letters.size() < kDiphoneWordMax) {
    char c = toLower(text[pos]);
    word.letters += c;
    if (isVowel(c)) ++word.vowelCount;
    ++pos;
    if (pos < text.size() && isStressMark(text[pos])) word.explicitStress = true;
  }
  return true;
}

void applyDiphoneException(DiphoneWord& word) {
  std::string w = word.letters;
  std::string setAside;
  std::string replacement;
  while (!w.empty()) {
    if (findException(w, replacement)) {
      word.letters = replacement + setAside;
      if (word.letters.size() > kDiphoneWordMax) word.letters.resize(kDiphoneWordMax);
      // The replacement has its own vowels and marks; counting them again
      // lets a listed word carry (or drop) an explicit stress mark.
      countWord(word);
      return;
    }
    char last = w.back();
    if (last != 's' && last != 'm') return;
    setAside.insert(setAside.begin(), last);
    w.pop_back();
  }
}

void markStress(DiphoneWord& word) {
  std::string& w = word.letters;
  const int n = static_cast<int>(w.size());
  if (word.explicitStress || word.vowelCount == 0 || n == 0) return;
  if (word.vowelCount == 1 && w.back() != 'l') return;
  WordView v{w};
  auto mark = [&w, n](int p) {
    if (p >= 1 && p <= n) w[static_cast<size_t>(p - 1)] = toUpper(w[static_cast<size_t>(p - 1)]);
  };
  int s = 0;
  for (int p = n; p >= 1; --p) {
    char c = v.at(p);
    int next = s;
    switch (s) {
      case 0:
        if (c == 'a' || c == 'e' || c == 'o') next = 5;
        else if (c == 'i' || c == 'u') next = 3;
        else if (c != '\0' && std::strchr("lnrxz", c)) next = 1;
        else if (c == 'm') next = 2;
        else if (c == 's') next = 4;
        break;
      case 1:
        if (isVowel(c)) next = 6;
        break;
      case 2:
        if (c == 'a' || c == 'e') next = 5;
        else if (c == 'i' || c == 'u') next = 3;
        else if (c == 'o') next = 6;
        break;
      case 3:
        if (isConsonant(c)) next = 7;
        else if (c == 'u' && isGQ(v.at(p - 1))) next = 7;
        else next = 6;
        break;
      case 4:
        if (c == 'a' || c == 'e' || c == 'o') next = 5;
        else if (c == 'i' || c == 'u') next = 3;
        break;
      case 5:
        if (c == 'a' || c == 'e' || c == 'o') next = 6;
        else if (c == 'i' || c == 'u') next = 8;
        break;
      case 8:
        if (isConsonant(c)) {
          next = 7;
        } else if (c == 'u' && isGQ(v.at(p - 1))) {
          next = 7;
        } else {
          // The i/u at p + 1 is a nucleus of its own when a coda l, m, n, r
          // or z follows it (ainda, rainha); otherwise it is a glide.
          char after = v.at(p + 2);
          next = 6;
          if (after != '\0' && std::strchr("lmnrz", after)) {
            char then = v.at(p + 3);
            bool digraph = (after == 'n' && then == 'h') || (after == 'r' && then == 'r');
            bool codaBeforeConsonant = isConsonant(then) && then != 'h';
            if (digraph || codaBeforeConsonant) next = 7;
          }
        }
        break;
      default:
        break;
    }
    if (next == 6) {
      mark(p);
      return;
    }
    if (next == 7) {
      mark(p + 1);
      return;
    }
    s = next;
  }
}

std::string wordToUnits(const DiphoneWord& word) {
  const std::string& w = word.letters;
  WordView v{w};
  const int n = v.size();
  std::string out = "[";
  int pos = 1;
  while (pos <= n) {
    char letter = v.at(pos);
    char c = toUpper(letter);
    std::string output = std::string(" /_") + c;
    int advance = 1;
    for (const DiphoneRule& rule : diphoneRulesFor(static_cast<unsigned char>(c))) {
      if (!matchAt(v, rule.match, pos)) continue;
      if (!leftContextMatches(v, rule.left, pos - 1)) continue;
      if (!rightContextMatches(v, rule.right, pos + static_cast<int>(rule.match.size()))) continue;
      output = rule.output;
      advance = static_cast<int>(rule.match.size());
      break;
    }
    if (isUpperVowel(letter)) {
      for (char& o : output) {
        if (isVowel(o)) {
          o = toUpper(o);
          break;
        }
      }
    }
    out += output;
    pos += advance;
    if (pos <= n) out += '/';
  }
  out += ']';
  return out;
}

std::string translateToPhonetic(std::string_view text) {
  std::string rewritten = rewriteDiphoneText(text);
  std::string result;
  size_t pos = 0;
  DiphoneWord word;
  while (readWord(rewritten, pos, word)) {
    applyDiphoneException(word);
    markStress(word);
    bool spell = std::all_of(word.letters.begin(), word.letters.end(),
                             [](char c) { return isConsonant(c) || isPause(c); });
    if (spell) {
      for (char c : word.letters) result += std::string("[ /_") + c + "]";
    } else {
      result += wordToUnits(word);
    }
  }
  return result;
}

}  // namespace ondaria
