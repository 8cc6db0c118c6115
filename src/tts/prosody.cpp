#include "tts/prosody.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/codepage.h"
#include "tts/koral_text.h"

namespace ondaria::koral {

namespace {

// Upper-cased section headers as they stand in the file (Windows-1252).
const std::string& durationSection() {
  static const std::string s = platform::utf8ToCp1252("[DURAÇÃO]");
  return s;
}
const std::string& prosodySection() {
  static const std::string s = platform::utf8ToCp1252("[PROSÓDIA]");
  return s;
}
std::string message(const char* utf8) { return platform::utf8ToCp1252(utf8); }

// Reads a whole number (blanks around it allowed).
bool parseInt(std::string_view text, int& value) {
  std::string t = trimText(text);
  if (t.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(t.c_str(), &end, 10);
  if (end == t.c_str() || *end != '\0') return false;
  value = static_cast<int>(std::clamp(v, -1000000L, 1000000L));
  return true;
}

// Index of the line after the section header, or lines.size() when missing.
size_t findSection(const std::vector<std::string>& lines, const std::string& header) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (upperText(trimText(lines[i])) == header) return i + 1;
  return lines.size() + 1;
}

// The section's content lines from `start` to the next "[" line.
template <typename F>
bool forSection(const std::vector<std::string>& lines, size_t start, F each) {
  for (size_t i = start; i < lines.size(); ++i) {
    std::string t = trimText(lines[i]);
    if (t.empty() || t[0] == ';' || t[0] == '*') continue;
    if (t[0] == '[') break;
    if (!each(t)) return false;
  }
  return true;
}

bool isNameChar(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '@' || c == '_' || c == '2';
}

}  // namespace

// ---- Tables ----------------------------------------------------------------

int Prosody::duration(std::string_view phoneme) const {
  for (const auto& [name, ms] : durations)
    if (name == phoneme) return ms;
  return kDefaultDuration;
}

std::string Prosody::wordClass(std::string_view upperWord) const {
  auto it = std::lower_bound(keywords.begin(), keywords.end(), upperWord,
                             [](const auto& e, std::string_view key) { return e.first < key; });
  if (it != keywords.end() && it->first == upperWord) return it->second;
  return "XX";
}

void Prosody::clear() { *this = Prosody(); }

bool DiphoneList::has(std::string_view first, std::string_view second) const {
  std::string key = upperText(first);
  key += '-';
  key += upperText(second);
  return pairs_.count(key) != 0;
}

void DiphoneList::add(std::string_view first, std::string_view second) {
  std::string key = upperText(first);
  key += '-';
  key += upperText(second);
  pairs_.emplace(std::move(key), true);
}

bool loadProsody(const std::string& fileName, Prosody& p, std::string& error) {
  p.clear();
  std::vector<std::string> lines;
  if (!readLines(fileName, lines)) {
    error = message("Configuração da prosódia não foi achada");
    return false;
  }
  // Durations.
  size_t start = findSection(lines, durationSection());
  if (start > lines.size()) {
    error = message("Duração dos difones errada ou ausente");
    return false;
  }
  bool ok = forSection(lines, start, [&](const std::string& t) {
    size_t eq = t.find('=');
    if (eq == std::string::npos) {
      error = message("Configuração da prosódia: fonema errado: ") + t;
      return false;
    }
    int ms = Prosody::kDefaultDuration;
    if (!parseInt(std::string_view(t).substr(eq + 1), ms)) {
      error = message("Configuração da prosódia: fonema errado: ") + t;
      ms = Prosody::kDefaultDuration;
    }
    if (p.durations.size() < Prosody::kMaxDurations)
      p.durations.emplace_back(trimText(std::string_view(t).substr(0, eq)).substr(0, 2), ms);
    return true;
  });
  if (!ok) return false;
  // Keywords.
  start = findSection(lines, "[CHAVES]");
  if (start > lines.size()) {
    error = message("Prosódia: palavras chaves ausentes");
    return false;
  }
  ok = forSection(lines, start, [&](const std::string& t) {
    size_t eq = t.find('=');
    if (eq == std::string::npos) {
      error = message("Configuração da prosódia: chave errada: ") + t;
      return false;
    }
    if (p.keywords.size() < Prosody::kMaxKeywords)
      p.keywords.emplace_back(upperText(trimText(std::string_view(t).substr(0, eq))),
                              upperText(trimText(std::string_view(t).substr(eq + 1))).substr(0, 2));
    return true;
  });
  if (!ok) return false;
  std::stable_sort(p.keywords.begin(), p.keywords.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  // Intonation.
  start = findSection(lines, prosodySection());
  if (start > lines.size()) {
    error = message("Prosódia: especificações ausentes");
    return false;
  }
  ok = forSection(lines, start, [&](const std::string& raw) {
    std::string t = upperText(raw);
    if (t.rfind("HERTZ=", 0) == 0) {
      int hz = 0;
      if (parseInt(std::string_view(t).substr(6), hz) && hz > 0) p.hertz = hz;
      return true;
    }
    if (t.rfind("TABHERTZ=", 0) == 0) {
      std::string_view rest = std::string_view(t).substr(9);
      for (int d = 0; d < 10; ++d) {
        size_t comma = rest.find(',');
        int v = 0;
        if (parseInt(rest.substr(0, comma), v)) p.pitchTable[d] = std::max(v, 0);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
      }
      return true;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos) {
      error = message("Configuração da prosódia: chave errada: ") + raw;
      return false;
    }
    ProsodyRule r;
    std::string_view pats = std::string_view(t).substr(0, eq);
    std::string* parts[3] = {&r.previous, &r.current, &r.next};
    for (int i = 0; i < 3; ++i) {
      size_t bar = pats.find('|');
      *parts[i] = trimText(pats.substr(0, bar)).substr(0, 3);
      if (bar == std::string_view::npos) break;
      pats.remove_prefix(bar + 1);
    }
    r.code = trimText(std::string_view(t).substr(eq + 1));
    if (p.rules.size() < Prosody::kMaxRules) p.rules.push_back(std::move(r));
    return true;
  });
  if (!ok) return false;
  error.clear();
  return true;
}

bool loadDiphones(const std::string& fileName, DiphoneList& diphones) {
  std::vector<std::string> lines;
  if (!readLines(fileName, lines)) return false;
  diphones.clear();
  for (const std::string& raw : lines) {
    std::string t = trimText(raw);
    if (t.empty() || t[0] == '!' || t[0] == '*' || t[0] == ';') continue;
    size_t i = 0;
    while (i < t.size() && isNameChar(static_cast<uint8_t>(t[i]))) ++i;
    std::string first = t.substr(0, i);
    while (i < t.size() && !isNameChar(static_cast<uint8_t>(t[i]))) ++i;
    size_t s = i;
    while (i < t.size() && isNameChar(static_cast<uint8_t>(t[i]))) ++i;
    std::string second = t.substr(s, i - s);
    if (first.empty() || second.empty()) continue;
    diphones.add(first, second);
  }
  return true;
}

// ---- Words and codes -----------------------------------------------------------

std::vector<std::string> splitWords(std::string_view text, const Prosody& prosody) {
  std::vector<std::string> items{"[--]"};
  size_t p = 0;
  while (p < text.size()) {
    uint8_t c = static_cast<uint8_t>(text[p]);
    // A hyphen joins the parts of a compound word; each part is a word of its own.
    if (c == ' ' || c == '-') {
      ++p;
      continue;
    }
    if (c == '.' && p + 1 < text.size() && text[p + 1] == '.') {
      while (p < text.size() && text[p] == '.') ++p;
      items.emplace_back("[.-].-");
      items.emplace_back("[--]");
      continue;
    }
    if (!isLetter(c)) {
      std::string item = "[";
      item += static_cast<char>(c);
      item += static_cast<char>(c);
      item += ']';
      item += static_cast<char>(c);
      items.push_back(std::move(item));
      ++p;
      if (c == '!' || c == '.' || c == '?') items.emplace_back("[--]");
      continue;
    }
    size_t start = p;
    while (p < text.size() && isLetter(static_cast<uint8_t>(text[p]))) ++p;
    std::string_view w = text.substr(start, p - start);
    items.push_back("[" + prosody.wordClass(upperText(w)) + "]" + std::string(w));
  }
  return items;
}

std::vector<std::string> assignCodes(const std::vector<std::string>& items, const Prosody& prosody) {
  auto classOf = [](const std::string* item) -> std::string {
    if (item == nullptr || item->size() < 3) return {};
    return item->substr(1, 2);
  };
  std::vector<std::string> out;
  out.reserve(items.size());
  char previousLast = '5';
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string& item = items[i];
    if (item.empty()) continue;
    std::string prev = classOf(i > 0 ? &items[i - 1] : nullptr);
    std::string cur = classOf(&item);
    std::string next = classOf(i + 1 < items.size() ? &items[i + 1] : nullptr);
    std::string code = "555";
    for (const ProsodyRule& r : prosody.rules) {
      if ((!r.previous.empty() && r.previous != prev) || (!r.current.empty() && r.current != cur) ||
          (!r.next.empty() && r.next != next))
        continue;
      code = r.code;
      if (!code.empty() && code[0] == '?') code[0] = previousLast;
      break;
    }
    // Codes the pitch stage can read: three digits (a rule with another code
    // keeps the neutral digit where it has none).
    code.resize(3, '5');
    for (char& d : code)
      if (d < '0' || d > '9') d = '5';
    previousLast = code[2];
    out.push_back(code + "|" + (item.size() > 4 ? item.substr(4) : std::string()));
  }
  return out;
}

// ---- Stress ----------------------------------------------------------------------

bool isFunctionWord(std::string_view w) {
  if (w.size() <= 2) return true;
  static const std::string nao = platform::utf8ToCp1252("NÃO");
  return w == "POR" || w == "DAS" || w == "DOS" || w == "COM" || w == nao || w == "SIM";
}

int stressPosition(std::string_view w) {
  const int n = static_cast<int>(w.size());
  // Written accents: an acute or circumflex marks the stressed vowel; a tilde
  // does when the word has neither (órgão, bênção are stressed on the first
  // syllable); the grave of a crasis never does.
  int tilde = 0;
  for (int i = n - 1; i >= 0; --i) {
    switch (static_cast<uint8_t>(w[i])) {
      case 0xE1: case 0xE2: case 0xE9: case 0xEA: case 0xED: case 0xF3: case 0xF4: case 0xFA:
        return i + 1;
      case 0xE3: case 0xF5:
        if (tilde == 0) tilde = i + 1;
        break;
      default:
        break;
    }
  }
  if (tilde != 0) return tilde;
  static constexpr std::string_view anyVowel = "aeiouwy\xFC";
  if (w.find_first_of(anyVowel) == std::string_view::npos) return 0;

  enum State {
    Start, AfterFinalVowel, Penultimate, AfterIU, UBeforeFinalVowel, UBeforeIU, FinalU, FinalI,
    UAfterFinalI, FinalConsonant, FinalM
  };
  auto isAEO = [](char c) { return c == 'a' || c == 'e' || c == 'o'; };
  auto vowel = [](char c) { return std::string_view("aeiou\xFC").find(c) != std::string_view::npos; };
  State st = Start;
  int noted = 0;
  bool finalS = false;
  for (int i = n - 1; i >= 0; --i) {
    char c = w[i];
    int here = i + 1;
    switch (st) {
      case Start:
        if (isAEO(c)) { noted = here; st = AfterFinalVowel; }
        else if (c == 'i') { noted = here; st = FinalI; }
        else if (c == 'u') { noted = here; st = FinalU; }
        // A final "ns" is the plural of "m" (homem, homens): read alike.
        else if (c == 'm' || (c == 'n' && finalS)) st = FinalM;
        else if (c == 's') { st = Start; finalS = true; }
        else st = FinalConsonant;
        break;
      case AfterFinalVowel:
        if (c == 'u') st = UBeforeFinalVowel;
        // An unaccented i between vowels is a glide of the vowel before it:
        // praia, maio, meio, joia (a stressed i there carries an accent: saía).
        else if (c == 'i' && i > 0 && isAEO(w[i - 1])) return here - 1;
        else if (vowel(c)) return here;
        else st = Penultimate;
        break;
      case Penultimate:
        if (isAEO(c)) return here;
        if (c == 'i' || c == 'u') { noted = here; st = AfterIU; }
        break;
      case AfterIU:
        if (isAEO(c)) return here;
        if (c == 'u') st = UBeforeIU;
        else return noted;
        break;
      case UBeforeFinalVowel:
        if (c == 'g' || c == 'q') { noted = here + 2; st = Penultimate; }
        else return here + 1;
        break;
      case UBeforeIU:
        return (c == 'g' || c == 'q') ? here + 2 : here + 1;
      case FinalU:
        if (isAEO(c) || c == 'i') return here;
        return noted;
      case FinalI:
        if (isAEO(c)) noted = here;
        else if (c == 'u') st = UAfterFinalI;
        else return noted;
        break;
      case UAfterFinalI:
        return (c == 'g' || c == 'q') ? here + 2 : here + 1;
      case FinalConsonant:
        if (vowel(c)) return here;
        break;
      case FinalM:
        if (c == 'a' || c == 'e') { noted = here; st = AfterFinalVowel; }
        else if (c == 'i' || c == 'o' || c == 'u') return here;
        else st = Start;
        break;
    }
  }
  return std::min(noted, n);
}

// ---- Lines for the synthesiser --------------------------------------------------

std::vector<std::string> buildMbrolaLines(const std::vector<std::string>& list, const Prosody& prosody,
                                          const DiphoneList& diphones, double pitchFactor,
                                          double durationFactor) {
  std::vector<std::string> out;
  out.reserve(list.size() * 2);
  std::string code = "555";
  int stress = 0;
  int percent = 100;
  size_t wordLength = 0;
  std::string previous = "_";
  auto pitchPoint = [&](char digit, int position) -> std::string {
    int entry = prosody.pitchTable[static_cast<size_t>(digit - '0')];
    if (entry == 0) return {};
    long hz = std::lround(entry * pitchFactor * prosody.hertz / 100.0);
    return " " + std::to_string(position) + " " + std::to_string(hz);
  };
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string& item = list[i];
    if (item.size() >= 5 && item[0] == ';' && item[4] == '|') {
      code = item.substr(1, 3);
      std::string line = ";" + item.substr(5);
      wordLength = line.size();
      stress = 0;
      out.push_back(std::move(line));
      continue;
    }
    if (item.empty()) {
      percent = 100;
      out.push_back(item);
      continue;
    }
    std::string_view ph = item;
    if (ph[0] == '>') {
      ph.remove_prefix(1);
      if (!ph.empty() && ph[0] == '\xA8') ph.remove_prefix(1);
      percent = 145;
      stress = 2;
    } else if (ph[0] == '\xA8') {
      ph.remove_prefix(1);
      percent = 100;
    }
    if (ph.empty()) continue;
    std::string name;
    int ms = 0;
    if (ph[0] == '_') {
      name = "_";
      int given = 0;
      if (ph == "_") ms = 100;
      else if (ph[1] == ' ' && parseInt(ph.substr(2), given) && given > 0) ms = given;
      else ms = prosody.duration(ph);
    } else {
      name = std::string(ph);
      ms = prosody.duration(ph);
      if (stress < 2) {
        if (wordLength > 13) ms = ms * 80 / 100;
        else if (wordLength > 9) ms = ms * 90 / 100;
      }
    }
    long length = std::lround(ms * percent * durationFactor / 100.0);
    std::string line = name + " " + std::to_string(length);
    bool lastOfWord = i + 1 >= list.size() || list[i + 1].empty();
    if (stress == 0) {
      line += pitchPoint(code[0], 50);
      stress = 1;
    } else if (stress == 2) {
      line += pitchPoint(code[1], 80);
      stress = 3;
    } else if (stress == 3 && lastOfWord) {
      line += pitchPoint(code[2], 50);
    }
    if (!diphones.has(previous, name)) {
      if (previous != "_" && diphones.has("_", name)) out.emplace_back("_ 50");
      else out.emplace_back(diphones.has("y", name) ? "y 50" : "_ 50");
    }
    previous = name;
    out.push_back(std::move(line));
  }
  return out;
}

}  // namespace ondaria::koral
