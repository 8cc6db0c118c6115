#include "tts/number_forms.h"

#include <array>
#include <cstdint>
#include <initializer_list>

#include "platform/codepage.h"
#include "tts/koral_text.h"
#include "tts/text_normaliser.h"

namespace ondaria::koral {

namespace {

// Fifteen digits: the largest amount the cardinals read.
constexpr size_t kMaxAmountDigits = 15;
constexpr uint64_t kMillion = 1'000'000;

uint8_t byteAt(std::string_view text, size_t i) {
  return i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
}
bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool isBlank(uint8_t c) { return c == ' ' || c == 0xA0; }  // no-break space: R$ 35

size_t digitRun(std::string_view text, size_t i) {
  size_t n = 0;
  while (isDigit(byteAt(text, i + n))) ++n;
  return n;
}
int smallNumber(std::string_view text, size_t i, size_t n) {
  int v = 0;
  for (size_t k = 0; k < n; ++k) v = v * 10 + (byteAt(text, i + k) - '0');
  return v;
}

// A form does not begin inside another number ("3/15/2025" from "3"), nor
// run on into one ("1/5/2025/7", "14:30:15:99", "1/5,5").
bool startsAlone(std::string_view text, size_t p) {
  if (p == 0) return true;
  uint8_t b = byteAt(text, p - 1);
  return !isDigit(b) && b != '/' && b != ':' && b != ',' && b != '.';
}
bool endsAlone(std::string_view text, size_t i) {
  uint8_t c = byteAt(text, i);
  if (isDigit(c) || isLetter(c)) return false;
  bool joins = c == '/' || c == ':' || c == ',' || c == '.';
  return !(joins && isDigit(byteAt(text, i + 1)));
}

// Past the first of the (upper-case) suffixes written at i, when no letter
// follows it: "21hs", "8h15min".
size_t skipSuffix(std::string_view text, size_t i, std::initializer_list<std::string_view> suffixes) {
  for (std::string_view s : suffixes)
    if (upperText(text.substr(i, s.size())) == s && !isLetter(byteAt(text, i + s.size())))
      return i + s.size();
  return i;
}

std::string cp(const char* utf8) { return platform::utf8ToCp1252(utf8); }

// "uma hora", "vinte e uma horas", "zero hora".
std::string hourWords(int hours) {
  return cardinalWords(static_cast<uint64_t>(hours), true) + (hours <= 1 ? " hora" : " horas");
}
std::string countWords(uint64_t n, const std::string& one, const std::string& many) {
  return cardinalWords(n) + " " + (n == 1 ? one : many);
}

// "a", "a e b", "a, b e c".
std::string joinParts(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += i + 1 == parts.size() ? " e " : ", ";
    out += parts[i];
  }
  return out;
}

// The fraction digits after a decimal comma, read as the normaliser reads
// any decimals: "vírgula cinco", "vírgula zero cinco".
std::string fractionWords(std::string_view digits) {
  size_t q = 0;
  return cp("vírgula ") + expandNumber(digits, q);
}

struct Currency {
  std::string_view sign;  // upper case, Windows-1252
  const char* one;
  const char* many;
};
constexpr std::array<Currency, 5> kCurrencies{{
    {"R$", "real", "reais"},
    {"US$", "dólar", "dólares"},
    {"U$", "dólar", "dólares"},
    {"$", "dólar", "dólares"},
    {"\x80", "euro", "euros"},
}};
constexpr size_t kEuro = 4;

// Words of size that follow an amount ("R$ 2 mil", "R$ 1,5 milhão", "US$ 3
// bi"). `of` says whether "de" comes before the currency: "dois milhões de
// reais" but "dois mil reais".
struct Scale {
  std::string_view word;  // upper case, Windows-1252
  const char* one;
  const char* many;
  bool of;
};
constexpr std::array<Scale, 10> kScales{{
    {"MIL", "mil", "mil", false},
    {"MILH\xC3O", "milhão", "milhões", true},
    {"MILH\xD5" "ES", "milhão", "milhões", true},
    {"MI", "milhão", "milhões", true},
    {"BILH\xC3O", "bilhão", "bilhões", true},
    {"BILH\xD5" "ES", "bilhão", "bilhões", true},
    {"BI", "bilhão", "bilhões", true},
    {"TRILH\xC3O", "trilhão", "trilhões", true},
    {"TRILH\xD5" "ES", "trilhão", "trilhões", true},
    {"TRI", "trilhão", "trilhões", true},
}};

// An amount: digits with "." between groups of three, then "," and the
// fraction. False when there is none or it has more digits than the
// cardinals read.
struct Amount {
  uint64_t whole = 0;
  std::string_view fraction;
};
bool readAmount(std::string_view text, size_t& i, Amount& a) {
  size_t n = digitRun(text, i);
  if (n == 0) return false;
  size_t digits = 0;
  auto take = [&](size_t count) {
    for (size_t k = 0; k < count; ++k) a.whole = a.whole * 10 + (byteAt(text, i + k) - '0');
    digits += count;
    i += count;
  };
  if (n > kMaxAmountDigits) return false;
  take(n);
  while (byteAt(text, i) == '.' && digitRun(text, i + 1) == 3) {
    if (digits + 3 > kMaxAmountDigits) return false;
    ++i;
    take(3);
  }
  if (byteAt(text, i) == ',' && isDigit(byteAt(text, i + 1))) {
    size_t f = digitRun(text, i + 1);
    a.fraction = text.substr(i + 1, f);
    i += 1 + f;
  }
  return true;
}

// The words of an amount in a currency.
std::string moneyWords(const Amount& a, const Scale* scale, const Currency& c) {
  std::string many = cp(c.many), one = cp(c.one);
  if (scale != nullptr) {
    // "mil reais", "dois mil reais", "um vírgula cinco milhão de reais".
    std::string out;
    bool bare = a.whole == 1 && a.fraction.empty() && !scale->of;
    if (!bare) out = cardinalWords(a.whole) + " ";
    if (!a.fraction.empty()) out += fractionWords(a.fraction) + " ";
    out += cp(a.whole >= 2 ? scale->many : scale->one);
    return out + (scale->of ? " de " : " ") + many;
  }
  if (a.fraction.size() > 2)
    return cardinalWords(a.whole) + " " + fractionWords(a.fraction) + " " + many;
  int cents = a.fraction.empty() ? 0 : smallNumber(a.fraction, 0, a.fraction.size());
  if (a.fraction.size() == 1) cents *= 10;  // R$ 2,5: fifty cents
  std::string out;
  if (a.whole > 0 || cents == 0) {
    // "um milhão de reais", but "um milhão e quinhentos mil reais".
    bool of = a.whole >= kMillion && a.whole % kMillion == 0;
    out = cardinalWords(a.whole) + (of ? " de " : " ") + (a.whole == 1 ? one : many);
  }
  if (cents > 0) {
    if (!out.empty()) out += " e ";
    out += countWords(static_cast<uint64_t>(cents), "centavo", "centavos");
  }
  return out;
}

// The amount at i with an optional scale word after it; i moves past both.
bool readAmountAndScale(std::string_view text, size_t& i, Amount& a, const Scale*& scale) {
  if (!readAmount(text, i, a)) return false;
  scale = nullptr;
  size_t j = i;
  while (isBlank(byteAt(text, j))) ++j;
  size_t w = j;
  while (isLetter(byteAt(text, w))) ++w;
  std::string word = upperText(text.substr(j, w - j));
  for (const Scale& s : kScales)
    if (word == s.word) {
      scale = &s;
      i = w;
    }
  return true;
}

}  // namespace

bool readClockTime(std::string_view text, size_t& p, std::string& words) {
  if (!startsAlone(text, p)) return false;
  size_t n = digitRun(text, p);
  if (n == 0 || n > 2) return false;
  int hours = smallNumber(text, p, n);
  size_t i = p + n;
  if (hours > 24) return false;
  std::string said;
  if (upperByte(byteAt(text, i)) == 'H') {
    // 21h, 21hs, 21h30, 21h30min, 8h05m
    ++i;
    int minutes = 0;
    if (digitRun(text, i) == 2) {
      minutes = smallNumber(text, i, 2);
      i = skipSuffix(text, i + 2, {"MIN", "M"});
    } else {
      i = skipSuffix(text, i, {"S"});
    }
    if (minutes > 59 || !endsAlone(text, i)) return false;
    said = hourWords(hours);
    if (minutes > 0) said += " e " + countWords(static_cast<uint64_t>(minutes), "minuto", "minutos");
  } else if (byteAt(text, i) == ':' && digitRun(text, i + 1) == 2) {
    // 14:30 (quatorze e trinta), 14:00, 14:30:15, 14:30h
    int minutes = smallNumber(text, i + 1, 2), seconds = -1;
    i += 3;
    if (byteAt(text, i) == ':' && digitRun(text, i + 1) == 2) {
      seconds = smallNumber(text, i + 1, 2);
      i += 3;
    }
    i = skipSuffix(text, i, {"HS", "H"});
    if (minutes > 59 || seconds > 59 || !endsAlone(text, i)) return false;
    if (seconds >= 0) {
      std::vector<std::string> parts{hourWords(hours)};
      if (minutes > 0) parts.push_back(countWords(static_cast<uint64_t>(minutes), "minuto", "minutos"));
      if (seconds > 0) parts.push_back(countWords(static_cast<uint64_t>(seconds), "segundo", "segundos"));
      said = joinParts(parts);
    } else if (minutes == 0) {
      said = hourWords(hours);
    } else {
      said = cardinalWords(static_cast<uint64_t>(hours), true) + " e " +
             cardinalWords(static_cast<uint64_t>(minutes));
    }
  } else {
    return false;
  }
  words += said;
  p = i;
  return true;
}

bool readDate(std::string_view text, size_t& p, std::string& words) {
  static const std::array<std::string, 12> months = {
      cp("janeiro"), cp("fevereiro"), cp("março"),    cp("abril"),   cp("maio"),     cp("junho"),
      cp("julho"),   cp("agosto"),    cp("setembro"), cp("outubro"), cp("novembro"), cp("dezembro")};
  if (!startsAlone(text, p)) return false;
  size_t nd = digitRun(text, p);
  if (nd == 0 || nd > 2 || byteAt(text, p + nd) != '/') return false;
  size_t nm = digitRun(text, p + nd + 1);
  if (nm == 0 || nm > 2) return false;
  int day = smallNumber(text, p, nd), month = smallNumber(text, p + nd + 1, nm);
  size_t i = p + nd + 1 + nm;
  std::string_view year;
  if (byteAt(text, i) == '/' && isDigit(byteAt(text, i + 1))) {
    size_t ny = digitRun(text, i + 1);
    if (ny != 2 && ny != 4) return false;
    year = text.substr(i + 1, ny);
    i += 1 + ny;
  }
  if (!endsAlone(text, i) || month < 1 || month > 12 || day < 1) return false;
  // "24/7" is round the clock, not the 24th of July.
  if (year.empty() && day == 24 && month == 7) return false;
  // February has its 29th in leap years, and whenever the year is not given.
  int y = year.empty() ? 0 : smallNumber(year, 0, year.size());
  bool leap = year.empty() || (y % 4 == 0 && (year.size() == 2 || y % 100 != 0 || y % 400 == 0));
  static constexpr std::array<int, 12> days = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (day > days[month - 1] || (month == 2 && day == 29 && !leap)) return false;
  words += day == 1 ? std::string("primeiro") : cardinalWords(static_cast<uint64_t>(day));
  words += " de " + months[month - 1];
  if (!year.empty()) {
    size_t q = 0;
    words += " de " + expandNumber(year, q);  // "25", "2025", "05" (zero cinco)
  }
  p = i;
  return true;
}

bool readMoney(std::string_view text, size_t& p, std::string& words) {
  const Currency* currency = nullptr;
  size_t i = p;
  if (!isDigit(byteAt(text, p))) {
    // A sign before the amount: R$ 35, US$10, € 5.
    if (p > 0 && isLetter(byteAt(text, p - 1))) return false;
    for (const Currency& c : kCurrencies) {
      if (upperText(text.substr(p, c.sign.size())) == c.sign) {
        currency = &c;
        i = p + c.sign.size();
        break;
      }
    }
    if (currency == nullptr) return false;
    while (isBlank(byteAt(text, i)) && i - p < 8) ++i;
  } else if (!startsAlone(text, p)) {
    return false;
  }
  Amount a;
  const Scale* scale = nullptr;
  if (!readAmountAndScale(text, i, a, scale)) return false;
  if (currency == nullptr) {
    // An amount before the euro sign: 5 €, 5,50€.
    size_t j = i;
    while (isBlank(byteAt(text, j)) && j - i < 8) ++j;
    if (byteAt(text, j) != 0x80) return false;
    currency = &kCurrencies[kEuro];
    i = j + 1;
  }
  if (!endsAlone(text, i)) return false;
  words += moneyWords(a, scale, *currency);
  p = i;
  return true;
}

}  // namespace ondaria::koral
