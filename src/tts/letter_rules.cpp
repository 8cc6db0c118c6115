#include "tts/letter_rules.h"

#include <algorithm>

#include "tts/koral_text.h"
#include "tts/prosody.h"

namespace ondaria::koral {

namespace {

bool isBackVowel(uint8_t c) {
  switch (upperByte(c)) {
    case 'A': case 'O': case 0xC1: case 0xC2: case 0xD3: case 0xD4:
      return true;
    default:
      return false;
  }
}

bool isFrontVowel(uint8_t c) {
  switch (upperByte(c)) {
    case 'E': case 'I': case 0xC9: case 0xCD:
      return true;
    default:
      return false;
  }
}

// Where a rule is tried: the word, the match's first letter (0-based) and the
// stressed letter (0-based, -1 for none).
struct Place {
  std::string_view word;
  size_t start;
  long stressed;
};

bool leftHolds(const std::string& context, const Place& at) {
  long j = static_cast<long>(at.start) - 1;  // the letter looked at
  for (size_t n = context.size(); n-- > 0;) {
    uint8_t sym = static_cast<uint8_t>(context[n]);
    bool has = j >= 0;
    uint8_t c = has ? static_cast<uint8_t>(at.word[static_cast<size_t>(j)]) : 0;
    switch (sym) {
      case '#':
        if (!has || !isVowel(c)) return false;
        --j;
        break;
      case '%':
        if (has) return false;
        break;
      case ']':
        if (!has || !isBackVowel(c)) return false;
        --j;
        break;
      case '_':
        if (has) {
          if (!isVowel(c)) return false;
          --j;
        }
        break;
      case '|': {
        uint8_t u = upperByte(c);
        if (!has || (u != 'N' && u != 'R' && u != 'S')) return false;
        --j;
        break;
      }
      case '\'':
        if (static_cast<long>(at.start) != at.stressed) return false;
        break;
      default:
        if (!has || upperByte(c) != sym) return false;
        --j;
    }
  }
  return true;
}

bool rightHolds(const std::string& context, const Place& at, size_t matchLength) {
  size_t k = at.start + matchLength;
  for (uint8_t sym : context) {
    bool has = k < at.word.size();
    uint8_t c = has ? upperByte(static_cast<uint8_t>(at.word[k])) : 0;
    switch (sym) {
      case '#':
        if (!has || !isVowel(c)) return false;
        ++k;
        break;
      case '%':
        if (has) return false;
        break;
      case '&':
        if (!has || (c != 'L' && c != 'M' && c != 'N' && c != 'R' && c != 'Z')) return false;
        ++k;
        break;
      case '*':
        if (!has || !isConsonant(c) || c == 'L' || c == 'R') return false;
        break;
      case '+':
        if (!has || !isFrontVowel(c)) return false;
        ++k;
        break;
      case '[':
        if (has && (!isConsonant(c) || c == 'H')) return false;
        break;
      case '\\':
        if (has && c == 'S') ++k;
        break;
      case '\'':
        if (static_cast<long>(at.start) != at.stressed) return false;
        break;
      default:
        if (!has || c != sym) return false;
        ++k;
    }
  }
  return true;
}

bool matchHolds(const std::string& match, const Place& at) {
  if (at.start + match.size() > at.word.size()) return false;
  for (size_t i = 0; i < match.size(); ++i)
    if (upperByte(static_cast<uint8_t>(at.word[at.start + i])) != static_cast<uint8_t>(match[i]))
      return false;
  return true;
}

// The pause item of a punctuation mark, or empty.
std::string pauseItem(uint8_t c) {
  switch (c) {
    case ',': case ':': case ';': case '.': case '(': case ')': case '!': case '?':
      return std::string("_") + static_cast<char>(c);
    default:
      return {};
  }
}

}  // namespace

// ---- Tables ----------------------------------------------------------------

size_t LetterRules::ruleCount() const {
  size_t n = 0;
  for (const auto& list : index_) n += list.size();
  return n;
}

void LetterRules::addRule(LetterRule rule) {
  if (rule.match.empty()) return;
  uint8_t first = static_cast<uint8_t>(rule.match[0]);
  index_[first].push_back(std::move(rule));
}

void LetterRules::freeRules() {
  for (auto& list : index_) {
    list.clear();
    list.shrink_to_fit();
  }
}

void LetterRules::setExceptions(std::vector<std::pair<std::string, std::string>> sorted) {
  exceptions_ = std::move(sorted);
}

bool loadRules(const std::string& fileName, LetterRules& rules) {
  rules.freeRules();
  std::vector<std::string> lines;
  if (!readLines(fileName, lines)) return false;
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == ';') continue;
    size_t open = line.find('(');
    if (open == std::string::npos) continue;
    LetterRule r;
    r.left = line.substr(0, open).substr(0, LetterRules::kMaxContext);
    size_t close = line.find(')', open + 1);
    if (close == std::string::npos) {
      r.match = line.substr(open + 1);
    } else {
      r.match = line.substr(open + 1, close - open - 1);
      size_t eq = line.find('=', close + 1);
      r.right = line.substr(close + 1, eq == std::string::npos ? std::string::npos : eq - close - 1);
      if (eq != std::string::npos) {
        size_t bar = line.find('|', eq + 1);
        r.output = line.substr(eq + 1, bar == std::string::npos ? std::string::npos : bar - eq - 1);
      }
    }
    // Matches are compared with upper-cased letters.
    r.match = upperText(r.match.substr(0, LetterRules::kMaxContext));
    r.right = r.right.substr(0, LetterRules::kMaxContext);
    // Blanks and controls can never be part of a phoneme symbol: a stray blank
    // before a comment would otherwise become one.
    std::string out;
    for (uint8_t c : r.output)
      if (c > ' ' && c != 0x7F) out += static_cast<char>(c);
    r.output = out.substr(0, LetterRules::kMaxOutputStored);
    if (static_cast<uint8_t>(r.match.empty() ? 0 : r.match[0]) < 32) continue;
    rules.addRule(std::move(r));
  }
  return true;
}

bool loadExceptions(const std::string& fileName, LetterRules& rules) {
  std::vector<std::string> lines;
  if (!readLines(fileName, lines)) return false;
  std::vector<std::pair<std::string, std::string>> list;
  for (const std::string& raw : lines) {
    if (list.size() >= LetterRules::kMaxExceptions) break;
    std::string line = upperText(raw);
    if (line.empty() || line[0] == ';') continue;
    size_t eq = line.find('=');
    // A line without "=" names a word with nothing to put in its place.
    if (eq == std::string::npos) continue;
    size_t bar = line.find('|', eq + 1);
    std::string w = trimText(std::string_view(line).substr(0, eq));
    std::string r = trimText(std::string_view(line).substr(
        eq + 1, bar == std::string::npos ? std::string::npos : bar - eq - 1));
    if (w.empty()) continue;
    list.emplace_back(std::move(w), std::move(r));
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  rules.setExceptions(std::move(list));
  return true;
}

std::string applyException(const LetterRules& rules, std::string_view word) {
  const auto& list = rules.exceptions();
  std::string w(word);
  std::string removed;
  while (!w.empty()) {
    auto it = std::lower_bound(list.begin(), list.end(), w,
                               [](const auto& e, const std::string& key) { return e.first < key; });
    if (it != list.end() && it->first == w) return it->second + removed;
    char last = w.back();
    if (last != 'S' && last != 'M') break;
    removed.insert(removed.begin(), last);
    w.pop_back();
  }
  return std::string(word);
}

void wordToPhonemes(const LetterRules& rules, std::string_view word, int stressPosition,
                    std::vector<std::string>& list) {
  Place at{word, 0, stressPosition >= 1 ? stressPosition - 1 : -1};
  bool markPending = stressPosition >= 1;
  std::string current;
  while (at.start < word.size()) {
    uint8_t c = static_cast<uint8_t>(word[at.start]);
    const LetterRule* found = nullptr;
    if (c >= 32) {
      for (const LetterRule& r : rules.rulesFor(upperByte(c))) {
        if (matchHolds(r.match, at) && leftHolds(r.left, at) && rightHolds(r.right, at, r.match.size())) {
          found = &r;
          break;
        }
      }
    }
    if (found == nullptr) {
      ++at.start;  // a letter no rule covers is silent
      continue;
    }
    size_t used = std::min(found->output.size(), LetterRules::kMaxOutputUsed);
    for (size_t i = 0; i < used; ++i) {
      if (markPending && static_cast<long>(at.start) >= at.stressed) {
        current += '>';
        markPending = false;  // only one mark per word
      }
      char o = found->output[i];
      if (o == '&') {
        list.push_back(std::move(current));
        current.clear();
      } else {
        current += o;
      }
    }
    if (used > 0) {
      list.push_back(std::move(current));
      current.clear();
    }
    at.start += found->match.size();
  }
  list.push_back(std::move(current));
}

std::vector<std::string> textToPhonemes(const LetterRules& rules,
                                        const std::vector<std::string>& codedWords) {
  std::vector<std::string> list;
  for (const std::string& item : codedWords) {
    list.push_back(";" + item);
    std::string w = item.size() > 4 ? upperText(std::string_view(item).substr(4)) : std::string();
    if (w.empty()) {
      list.emplace_back("__");
      list.emplace_back();
      continue;
    }
    uint8_t first = static_cast<uint8_t>(w[0]);
    if (first == ' ' || !pauseItem(first).empty()) {
      if (first != ' ') list.push_back(pauseItem(first));
      continue;
    }
    std::string replaced = applyException(rules, w);
    int stress = isFunctionWord(w) ? 0 : stressPosition(lowerText(replaced));
    wordToPhonemes(rules, replaced, stress, list);
  }
  list.emplace_back("__");
  joinWords(list);
  return list;
}

void joinWords(std::vector<std::string>& list) {
  auto isMarker = [](const std::string& s) { return s.size() >= 5 && s[0] == ';' && s[4] == '|'; };
  for (size_t m = 3; m + 1 < list.size(); ++m) {
    if (!isMarker(list[m])) continue;
    std::string_view next = list[m + 1];
    while (!next.empty() && (next[0] == '>' || next[0] == '\xA8')) next.remove_prefix(1);
    if (next.empty() || std::string_view("aeiouwy").find(next[0]) == std::string_view::npos) continue;
    std::string& last = list[m - 2];
    size_t mark = 0;
    while (mark < last.size() && (last[mark] == '>' || last[mark] == '\xA8')) ++mark;
    std::string_view name = std::string_view(last).substr(mark);
    if (name == "r2") last = last.substr(0, mark) + "r";
    else if (name == "s2") last = last.substr(0, mark) + "z";
  }
}

}  // namespace ondaria::koral
