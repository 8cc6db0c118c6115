#include "speech/recorded_speech.h"

#include <array>
#include <chrono>

#include "console/core/console.h"
#include "platform/speech_log.h"
#include "speech/speech.h"
#include "speech/speech_internal.h"

namespace ondaria {

using namespace speech_detail;

namespace {

constexpr std::array<const char*, 10> kUnits = {"zero", "um",   "dois", "tres",  "quatro",
                                                "cinco", "seis", "sete", "oito", "nove"};
constexpr std::array<const char*, 10> kTeens = {"dez",      "onze",      "doze",      "treze",
                                                "quatorze", "quinze",    "dezesseis", "dezessete",
                                                "dezoito",  "dezenove"};
constexpr std::array<const char*, 10> kTens = {"",        "",          "vinte",    "trinta",
                                               "quarenta", "cinquenta", "sessenta", "setenta",
                                               "oitenta", "noventa"};
constexpr std::array<const char*, 10> kHundreds = {
    "",           "cento",      "duzentos",  "trezentos",  "quatrocentos",
    "quinhentos", "seiscentos", "setecentos", "oitocentos", "novecentos"};
// Scale words of the five groups of three digits, leftmost first.
constexpr std::array<const char*, 5> kScaleOne = {"trilh\xE3o ", "bilh\xE3o ", "milh\xE3o ",
                                                  "mil ", ""};
constexpr std::array<const char*, 5> kScaleMany = {"trilh\xF5" "es ", "bilh\xF5" "es ",
                                                   "milh\xF5" "es ", "mil ", ""};

constexpr int kGroups = 5;
constexpr int64_t kLargestGrouped = 999999999999999;  // 15 digits: five groups of three

// Words of one group of three digits ("000" gives nothing).
std::string groupWords(int h, int t, int u) {
  if (h == 0 && t == 0 && u == 0) return {};
  if (h == 1 && t == 0 && u == 0) return "cem";
  std::string out;
  if (h != 0) {
    out += kHundreds[h];
    if (t == 0 && u == 0) return out;
    out += " e ";
  }
  if (t == 1) return out + kTeens[u];
  if (t != 0) {
    out += kTens[t];
    if (u == 0) return out;
    out += " e ";
  }
  if (u != 0) out += kUnits[u];
  return out;
}

// The word samples of one speakWords call are joined in a buffer of this many
// samples (plus the header) before being played.
constexpr size_t kWordBufferSamples = 30000;

constexpr std::array<const char*, 7> kWeekdays = {"Domingo", "Segunda", "Terca", "Quarta",
                                                  "Quinta",  "Sexta",   "Sabado"};
constexpr std::array<const char*, 12> kMonths = {"Janeiro", "Fevereiro", "Marco",    "Abril",
                                                 "Maio",    "Junho",     "Julho",    "Agosto",
                                                 "Setembro", "Outubro",  "Novembro", "Dezembro"};

}  // namespace

std::string numberWords(int64_t n) {
  if (n <= 0) return "zero";
  if (n > kLargestGrouped) {
    // Beyond the five groups the digits are named one by one.
    std::string digits = std::to_string(n), out;
    for (char d : digits) {
      if (!out.empty()) out += ' ';
      out += kUnits[d - '0'];
    }
    return out;
  }
  std::string padded = std::to_string(n);
  padded.insert(0, 3 * kGroups - padded.size(), '0');
  std::array<std::string, kGroups> words;
  for (int g = 0; g < kGroups; ++g) {
    int h = padded[g * 3] - '0', t = padded[g * 3 + 1] - '0', u = padded[g * 3 + 2] - '0';
    words[g] = groupWords(h, t, u);
    if (!words[g].empty() && kScaleOne[g][0] != '\0') {
      bool one = h == 0 && t == 0 && u == 1;
      words[g] += ' ';
      words[g] += one ? kScaleOne[g] : kScaleMany[g];
    }
  }
  int last = -1;
  for (int g = 0; g < kGroups; ++g)
    if (!words[g].empty()) last = g;
  std::string out;
  for (int g = 0; g < kGroups; ++g) {
    if (words[g].empty()) continue;
    if (g == last && !out.empty()) out += "e ";
    out += words[g];
  }
  // "um mil" is said "mil"; "um milhão" keeps its "um".
  if (out.rfind("um mil", 0) == 0 && out.rfind("um milh", 0) != 0) out.erase(0, 3);
  return out;
}

std::vector<std::string> numberWordItems(std::string_view words, bool feminine) {
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < words.size()) {
    while (pos < words.size() && words[pos] == ' ') ++pos;
    size_t end = pos;
    while (end < words.size() && words[end] != ' ') ++end;
    if (end == pos) break;
    std::string word(words.substr(pos, end - pos));
    pos = end;
    for (char& c : word) {
      if (c == '\xE3') c = 'a';
      if (c == '\xF5') c = 'o';
    }
    if (word == "dezessete") word = "dezeset";  // "_dezesse" is dezesseis
    std::string name = ("_" + word).substr(0, 8);
    names.push_back(name);
  }
  if (feminine && !names.empty()) {
    if (names.back() == "_um") names.back() = "_uma";
    else if (names.back() == "_dois") names.back() = "_duas";
  }
  return names;
}

void speakWords(std::string_view words, bool feminine) {
  std::vector<uint8_t> buffer(kHeaderSize);
  buffer.reserve(kHeaderSize + kWordBufferSamples);
  std::vector<uint8_t> samples;
  for (const std::string& name : numberWordItems(words, feminine)) {
    std::string path = existingFile(lettersPath(name + ".wav"));
    if (path.empty() || !readWaveSamples(path, kWordBufferSamples, samples)) continue;
    platform::logSpeech(platform::SpeechEvent::Recording, name);
    if (buffer.size() > kHeaderSize && buffer.size() - kHeaderSize + samples.size() > kWordBufferSamples) {
      playImageAndWait(buffer.data(), buffer.size());
      buffer.resize(kHeaderSize);
    }
    buffer.insert(buffer.end(), samples.begin(), samples.end());
  }
  if (buffer.size() > kHeaderSize) playImageAndWait(buffer.data(), buffer.size());
}

void speakHourMinute(int hours, int minutes) {
  speakWords(numberWords(hours), true);
  playRecording(hours < 2 ? "_hora" : "_horas");
  if (minutes != 0) {
    speakWords(numberWords(minutes), false);
    playRecording(minutes < 2 ? "_minuto" : "_minutos");
  }
}

void speakDayMonthYear(int day, int month, int year) {
  using namespace std::chrono;
  year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                      std::chrono::day(static_cast<unsigned>(day))};
  if (date.ok()) {
    unsigned weekday = std::chrono::weekday(sys_days(date)).c_encoding();  // 0 = Sunday
    playRecording(std::string("_") + kWeekdays[weekday]);
  }
  if (day == 1) playRecording("_primeir");
  else speakWords(numberWords(day), false);
  playRecording("_de");
  if (month >= 1 && month <= 12) playRecording(("_" + std::string(kMonths[month - 1])).substr(0, 8));
  playRecording("_de");
  if (year >= 2000 && year <= 2099) {
    // "dois mil e vinte e cinco": the thousands, the joining word, the rest.
    speakWords(numberWords(2000), false);
    if (year > 2000) playRecording("_e");
    if (year % 100 != 0) speakWords(numberWords(year % 100), false);
  } else {
    // Other years are read whole, not by their last two digits.
    speakWords(numberWords(year < 0 ? 0 : year), false);
  }
}

void speakTime() {
  int h = 0, m = 0, s = 0, hundredths = 0;
  getTime(h, m, s, hundredths);
  speakHourMinute(h, m);
}

void speakDate() {
  int y = 0, m = 0, d = 0, weekday = 0;
  getDate(y, m, d, weekday);
  speakDayMonthYear(d, m, y);
}

}  // namespace ondaria
