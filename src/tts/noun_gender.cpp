#include "tts/noun_gender.h"

#include <algorithm>

#include "tts/koral_text.h"

namespace ondaria::koral {

namespace {

bool endsWith(std::string_view s, std::string_view end) {
  return s.size() > end.size() && s.substr(s.size() - end.size()) == end;
}

// The word and the singulars its plural may stand for, most likely first:
// CASAS CASA, EDIÇÕES EDIÇÃO, MULHERES MULHER, MENSAGENS MENSAGEM, ANIMAIS
// ANIMAL. Wrong guesses do no harm: they are only looked up.
std::vector<std::string> forms(std::string_view w) {
  std::vector<std::string> out{std::string(w)};
  if (w.size() < 3 || w.back() != 'S') return out;
  std::string_view stem = w.substr(0, w.size() - 1);
  out.emplace_back(stem);
  if (endsWith(w, "\xD5" "ES") || endsWith(w, "\xC3" "ES"))
    out.push_back(std::string(w.substr(0, w.size() - 3)) + "\xC3O");
  // -es follows only r, s and z: mulheres, meses, vezes (not cães: cã).
  if (endsWith(w, "ES") && std::string_view("RSZ").find(w[w.size() - 3]) != std::string_view::npos)
    out.emplace_back(w.substr(0, w.size() - 2));
  if (endsWith(w, "NS")) out.push_back(std::string(w.substr(0, w.size() - 2)) + "M");
  if (endsWith(w, "IS")) out.push_back(std::string(w.substr(0, w.size() - 2)) + "L");
  return out;
}

}  // namespace

void NounGenders::clear() {
  words_.clear();
  endings_.clear();
  longestEnding_ = 0;
}

bool NounGenders::addLine(std::string_view line) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  // Blanks inside a key are one blank: "DA  TARDE" is "DA TARDE".
  std::string key;
  for (char c : upperText(trimText(line.substr(0, eq))))
    if (c != ' ' || key.back() != ' ') key += c;
  std::string value = upperText(trimText(line.substr(eq + 1)));
  if (key.empty() || key == "-" || value.empty() || (value[0] != 'F' && value[0] != 'M')) return false;
  if (size() >= kMaxEntries) return false;
  bool feminine = value[0] == 'F';
  if (key[0] == '-') {
    key.erase(0, 1);
    if (key.size() > kMaxEnding) return false;
    endings_.emplace(key, feminine);  // the first of equal keys counts
    longestEnding_ = std::max(longestEnding_, key.size());
  } else {
    words_.emplace(key, feminine);
  }
  return true;
}

bool NounGenders::feminine(std::string_view w) const {
  if (w.empty()) return false;
  std::vector<std::string> candidates = forms(w);
  for (const std::string& f : candidates) {
    auto it = words_.find(f);
    if (it != words_.end()) return it->second;
  }
  for (const std::string& f : candidates) {
    if (f.empty()) continue;
    // An ending is shorter than the word it ends: "-A" says nothing of "A".
    for (size_t n = std::min(longestEnding_, f.size() - 1); n > 0; --n) {
      auto it = endings_.find(f.substr(f.size() - n));
      if (it != endings_.end()) return it->second;
    }
  }
  return false;
}

}  // namespace ondaria::koral
