#include "braille/braille_translation.h"

#include <array>

namespace ondaria {

namespace {

// Dot pattern written as the numbers of its raised dots ("1245" = dots 1, 2,
// 4 and 5).
constexpr uint8_t dotsOf(std::string_view numbers) {
  uint8_t bits = 0;
  for (char c : numbers)
    if (c >= '1' && c <= '8') bits = static_cast<uint8_t>(bits | (1u << (c - '1')));
  return bits;
}

struct CellRow {
  std::string_view dots;        // "" = the blank cell
  std::string_view characters;  // cp1252 bytes
};

// The cell table. Letters share their pattern in both cases (the translator
// marks capitals with "{"), digits share the patterns of a to j (it writes
// digits as letters after "#"), accented letters have the Portuguese
// patterns. Non-ASCII characters are written as cp1252 codes.
constexpr CellRow kCellRows[] = {
    {"", " \xA8\x08"},                 // blank, diaeresis, backspace
    {"1", "1Aa\xAA\xB9"},              // ª ¹
    {"2", ","},
    {"3", "'.\x95\xCD"},               // • Í
    {"4", "^\x80"},                    // €
    {"5", "~"},
    {"6", "\\`\xFD"},                  // ý
    {"12", "2Bb\xB2"},                 // ²
    {"13", "Kk"},
    {"23", ";"},
    {"14", "3Cc\xB3"},                 // ³
    {"24", "9Ii"},
    {"34", "\xCC\xEC\xED"},            // Ì ì í
    {"15", "5Ee"},
    {"25", ":\xC3"},                   // Ã
    {"35", "*\xB4"},                   // ´
    {"45", "\xAC"},                    // ¬
    {"16", "\x83\xC2\xC5\xE2\xE5"},    // ƒ Â Å â å
    {"26", "?\xBF"},                   // ¿
    {"36", "-"},
    {"46", "{\x0F"},
    {"56", "$"},
    {"123", "Ll"},
    {"124", "6Ff"},
    {"134", "Mm"},
    {"234", "Ss"},
    {"125", "8Hh"},
    {"135", ">Oo\xBA"},                // º
    {"235", "!+\xA1"},                 // ¡
    {"145", "4Dd"},
    {"245", "0Jj"},
    {"345", ")\x84\xC4\xC6\xE3\xE4\xE6"},  // „ Ä Æ ã ä æ
    {"126", "(\x88\xCA\xEA"},          // ˆ Ê ê
    {"136", "Uu"},
    {"236", "\"\x91\x92\xAB\xBB\xD7"},  // ‘ ’ « » ×
    {"146", "%\x8D\xCE\xEE"},          // code 141, Î î
    {"246", "<\x94\xD4\xD5\xF5\xF6"},  // ” Ô Õ õ ö
    {"346", "\xA2\xD2\xF2\xF3"},       // ¢ Ò ò ó
    {"156", "@\x97\xDB\xFB"},          // — Û û
    {"256", "/\xF7\xFF"},              // ÷ ÿ
    {"356", "}\xB0"},                  // °
    {"456", "_|\xA6"},                 // ¦
    {"1234", "Pp"},
    {"1235", "Rr"},
    {"1245", "7Gg"},
    {"1345", "Nn"},
    {"2345", "Tt"},
    {"1236", "Vv"},
    {"1246", "\x85\xC0\xCB\xE0\xEB"},  // … À Ë à ë
    {"1346", "Xx"},
    {"2346", "\x8A\xC8\xE8"},          // Š È è
    {"1256", "\x81\xDC\xFC"},          // code 129, Ü ü
    {"1356", "Zz"},
    {"2356", "="},
    {"1456", "\x93\xD3\xF4"},          // “ Ó ô
    {"2456", "Ww"},
    {"3456", "#"},
    {"12345", "Qq"},
    {"12346", "&\x87\xC7\xE7"},        // ‡ Ç ç
    {"12356", "[\xA0\xC1\xE1"},        // no-break space, Á á
    {"12456", "\x8B\xCF\xD1\xEF\xF1"},  // ‹ Ï Ñ ï ñ
    {"13456", "Yy"},
    {"23456", "]\xA3\xD9\xDA\xF9\xFA"},  // £ Ù Ú ù ú
    {"123456", "\x7F\x82\xC9\xE9"},    // code 127, ‚ É é
};

constexpr std::array<uint8_t, 256> makeCellTable() {
  std::array<uint8_t, 256> table{};
  for (uint8_t& dots : table) dots = kUnknownCellDots;
  // Control characters show a blank cell (the table names 8 and 15 itself).
  for (int c = 0; c < 32; ++c) table[c] = 0;
  for (const CellRow& row : kCellRows)
    for (char c : row.characters) table[static_cast<uint8_t>(c)] = dotsOf(row.dots);
  return table;
}

constexpr std::array<uint8_t, 256> kCellTable = makeCellTable();

// Characters typed by six-dot chords on the keyboard, indexed by the dot
// pattern (dot 1 = 1 … dot 6 = 32). Rows of eight as in the reference table.
constexpr std::array<uint8_t, 64> kKeyboardChords = {
    ' ',  'a',  ',',  'b',  '\'', 'k',  ';',  'l',   // 0-7
    '^',  'c',  'i',  'f',  0xED, 'm',  's',  'p',   // 8-15: í
    '~',  'e',  ':',  'h',  '*',  'o',  '!',  'r',   // 16-23
    0xAC, 'd',  'j',  'g',  0xE3, 'n',  't',  'q',   // 24-31: ¬ ã
    0xFD, 0xE2, '?',  0xEA, '-',  'u',  '"',  'v',   // 32-39: ý â ê
    '{',  0xEE, 0xF5, 0xE0, 0xF3, 'x',  0xE8, 0xE7,  // 40-47: î õ à ó è ç
    '$',  0xFB, 0xFF, 0xFC, '}',  'z',  '=',  0xE1,  // 48-55: û ÿ ü á
    '_',  0xF4, 'w',  0xEF, '#',  'y',  0xFA, 0xE9,  // 56-63: ô ï ú é
};

// The display's keys differ in two entries.
constexpr uint8_t kDot3 = 4;
constexpr uint8_t kDots156 = 1 | 16 | 32;

bool isLower(uint8_t c) { return (c >= 'a' && c <= 'z') || c >= 224; }
bool isUpper(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 192 && c <= 222 && c != 215); }
bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }
uint8_t lowered(uint8_t c) { return static_cast<uint8_t>(c + 32); }

constexpr uint8_t kGrave = '`';
constexpr uint8_t kOrdinalFeminine = 0xAA;  // ª
constexpr uint8_t kOrdinalMasculine = 0xBA;  // º

// Digits "lowered" (written in the lower half of the cell): ordinals and
// the numerators of fractions.
constexpr std::string_view kLoweredDigits = "},;:/?!=\"*";

// A digit written as its letter after the number sign: 1 a … 9 i, 0 j.
char digitLetter(uint8_t d) { return d == '0' ? 'j' : static_cast<char>('a' + (d - '1')); }

struct Substitution {
  uint8_t character;
  std::string_view written;
};

// Math signs after a grave accent.
constexpr Substitution kMathSigns[] = {
    {'"', "\xFC\xFC"}, {'%', "_}}"},   {'\'', "\xFC"},   {'(', "\xEA"},    {')', "\xE3"},
    {'*', "\xD7"},     {'X', "\xD7"},  {'x', "\xD7"},    {'+', "+"},       {'-', "-"},
    {'.', "."},        {'/', "\xF7"},  {':', "\xF7"},    {'=', "="},       {'E', "\x80" "e"},
    {'e', "\x80" "e"}, {'O', "\xB0"},  {'o', "\xB0"},    {'[', "\xE1"},    {']', "\xFA"},
    {'^', "\xE5"},     {'_', "~\xF7"}, {0xF7, "~\xF7"},  {'{', "~l"},      {'}', "_,"},
};

// Characters written differently in running text.
constexpr Substitution kTextSubstitutions[] = {
    {'%', "_}"},           {'(', "(."},          {')', "\\)"},          {'/', "\\,"},
    {'[', "[."},           {'\\', "~."},         {']', "\\]"},          {0x80, "\x80" "e"},
    {0x85, "..."},         {0x89, "_}}"},        {0x91, "$\""},         {0x92, "$\""},
    {0x95, "\xF5" "o"},    {0x96, "--"},         {0x97, "--"},          {0xAD, "--"},
    {0x9C, "oe"},          {0xA7, "ss"},         {0xAB, "\\\""},        {0xBB, "\\\""},
    {0xB9, "\xE5#a"},      {0xB2, "\xE5#b"},     {0xB3, "\xE5#c"},      {0xBC, "#,d"},
    {0xBD, "#,b"},         {0xBE, "#:d"},        {0xDF, "\xAC" "b"},    {0xE6, "ae"},
};

const Substitution* findIn(const Substitution* begin, const Substitution* end, uint8_t c) {
  for (const Substitution* s = begin; s != end; ++s)
    if (s->character == c) return s;
  return nullptr;
}

const Substitution* mathSign(uint8_t c) {
  return findIn(std::begin(kMathSigns), std::end(kMathSigns), c);
}

const Substitution* textSubstitution(uint8_t c) {
  return findIn(std::begin(kTextSubstitutions), std::end(kTextSubstitutions), c);
}

}  // namespace

uint8_t brailleCellDots(uint8_t character) { return kCellTable[character]; }

std::vector<uint8_t> brailleTextToDots(std::string_view brailleText) {
  std::vector<uint8_t> dots;
  dots.reserve(brailleText.size());
  for (char c : brailleText) dots.push_back(kCellTable[static_cast<uint8_t>(c)]);
  return dots;
}

uint8_t keyboardChordCharacter(uint8_t dots) { return kKeyboardChords[dots & 63]; }

uint8_t displayChordCharacter(uint8_t dots) {
  dots &= 63;
  if (dots == kDot3) return '.';
  if (dots == kDots156) return '@';
  return kKeyboardChords[dots];
}

std::string BrailleTranslator::translate(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  const size_t n = text.size();
  auto at = [&](size_t i) -> uint8_t { return i < n ? static_cast<uint8_t>(text[i]) : 0; };
  size_t i = 0;
  while (i < n) {
    const uint8_t c = at(i);

    // 1. A run of lower-case letters is copied as it stands.
    if (isLower(c)) {
      while (i < n && isLower(at(i))) out += static_cast<char>(at(i++));
      continue;
    }

    // 2. Capitals: one capital sign for a single letter, two for a word.
    if (isUpper(c)) {
      if (isUpper(at(i + 1))) {
        out += "{{";
        while (i < n && isUpper(at(i))) out += static_cast<char>(lowered(at(i++)));
        if (isLower(at(i))) out += '~';
      } else {
        out += '{';
        out += static_cast<char>(lowered(c));
        ++i;
      }
      continue;
    }

    // 3. Numbers, with the ordinals.
    if (isDigit(c)) {
      out += '#';
      size_t end = i;
      while (isDigit(at(end))) ++end;
      std::string_view suffix;
      size_t consumed = 0;
      const uint8_t a = at(end), b = at(end + 1), d = at(end + 2);
      if (a == kOrdinalFeminine || a == kOrdinalMasculine) {
        suffix = a == kOrdinalFeminine ? "a" : "o";
        consumed = 1;
      } else if ((a == 'a' || a == 'o') && b == '.') {
        suffix = a == 'a' ? "a" : "o";
        consumed = 2;
      } else if ((a == 'a' || a == 'o') && b == 's' && d == '.') {
        suffix = a == 'a' ? "as" : "os";
        consumed = 3;
      }
      if (consumed > 0) {
        for (size_t k = i; k < end; ++k) out += kLoweredDigits[at(k) - '0'];
        out += suffix;
        i = end + consumed;
        continue;
      }
      size_t digitsBefore = 0;
      while (i < n) {
        const uint8_t x = at(i);
        if (isDigit(x)) {
          out += digitLetter(x);
          ++digitsBefore;
          ++i;
        } else if (x == '$' || x == ',') {
          out += static_cast<char>(x);
          digitsBefore = 0;
          ++i;
        } else if (x == '.') {
          size_t digitsAfter = 0;
          while (isDigit(at(i + 1 + digitsAfter))) ++digitsAfter;
          out += '.';
          // A decimal point (short groups on both sides) repeats the number
          // sign; a thousands separator does not.
          if (digitsBefore < 3 && digitsAfter < 3 && digitsAfter > 0) out += '#';
          digitsBefore = 0;
          ++i;
        } else {
          if (x >= 'a' && x <= 'j') out += '~';
          break;
        }
      }
      continue;
    }

    // 4. An opening bracket before a digit: a number bracket when its
    // closing bracket follows a digit, else a text bracket.
    if ((c == '(' || c == '[') && isDigit(at(i + 1))) {
      const char close = c == '(' ? ')' : ']';
      const size_t closing = text.find(close, i + 1);
      if (closing != std::string_view::npos && isDigit(at(closing - 1))) {
        out += c == '(' ? '\xEA' : '\xE1';
        textBracketOpen_ = false;
      } else {
        out += c == '(' ? "(." : "[.";
        textBracketOpen_ = true;
      }
      ++i;
      continue;
    }

    // 5. The closing bracket of a number.
    if ((c == ')' || c == ']') && i > 0 && isDigit(at(i - 1)) && !textBracketOpen_) {
      out += c == ')' ? '\xE3' : '\xFA';
      ++i;
      continue;
    }

    if (c == kGrave) {
      // 6. A fraction: the numerator lowered, the denominator as it stands.
      if (isDigit(at(i + 1))) {
        out += '#';
        ++i;
        while (isDigit(at(i))) out += kLoweredDigits[at(i++) - '0'];
        if (at(i) == '/') {
          ++i;
          while (isDigit(at(i))) out += static_cast<char>(at(i++));
        }
        continue;
      }
      // 7. A math sign; two grave accents write nothing.
      if (at(i + 1) == kGrave) {
        i += 2;
        continue;
      }
      if (i + 1 < n) {
        if (const Substitution* sign = mathSign(at(i + 1))) {
          out += sign->written;
          i += 2;
          continue;
        }
      }
    }

    // 8. Full stop and double quotes.
    if (c == '.') {
      out += '.';
      ++i;
      continue;
    }
    if (c == '"' || c == 0x93 || c == 0x94) {
      out += '"';
      ++i;
      continue;
    }

    // 9. Everything else: its substitution or itself.
    if (const Substitution* s = textSubstitution(c))
      out += s->written;
    else
      out += static_cast<char>(c);
    if (c == '(') textBracketOpen_ = true;
    if (c == ')') textBracketOpen_ = false;
    ++i;
  }
  return out;
}

std::string translateToBraille(std::string_view text) {
  static BrailleTranslator translator;
  return translator.translate(text);
}

}  // namespace ondaria
