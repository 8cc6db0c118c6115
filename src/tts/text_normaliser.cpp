// Text normalisation of the built-in voice. The word tables are written here in
// UTF-8 for the reader and turned into Windows-1252 once, on first use.
#include "tts/text_normaliser.h"

#include <array>

#include "platform/codepage.h"
#include "tts/koral_text.h"
#include "tts/number_forms.h"

namespace ondaria::koral {

namespace {

// Largest cardinal read: fifteen digits, five groups of three.
constexpr uint64_t kMaxCardinal = 999'999'999'999'999ULL;

using Table = std::vector<std::string>;

Table toCp1252(std::initializer_list<const char*> words) {
  Table t;
  for (const char* w : words) t.push_back(platform::utf8ToCp1252(w));
  return t;
}

const Table& units() {  // 0 … 9
  static const Table t = toCp1252(
      {"zero", "um", "dois", "três", "quatro", "cinco", "seis", "sete", "oito", "nove"});
  return t;
}
const Table& teens() {  // 10 … 19
  static const Table t = toCp1252({"dez", "onze", "doze", "treze", "quatorze", "quinze",
                                   "dezesseis", "dezessete", "dezoito", "dezenove"});
  return t;
}
const Table& tens() {  // index 2 … 9
  static const Table t = toCp1252({"", "", "vinte", "trinta", "quarenta", "cinqüenta",
                                   "sessenta", "setenta", "oitenta", "noventa"});
  return t;
}
const Table& hundreds() {  // index 1 … 9
  static const Table t = toCp1252({"", "cento", "duzentos", "trezentos", "quatrocentos",
                                   "quinhentos", "seiscentos", "setecentos", "oitocentos",
                                   "novecentos"});
  return t;
}
const Table& groupSingular() {
  static const Table t = toCp1252({"trilhão ", "bilhão ", "milhão ", "mil ", ""});
  return t;
}
const Table& groupPlural() {
  static const Table t = toCp1252({"trilhões ", "bilhões ", "milhões ", "mil ", ""});
  return t;
}
const Table& ordinalUnits() {
  static const Table t = toCp1252({"", "primeiro", "segundo", "terceiro", "quarto", "quinto",
                                   "sexto", "sétimo", "oitavo", "nono"});
  return t;
}
const Table& ordinalTens() {
  static const Table t = toCp1252({"", "décimo", "vigésimo", "trigésimo", "quadragésimo",
                                   "quinquagésimo", "sexagésimo", "septuagésimo", "octagésimo",
                                   "nonagésimo"});
  return t;
}
const Table& ordinalHundreds() {
  static const Table t = toCp1252({"", "centésimo", "ducentésimo", "tricentésimo",
                                   "quadrigentésimo", "quingentésimo", "seiscentésimo",
                                   "septigentésimo", "octigentésimo", "nongentésimo"});
  return t;
}

// Names of the bytes 32 … 126, 161 … 191 and 192 … 220.
const Table& asciiNames() {
  static const Table t = toCp1252({
      "espaço", "exclamação", "aspas", "sustenido", "cifrão", "por cento", "é comercial",
      "apóstrofo", "abre parênteses", "fecha parênteses", "asterisco", "mais", "vírgula",
      "traço", "ponto", "barra", "zéro", "um", "dois", "três", "quatro", "cinco", "seis",
      "séte", "oito", "nóve", "dois pontos", "ponto e vírgula", "menor que", "igual",
      "maior que", "interrogação", "arrôba",
      // A … Z
      "a", "bê", " sê", " dê", "é", "éfe", "jê", "agá", "i", "jóta", "cá", "éle", "ême", "êne",
      "ó", "pê", "quê", "érre", "ésse", "tê", "u", "vê", "dábliu", "xis", "ípsilon", "zê",
      "abre colchete", "raiz", "fecha colchete", "circunflexo", "sublinhado", "crase",
      // a … z
      "a", "bê", " sê", " dê", "é", "éfe", "jê", "agá", "i", "jóta", "cá", "éle", "ême", "êne",
      "ó", "pê", "quê", "érre", "ésse", "tê", "u", "vê", "dábliu", "xis", "ípsilon", "zê",
      "abre chave", "barra vertical", "fecha chave", "til"});
  return t;
}
const Table& latinNames() {
  static const Table t = toCp1252({
      "exclamação reversa", "centavos de dólar", "libras", "símbolo de moeda", "iene",
      "barra interrompida", "parágrafo", "trema", "copyright", "ordinal feminino",
      "Aspas esquerdas", "negação", "hífen", "Marca registrada", "mácron", "grau",
      "mais ou menos", "elevado ao quadrado", "elevado ao cubo", "acento agudo", "mi", "pi",
      "ponto no meio", "cedilha", "expoente um", "ordinal masculino", "aspas direitas",
      "um quarto", "um meio", "três quartos", "interrogação reversa"});
  return t;
}
const Table& accentedNames() {
  static const Table t = toCp1252({
      "A grave", "A agudo", "A circunflexo", "A com til", "A com trema", "A bola", "A É",
      "Cê cedilha", "É grave", "É agudo", "É circunflexo", "É com trema", "I grave", "I agudo",
      "I circunflexo", "I com trema", "Dê cortado", "N com til", "Ó grave", "Ó agudo",
      "Ó circunflexo", "Ó com til", "Ó tremado", "vezes", "Ó cortado", "U grave", "U agudo",
      "U circunflexo", "U com trema"});
  return t;
}

bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }

bool isKeptPunctuation(uint8_t c) {
  switch (c) {
    case ' ': case '!': case '(': case ')': case ',': case '.': case ':': case ';': case '?':
      return true;
    default:
      return false;
  }
}

// Words of one group of three digits (1 … 999); in the feminine "uma",
// "duas" and the hundreds in -as ("duzentas").
std::string groupWords(int g, bool feminine) {
  if (g == 100) return "cem";
  std::string out;
  int h = g / 100, t = (g / 10) % 10, u = g % 10;
  if (h != 0) {
    out += hundreds()[h];
    if (feminine && h >= 2) out[out.size() - 2] = 'a';  // duzentos -> duzentas
  }
  if (h != 0 && g % 100 != 0) out += " e ";
  if (t == 1) {
    out += teens()[u];
  } else {
    if (t != 0) out += tens()[t];
    if (t != 0 && u != 0) out += " e ";
    if (u == 1 && feminine) out += "uma";
    else if (u == 2 && feminine) out += "duas";
    else if (u != 0) out += units()[u];
  }
  return out;
}

// The feminine of ordinal words: each word's last letter becomes "a".
std::string feminineOf(std::string words) {
  for (size_t i = 0; i < words.size(); ++i) {
    bool wordEnd = i + 1 == words.size() || words[i + 1] == ' ';
    if (wordEnd && words[i] != ' ') words[i] = 'a';
  }
  return words;
}

// Units after a number read without a full stop ("10 km", "5 kg", "2 h"):
// the abbreviation's expansion, with the plural "s" of each word dropped after
// "um"/"uma".
std::string unitExpansion(const std::string& expansion, bool one) {
  if (!one) return expansion;
  std::string out;
  size_t start = 0;
  while (start <= expansion.size()) {
    size_t end = expansion.find(' ', start);
    if (end == std::string::npos) end = expansion.size();
    std::string w = expansion.substr(start, end - start);
    if (w.size() > 2 && (w.back() == 's' || w.back() == 'S')) w.pop_back();
    if (!out.empty()) out += ' ';
    out += w;
    start = end + 1;
  }
  return out;
}

}  // namespace

// ---- Abbreviations -------------------------------------------------------

void Abbreviations::clear() {
  entries_.clear();
  index_.clear();
  genders_.clear();
}

bool Abbreviations::add(std::string_view key, std::string_view expansion) {
  if (entries_.size() >= kMaxEntries) return false;
  std::string k = upperText(key);
  index_.emplace(k, entries_.size());  // keeps the first of equal keys
  entries_.emplace_back(std::move(k), std::string(expansion.substr(0, kMaxExpansion)));
  return true;
}

const std::string* Abbreviations::find(std::string_view upperKey) const {
  auto it = index_.find(std::string(upperKey));
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

bool loadAbbreviations(const std::string& fileName, Abbreviations& table) {
  std::vector<std::string> lines;
  if (!readLines(fileName, lines)) return false;
  table.clear();
  static const std::string genderSection = platform::utf8ToCp1252("[GÊNERO]");
  enum { InAbbreviations, InGenders, InOther } section = InAbbreviations;
  for (const std::string& line : lines) {
    std::string t = trimText(line);
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[' && t.back() == ']') {
      section = upperText(t) == genderSection ? InGenders : InOther;
      continue;
    }
    if (section == InGenders) table.genders().addLine(t);
    if (section != InAbbreviations) continue;
    size_t eq = t.find('=');
    // A line without "=" has no expansion: the key stands for nothing.
    std::string key = trimText(std::string_view(t).substr(0, eq));
    std::string expansion = eq == std::string::npos ? std::string() : trimText(std::string_view(t).substr(eq + 1));
    if (key.empty()) continue;
    // A full table takes no more abbreviations; the genders may still follow.
    table.add(key, expansion);
  }
  return true;
}

// ---- Numbers ---------------------------------------------------------------

std::string cardinalWords(uint64_t value, bool feminine) {
  if (value == 0) return units()[0];
  value = std::min(value, kMaxCardinal);
  std::array<int, 5> groups{};
  for (int i = 4; i >= 0; --i) {
    groups[i] = static_cast<int>(value % 1000);
    value /= 1000;
  }
  int last = 4;
  while (groups[last] == 0) --last;
  std::string out;
  bool earlier = false;
  for (int i = 0; i < 5; ++i) {
    if (groups[i] == 0) continue;
    // "mil", never "um mil", wherever the thousands are one: "um milhão e mil".
    std::string g = i == 3 && groups[i] == 1 ? std::string() : groupWords(groups[i], feminine && i >= 3) + " ";
    if (i < 4) g += groups[i] == 1 ? groupSingular()[i] : groupPlural()[i];
    else g.pop_back();
    // "e" joins the last group when it is below a hundred or a round
    // hundred: "dois mil e um", "mil e cem", but "mil duzentos e trinta".
    if (i == last && earlier && (groups[i] < 100 || groups[i] % 100 == 0)) out += "e ";
    out += g;
    earlier = true;
  }
  return out;
}

std::string ordinalWords(uint64_t value, bool feminine) {
  if (value >= 2000) return cardinalWords(value);
  if (value == 0) return units()[0];
  std::string out;
  auto add = [&](const std::string& w) {
    if (w.empty()) return;
    if (!out.empty()) out += ' ';
    out += w;
  };
  if (value / 1000 != 0) add(platform::utf8ToCp1252("milésimo"));
  add(ordinalHundreds()[(value / 100) % 10]);
  add(ordinalTens()[(value / 10) % 10]);
  add(ordinalUnits()[value % 10]);
  return feminine ? feminineOf(out) : out;
}

std::string expandNumber(std::string_view text, size_t& p, bool feminine) {
  auto at = [&](size_t i) -> uint8_t { return i < text.size() ? static_cast<uint8_t>(text[i]) : 0; };
  // Digits joined by dashes (telephone numbers, codes): digit by digit.
  size_t runEnd = p;
  bool dash = false;
  while (isDigit(at(runEnd)) || at(runEnd) == '-') {
    if (at(runEnd) == '-') dash = true;
    ++runEnd;
  }
  if (dash) {
    std::string out;
    for (; p < runEnd; ++p) {
      if (!out.empty()) out += ' ';
      out += at(p) == '-' ? std::string(asciiNames()['-' - 32]) : units()[at(p) - '0'];
    }
    return out;
  }
  std::string out;
  while (at(p) == '0' && isDigit(at(p + 1))) {
    out += units()[0] + " ";
    ++p;
  }
  uint64_t value = 0;
  while (true) {
    uint8_t c = at(p);
    if (isDigit(c)) {
      uint64_t next = value * 10 + (c - '0');
      if (next > kMaxCardinal) break;
      value = next;
      ++p;
    } else if (c == '.' && isDigit(at(p + 1)) && isDigit(at(p + 2)) && isDigit(at(p + 3)) &&
               !isDigit(at(p + 4)) && value * 1000 + 999 <= kMaxCardinal) {
      ++p;
    } else {
      break;
    }
  }
  uint8_t c = at(p);
  auto followedBy = [&](std::string_view s) { return text.substr(p, s.size()) == s; };
  if (c == 0xBA) {
    ++p;
    return out + ordinalWords(value, false);
  }
  if (c == 0xAA) {
    ++p;
    return out + ordinalWords(value, true);
  }
  if (followedBy("o.")) {
    p += 2;
    return out + ordinalWords(value, false);
  }
  if (followedBy("a.")) {
    p += 2;
    return out + ordinalWords(value, true);
  }
  if (followedBy("os.")) {
    p += 3;
    return out + ordinalWords(value, false) + "s";
  }
  if (followedBy("as.")) {
    p += 3;
    return out + ordinalWords(value, true) + "s";
  }
  return out + cardinalWords(value, feminine);
}

std::string characterName(uint8_t b) {
  // The division sign would take the name of the multiplication sign 32 below
  // it; it gets its own.
  if (b == 247) return "dividido por";
  // The euro sign came after the table; without a name it would go unsaid.
  if (b == 0x80) return "euro";
  if (b >= 225) b = static_cast<uint8_t>(b - 32);
  if (b >= 32 && b <= 126) return asciiNames()[b - 32];
  if (b >= 161 && b <= 191) return latinNames()[b - 161];
  if (b >= 192 && b <= 220) return accentedNames()[b - 192];
  return {};
}

// ---- Gender of what a number counts ------------------------------------------

namespace {

bool isSpace(uint8_t c) { return c == ' ' || c == '\t' || c == 0xA0; }

// The upper-cased letters from `p` on (none when no letter is there).
std::string wordAt(std::string_view text, size_t& p) {
  size_t start = p;
  while (p < text.size() && isLetter(static_cast<uint8_t>(text[p]))) ++p;
  return upperText(text.substr(start, p - start));
}

void skipSpaces(std::string_view text, size_t& p) {
  while (p < text.size() && isSpace(static_cast<uint8_t>(text[p]))) ++p;
}

}  // namespace

bool countsFeminine(std::string_view text, size_t p, const Abbreviations& abbreviations) {
  const NounGenders& genders = abbreviations.genders();
  static const std::string ate = platform::utf8ToCp1252("ATÉ");
  // A few steps at most: "2 mil", "1 ou 2", "de 2 a 3 mil".
  for (int step = 0; step < 4; ++step) {
    skipSpaces(text, p);
    std::string word = wordAt(text, p);
    if (word.empty()) return false;
    if (word == "MIL") continue;
    size_t q = p;
    skipSpaces(text, q);
    bool joinsNumbers = word == "A" || word == "E" || word == "OU" || word == ate;
    if (joinsNumbers && q < text.size() && text[q] >= '0' && text[q] <= '9') {
      // The noun after the second number counts the first as well.
      while (q < text.size() && ((text[q] >= '0' && text[q] <= '9') ||
                                 ((text[q] == '.' || text[q] == ',') && q + 1 < text.size() &&
                                  text[q + 1] >= '0' && text[q + 1] <= '9')))
        ++q;
      p = q;
      continue;
    }
    // Two words read together: "2 da tarde".
    std::string pair = word + " " + wordAt(text, q);
    if (genders.listed(pair)) return genders.feminine(pair);
    // A unit after a number is said as its abbreviation's first word ("h": horas).
    if (const std::string* expansion = abbreviations.find(word); expansion != nullptr && !expansion->empty())
      word = upperText(std::string_view(*expansion).substr(0, expansion->find(' ')));
    return genders.feminine(word);
  }
  return false;
}

// ---- The text ----------------------------------------------------------------

namespace {

// What may follow a full stop that ends a sentence (or an abbreviation):
// a blank, a line end or other control character, the end of the text, a
// closing quote or bracket, or more punctuation. Before anything else the
// full stop is inside a token and is read "ponto" (www.site, 3.0.1).
bool endsSentence(std::string_view text, size_t i) {
  if (i >= text.size()) return true;
  uint8_t c = static_cast<uint8_t>(text[i]);
  if (c <= ' ' || c == 0x7F || c == 0xA0) return true;
  switch (c) {
    case '"': case '\'': case ')': case ']': case '}': case '!': case ',': case ':': case ';':
    case '?': case '.': case 0x92: case 0x94: case 0xBB:  // ’ ” »
      return true;
    default:
      return false;
  }
}

// "nº", "Nº", "n.º", "n°" (the degree sign typed for the ordinal mark) at p,
// the "n" already read: the length of the mark, or 0.
size_t numberMark(std::string_view text, size_t p) {
  auto at = [&](size_t i) -> uint8_t { return i < text.size() ? static_cast<uint8_t>(text[i]) : 0; };
  if (at(p) == 0xBA || at(p) == 0xB0) return 1;
  if (at(p) == '.' && (at(p + 1) == 0xBA || at(p + 1) == 0xB0)) return 2;
  return 0;
}

}  // namespace

std::string normaliseText(std::string_view text, const Abbreviations& abbreviations) {
  if (text.size() == 1) return characterName(static_cast<uint8_t>(text[0]));
  auto at = [&](size_t i) -> uint8_t { return i < text.size() ? static_cast<uint8_t>(text[i]) : 0; };
  std::string out;
  out.reserve(text.size() * 2);
  size_t p = 0;
  // Set when the last thing written was a number: a unit abbreviation after it
  // is expanded without a full stop ("10 km"); "one" for the singular.
  bool afterNumber = false, afterOne = false;
  while (p < text.size()) {
    uint8_t c = at(p);
    bool numberBefore = afterNumber, oneBefore = afterOne;
    if (c != ' ') afterNumber = false;
    // A time, a date or a sum of money is read as a whole.
    size_t end = p;
    std::string words;
    bool whole = false;
    if (isDigit(c))
      whole = readDate(text, end, words) || readClockTime(text, end, words) || readMoney(text, end, words);
    else if (isLetter(c) || c == '$' || c == 0x80)
      whole = readMoney(text, end, words);
    if (whole) {
      out += ' ';
      out += words;
      out += ' ';
      p = end;
      continue;
    }
    if (c == '-' && p > 0 && at(p - 1) == ' ' && at(p + 1) == ' ') {
      out += ',';
      ++p;
    } else if (c == '-' && isDigit(at(p + 1))) {
      out += "menos ";
      ++p;
    } else if (isDigit(c)) {
      size_t start = p;
      // Where the number ends, to see what it counts; decimals count nothing.
      expandNumber(text, end);
      bool decimal = (at(end) == ',' || at(end) == '.') && isDigit(at(end + 1));
      bool feminine = !decimal && countsFeminine(text, end, abbreviations);
      out += ' ';
      words = expandNumber(text, p, feminine);
      if (p == start) ++p;  // cannot happen with a digit; never loop forever
      out += words;
      out += ' ';
      afterNumber = true;
      afterOne = words == units()[1] || words == "uma";
      while ((at(p) == ',' || at(p) == '.') && isDigit(at(p + 1))) {
        out += at(p) == ',' ? platform::utf8ToCp1252("vírgula ") : std::string("ponto ");
        ++p;
        out += expandNumber(text, p);
        out += ' ';
        afterOne = false;
      }
    } else if (isLetter(c)) {
      size_t start = p;
      while (p < text.size() && (isLetter(at(p)) || (at(p) == '-' && p > start && isLetter(at(p - 1)))))
        ++p;
      std::string_view w = text.substr(start, p - start);
      std::string upper = upperText(w);
      const std::string* expansion = abbreviations.find(upper);
      if (upper == "N" && numberMark(text, p) != 0) {
        p += numberMark(text, p);
        bool plural = (at(p) == 's' || at(p) == 'S') && !isLetter(at(p + 1));
        if (plural) ++p;
        out += platform::utf8ToCp1252(plural ? " números " : " número ");
      } else if (expansion != nullptr && at(p) == '.' && p + 1 < text.size() && endsSentence(text, p + 1)) {
        out += *expansion;
        ++p;  // the full stop belonged to the abbreviation
      } else if (expansion != nullptr && numberBefore && (at(p) != '.' || endsSentence(text, p + 1))) {
        // A unit that ends the sentence keeps its full stop as the pause: "2 km."
        out += unitExpansion(*expansion, oneBefore);
      } else {
        bool allConsonants = true;
        for (uint8_t l : w)
          if (isLetter(l) && !isConsonant(l)) allConsonants = false;
        if (allConsonants && !(at(p) == '.' && expansion != nullptr)) {
          for (uint8_t l : w) {
            out += ' ';
            out += characterName(l);
          }
        } else {
          out += w;
        }
      }
    } else if (c == '.' && at(p + 1) == '.' && at(p + 2) == '.') {
      out += "... ";
      p += 3;
    } else if (c == '.' && !endsSentence(text, p + 1)) {
      out += " ponto ";
      ++p;
    } else if (isKeptPunctuation(c)) {
      out += static_cast<char>(c);
      ++p;
    } else if (c == '\t' || c == '\n' || c == '\r') {
      // A line break separates words like a blank does.
      out += ' ';
      ++p;
    } else {
      out += ' ';
      out += characterName(c);
      out += ' ';
      ++p;
    }
  }
  return out;
}

}  // namespace ondaria::koral
