// Build-time generator of the voice data from espeak-ng (Brazilian Portuguese):
//
//   ondaria_voicegen --rules regras.rgr --exceptions portug.exc --out DIR [--stamp FILE]
//     DIR/letras/   every recorded item the program plays ("_65.wav", "_vinte.wav",
//                   "dtmf_5.wav", ...): 8-bit unsigned mono 11025 Hz WAV, trimmed
//     DIR/difones/  the diphone database DIFONES2.IND + DIFONES2.DIF and a copy of
//                   the rules and exceptions files
//   ondaria_voicegen --say TEXT --voice DIR --wav OUT.wav
//     speaks TEXT (Windows-1252) with the generated diphones, for listening.
//
// Diphones: every phone symbol the rules file writes is paired with every other;
// each pair is synthesised inside a nonsense carrier word, located through
// espeak's phoneme events, and cut from the middle of the first phone to the
// middle of the second. "$X" is the first half of X after silence, "$X#" its
// last half into silence. Synthesis is deterministic, so the output is the same
// byte for byte on every run.
#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "speech/diphone_database.h"
#include "speech/diphone_rules.h"
#include "speech/diphone_speech.h"

namespace fs = std::filesystem;
using namespace ondaria;

namespace {

constexpr int kOutRate = 11025;
// espeak's 16-bit peaks reach about 24000; dividing by 220 keeps them near
// 110 of the 127 steps an 8-bit sample has on each side of 128.
constexpr double kGainDivisor = 220.0;
// Cut points move to the nearest rising zero crossing within 2 ms, so joins
// between units from different carrier words do not click.
constexpr int kSnapWindow = 22;
// Recorded items keep 10 ms before the first and after the last loud sample.
constexpr int kTrimMargin = 110;
constexpr int kTrimThreshold = 4;
// Speaking rate (words per minute) of the carriers and the items: espeak's
// usual rate. The carriers stress the unit's vowel, which already makes each
// half-vowel a little longer than in running speech.
constexpr int kRate = 175;

// ---- Phone symbols of the rules file and their espeak phonemes --------------

enum class PhoneClass { Vowel, Glide, Consonant };
struct Phone {
  const char* espeak;
  PhoneClass kind;
};

const std::map<char, Phone>& phoneTable() {
  static const std::map<char, Phone> table = {
      {'a', {"a", PhoneClass::Vowel}},   {'6', {"&", PhoneClass::Vowel}},
      {'e', {"e", PhoneClass::Vowel}},   {'3', {"E", PhoneClass::Vowel}},
      {'i', {"i", PhoneClass::Vowel}},   {'o', {"o", PhoneClass::Vowel}},
      {'0', {"O", PhoneClass::Vowel}},   {'u', {"u", PhoneClass::Vowel}},
      {'4', {"&~", PhoneClass::Vowel}},  {'2', {"e~", PhoneClass::Vowel}},
      {'1', {"i~", PhoneClass::Vowel}},  {'5', {"o~", PhoneClass::Vowel}},
      {'7', {"u~", PhoneClass::Vowel}},  {'y', {"j", PhoneClass::Glide}},
      {'w', {"w", PhoneClass::Glide}},   {'p', {"p", PhoneClass::Consonant}},
      {'b', {"b", PhoneClass::Consonant}}, {'t', {"t", PhoneClass::Consonant}},
      {'d', {"d", PhoneClass::Consonant}}, {'k', {"k", PhoneClass::Consonant}},
      {'g', {"g", PhoneClass::Consonant}}, {'f', {"f", PhoneClass::Consonant}},
      {'v', {"v", PhoneClass::Consonant}}, {'m', {"m", PhoneClass::Consonant}},
      {'n', {"n", PhoneClass::Consonant}}, {'l', {"l", PhoneClass::Consonant}},
      {'z', {"z", PhoneClass::Consonant}}, {'c', {"s", PhoneClass::Consonant}},
      {'x', {"S", PhoneClass::Consonant}}, {'j', {"Z", PhoneClass::Consonant}},
      {'r', {"*", PhoneClass::Consonant}}, {'h', {"x", PhoneClass::Consonant}},
      {'q', {"tS", PhoneClass::Consonant}}, {'8', {"dZ", PhoneClass::Consonant}},
  };
  return table;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Every phone symbol written by a rule output: all characters but the blank,
// "#", "/" and "_" with the character after it (a recorded item).
std::set<char> phoneSymbolsOfRules() {
  std::set<char> symbols;
  for (int b = 32; b <= 95; ++b) {
    for (const DiphoneRule& rule : diphoneRulesFor(static_cast<unsigned char>(b))) {
      const std::string& out = rule.output;
      for (size_t i = 0; i < out.size(); ++i) {
        char c = out[i];
        if (c == '_') {
          ++i;
          continue;
        }
        if (c == ' ' || c == '#' || c == '/') continue;
        symbols.insert(lower(c));
      }
    }
  }
  return symbols;
}

// ---- espeak ----------------------------------------------------------------

struct Synthesis {
  std::vector<int16_t> samples;  // 22050 per second
  struct Event {
    std::string name;
    int sample;
  };
  std::vector<Event> phonemes;  // pauses left out
  int endSample = 0;            // start of the final pause
};

Synthesis* current = nullptr;

int synthCallback(short* wav, int count, espeak_EVENT* events) {
  for (espeak_EVENT* e = events; e != nullptr && e->type != espeakEVENT_LIST_TERMINATED; ++e) {
    if (e->type != espeakEVENT_PHONEME) continue;
    std::string name(e->id.string, strnlen(e->id.string, sizeof e->id.string));
    if (!name.empty() && name[0] == '_') {
      if (current->endSample == 0) current->endSample = e->sample;
      continue;
    }
    // ";" marks a transition espeak inserts between two vowels; it belongs
    // to the phone before it.
    if (name == ";") continue;
    current->phonemes.push_back({name, e->sample});
  }
  if (wav != nullptr && count > 0) current->samples.insert(current->samples.end(), wav, wav + count);
  return 0;
}

bool initEspeak() {
  // espeak must be initialised once per process (terminating and starting it
  // again deadlocks).
  int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_PHONEME_EVENTS);
  if (rate != 22050) {
    std::fprintf(stderr, "voicegen: espeak-ng did not start (rate %d)\n", rate);
    return false;
  }
  espeak_SetSynthCallback(synthCallback);
  if (espeak_SetVoiceByName("pt-br") != EE_OK) {
    std::fprintf(stderr, "voicegen: espeak-ng has no pt-br voice\n");
    return false;
  }
  espeak_SetParameter(espeakRATE, kRate, 0);
  return true;
}

Synthesis synthesize(const std::string& utf8, bool monotone) {
  Synthesis s;
  current = &s;
  // Carriers are spoken on one pitch so that units cut from different words
  // join without pitch jumps; recorded items keep espeak's normal melody.
  espeak_SetParameter(espeakRANGE, monotone ? 0 : 50, 0);
  espeak_Synth(utf8.c_str(), utf8.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8 | espeakPHONEMES,
               nullptr, nullptr);
  espeak_Synchronize();
  current = nullptr;
  if (s.endSample == 0) s.endSample = static_cast<int>(s.samples.size());
  return s;
}

// ---- Sample conversion -------------------------------------------------------

// 22050 -> 11025: a 31-tap windowed-sinc low-pass at 4.8 kHz, then every
// second sample. Plain double arithmetic in a fixed order: deterministic.
std::vector<double> halveRate(const std::vector<int16_t>& in) {
  static std::vector<double> taps = [] {
    const int n = 31;
    const double fc = 4800.0 / 22050.0;
    std::vector<double> t(n);
    double sum = 0;
    for (int i = 0; i < n; ++i) {
      double x = i - (n - 1) / 2.0;
      double sinc = x == 0 ? 2 * fc : std::sin(2 * M_PI * fc * x) / (M_PI * x);
      double window = 0.54 - 0.46 * std::cos(2 * M_PI * i / (n - 1));
      t[i] = sinc * window;
      sum += t[i];
    }
    for (double& v : t) v /= sum;
    return t;
  }();
  const int half = static_cast<int>(taps.size()) / 2;
  std::vector<double> out(in.size() / 2);
  for (size_t k = 0; k < out.size(); ++k) {
    double acc = 0;
    int center = static_cast<int>(2 * k);
    for (int i = 0; i < static_cast<int>(taps.size()); ++i) {
      int j = center + i - half;
      if (j >= 0 && j < static_cast<int>(in.size())) acc += taps[static_cast<size_t>(i)] * in[static_cast<size_t>(j)];
    }
    out[k] = acc;
  }
  return out;
}

uint8_t toByte(double v) {
  long q = std::lround(v / kGainDivisor) + 128;
  return static_cast<uint8_t>(std::clamp<long>(q, 0, 255));
}

std::vector<uint8_t> toBytes(const std::vector<double>& in, size_t from, size_t to) {
  std::vector<uint8_t> out;
  for (size_t i = from; i < to && i < in.size(); ++i) out.push_back(toByte(in[i]));
  return out;
}

// The rising zero crossing nearest to `pos` within the snap window.
size_t snapToZero(const std::vector<double>& s, size_t pos) {
  if (s.size() < 2) return pos;
  pos = std::min(pos, s.size() - 1);
  for (int d = 0; d <= kSnapWindow; ++d) {
    for (int sign : {-1, 1}) {
      long p = static_cast<long>(pos) + sign * d;
      if (p < 1 || p >= static_cast<long>(s.size())) continue;
      if (s[static_cast<size_t>(p - 1)] < 0 && s[static_cast<size_t>(p)] >= 0) return static_cast<size_t>(p);
    }
  }
  return pos;
}

// ---- WAV ---------------------------------------------------------------------

std::string waveHeader(uint32_t dataSize) {
  std::string h;
  auto u32 = [&h](uint32_t v) {
    for (int i = 0; i < 4; ++i) h += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto u16 = [&h](uint16_t v) {
    h += static_cast<char>(v & 0xFF);
    h += static_cast<char>(v >> 8);
  };
  h += "RIFF";
  u32(36 + dataSize);
  h += "WAVEfmt ";
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(kOutRate);
  u32(kOutRate);  // bytes per second
  u16(1);         // block align
  u16(8);         // bits per sample
  h += "data";
  u32(dataSize);
  return h;
}

bool writeWave(const fs::path& path, const std::vector<uint8_t>& samples) {
  std::ofstream out(path, std::ios::binary);
  out << waveHeader(static_cast<uint32_t>(samples.size()));
  out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size()));
  return static_cast<bool>(out);
}

std::vector<uint8_t> trimSilence(const std::vector<uint8_t>& s) {
  size_t first = 0;
  while (first < s.size() && std::abs(s[first] - 128) < kTrimThreshold) ++first;
  if (first == s.size()) return {};
  size_t last = s.size() - 1;
  while (last > first && std::abs(s[last] - 128) < kTrimThreshold) --last;
  size_t from = first > kTrimMargin ? first - kTrimMargin : 0;
  size_t to = std::min(s.size(), last + 1 + kTrimMargin);
  return {s.begin() + static_cast<long>(from), s.begin() + static_cast<long>(to)};
}

// ---- Diphones ------------------------------------------------------------------

struct Carrier {
  std::vector<std::string> phonemes;  // espeak mnemonics
  size_t stressed = 0;                // phoneme that carries the stress mark
  size_t first = 0;                   // index of the unit's first phone
};

std::string carrierText(const Carrier& c) {
  // "|" keeps neighbours apart that espeak would otherwise read as one
  // phoneme ("t" "S" as the affricate "tS").
  std::string t = "[[";
  for (size_t i = 0; i < c.phonemes.size(); ++i) {
    if (i > 0) t += "|";
    if (i == c.stressed) t += "'";
    t += c.phonemes[i];
  }
  return t + "]]";
}

// Phones before and after the unit that make a pronounceable word.
std::vector<std::string> leadIn(PhoneClass k) {
  if (k == PhoneClass::Vowel) return {"t"};
  if (k == PhoneClass::Glide) return {"t", "a"};
  return {"a"};
}
std::vector<std::string> leadOut(PhoneClass k) {
  if (k == PhoneClass::Consonant) return {"a"};
  return {"t", "a"};
}

// Index of the vowel to stress: the unit's own vowel when it has one.
size_t stressIndex(const std::vector<std::string>& ph, const std::vector<PhoneClass>& kinds, size_t from) {
  for (size_t i = from; i < ph.size(); ++i)
    if (kinds[i] == PhoneClass::Vowel) return i;
  for (size_t i = 0; i < ph.size(); ++i)
    if (kinds[i] == PhoneClass::Vowel) return i;
  return 0;
}

PhoneClass kindOf(const std::string& espeak) {
  for (const auto& [sym, p] : phoneTable())
    if (espeak == p.espeak) return p.kind;
  return PhoneClass::Consonant;
}

Carrier makeCarrier(const std::vector<char>& unit, bool leadingSilence, bool trailingSilence) {
  Carrier c;
  const auto& table = phoneTable();
  std::vector<std::string> ph;
  if (!leadingSilence) ph = leadIn(table.at(unit.front()).kind);
  c.first = ph.size();
  for (char u : unit) ph.push_back(table.at(u).espeak);
  if (!trailingSilence) {
    auto tail = leadOut(table.at(unit.back()).kind);
    ph.insert(ph.end(), tail.begin(), tail.end());
  }
  std::vector<PhoneClass> kinds;
  for (const auto& p : ph) kinds.push_back(kindOf(p));
  c.stressed = stressIndex(ph, kinds, c.first);
  c.phonemes = std::move(ph);
  return c;
}

struct UnitCut {
  std::vector<uint8_t> samples;
  std::string error;
};

// Cuts one unit: `unit` holds one phone (an edge half) or two (a diphone).
UnitCut cutUnit(const std::vector<char>& unit, bool leadingSilence, bool trailingSilence) {
  Carrier carrier = makeCarrier(unit, leadingSilence, trailingSilence);
  Synthesis s = synthesize(carrierText(carrier), true);
  UnitCut cut;
  if (s.phonemes.size() != carrier.phonemes.size()) {
    cut.error = carrierText(carrier) + ": espeak gave " + std::to_string(s.phonemes.size()) + " phonemes";
    return cut;
  }
  for (size_t i = 0; i < s.phonemes.size(); ++i) {
    if (s.phonemes[i].name != carrier.phonemes[i]) {
      cut.error = carrierText(carrier) + ": espeak read " + s.phonemes[i].name + " for " + carrier.phonemes[i];
      return cut;
    }
  }
  auto startOf = [&s](size_t i) { return s.phonemes[i].sample; };
  auto endOf = [&s](size_t i) { return i + 1 < s.phonemes.size() ? s.phonemes[i + 1].sample : s.endSample; };
  auto middleOf = [&](size_t i) { return (startOf(i) + endOf(i)) / 2; };
  size_t a = carrier.first;
  size_t b = carrier.first + unit.size() - 1;
  int from = leadingSilence ? startOf(a) : middleOf(a);
  int to = trailingSilence ? endOf(b) : middleOf(b);
  std::vector<double> low = halveRate(s.samples);
  size_t lo = static_cast<size_t>(std::max(0, from / 2));
  size_t hi = static_cast<size_t>(std::max(0, to / 2));
  if (!leadingSilence) lo = snapToZero(low, lo);
  if (!trailingSilence) hi = snapToZero(low, hi);
  if (hi <= lo) hi = std::min(low.size(), lo + 1);
  cut.samples = toBytes(low, lo, hi);
  // Short fades where a unit meets silence.
  constexpr size_t kFade = 40;
  if (leadingSilence)
    for (size_t i = 0; i < std::min(kFade, cut.samples.size()); ++i)
      cut.samples[i] = static_cast<uint8_t>(128 + (cut.samples[i] - 128) * static_cast<int>(i) / static_cast<int>(kFade));
  if (trailingSilence)
    for (size_t i = 0; i < std::min(kFade, cut.samples.size()); ++i) {
      size_t k = cut.samples.size() - 1 - i;
      cut.samples[k] = static_cast<uint8_t>(128 + (cut.samples[k] - 128) * static_cast<int>(i) / static_cast<int>(kFade));
    }
  return cut;
}

bool buildDiphones(const fs::path& dir) {
  std::set<char> symbols = phoneSymbolsOfRules();
  for (char c : symbols) {
    if (!phoneTable().count(c)) {
      std::fprintf(stderr, "voicegen: the rules write the phone symbol '%c', which has no espeak phoneme\n", c);
      return false;
    }
  }
  struct Pending {
    std::string name;
    std::vector<uint8_t> samples;
  };
  std::vector<Pending> units;
  auto add = [&units](const std::string& name, UnitCut cut) {
    if (!cut.error.empty()) {
      std::fprintf(stderr, "voicegen: unit %s: %s\n", name.c_str(), cut.error.c_str());
      return false;
    }
    units.push_back({name, std::move(cut.samples)});
    return true;
  };
  for (char x : symbols) {
    if (!add(std::string("$") + upper(x), cutUnit({x}, true, false))) return false;
    if (!add(std::string("$") + upper(x) + "#", cutUnit({x}, false, true))) return false;
    for (char y : symbols)
      if (!add(std::string("$") + upper(x) + upper(y), cutUnit({x, y}, false, false))) return false;
  }
  std::sort(units.begin(), units.end(),
            [](const Pending& a, const Pending& b) { return diphoneNameLess(a.name, b.name); });
  if (units.size() > kDiphoneRecordMax) {
    std::fprintf(stderr, "voicegen: %zu units, the index holds %zu\n", units.size(), kDiphoneRecordMax);
    return false;
  }
  std::vector<DiphoneIndexRecord> records;
  std::ofstream dif(dir / "DIFONES2.DIF", std::ios::binary);
  int32_t offset = 0;
  for (const Pending& u : units) {
    size_t n = std::min<size_t>(u.samples.size(), 65535);  // lengths are 16-bit
    dif.write(reinterpret_cast<const char*>(u.samples.data()), static_cast<std::streamsize>(n));
    records.push_back({u.name, static_cast<uint16_t>(n), offset});
    offset += static_cast<int32_t>(n);
  }
  std::ofstream ind(dir / "DIFONES2.IND", std::ios::binary);
  ind << encodeDiphoneIndex(records);
  return static_cast<bool>(dif) && static_cast<bool>(ind);
}

// ---- Recorded items --------------------------------------------------------------

struct Item {
  std::string name;  // file name without ".wav"
  std::string text;  // what espeak says (UTF-8)
};

const char* const kLetterNames[26] = {"á", "bê", "cê", "dê", "é", "éfe", "gê", "agá", "i", "jota",
                                      "cá", "éle", "ême", "êne", "ó", "pê", "quê", "érre", "ésse", "tê",
                                      "u", "vê", "dáblio", "xis", "ípsilon", "zê"};
const char* const kSpellingWords[26] = {"amor", "bola", "casa", "dado", "escola", "faca", "gato",
                                        "hotel", "igreja", "janela", "quilo", "lua", "macaco", "navio",
                                        "ovo", "pato", "queijo", "rato", "sapo", "tatu", "uva", "vaca",
                                        "uíste", "xícara", "iate", "zebra"};

// Names of the characters of Windows-1252 above the letters and digits.
std::map<int, std::string> characterNames() {
  std::map<int, std::string> n = {
      {32, "espaço"}, {33, "exclamação"}, {34, "aspas"}, {35, "cerquilha"}, {36, "cifrão"},
      {37, "por cento"}, {38, "e comercial"}, {39, "apóstrofo"}, {40, "abre parênteses"},
      {41, "fecha parênteses"}, {42, "asterisco"}, {43, "mais"}, {44, "vírgula"}, {45, "hífen"},
      {46, "ponto"}, {47, "barra"}, {58, "dois pontos"}, {59, "ponto e vírgula"}, {60, "menor que"},
      {61, "igual"}, {62, "maior que"}, {63, "interrogação"}, {64, "arroba"}, {91, "abre colchetes"},
      {92, "barra invertida"}, {93, "fecha colchetes"}, {94, "circunflexo"}, {95, "sublinhado"},
      {96, "acento grave"}, {123, "abre chaves"}, {124, "barra vertical"}, {125, "fecha chaves"},
      {126, "til"}, {128, "euro"}, {130, "vírgula baixa"}, {131, "efe curvo"}, {132, "aspas baixas"},
      {133, "reticências"}, {134, "adaga"}, {135, "adaga dupla"}, {136, "circunflexo"},
      {137, "por mil"}, {138, "ésse com caron"}, {139, "menor angular"}, {140, "ó e ligados"},
      {142, "zê com caron"}, {145, "abre aspas simples"}, {146, "fecha aspas simples"},
      {147, "abre aspas"}, {148, "fecha aspas"}, {149, "marcador"}, {150, "meia risca"},
      {151, "travessão"}, {152, "til"}, {153, "marca comercial"}, {154, "ésse com caron"},
      {155, "maior angular"}, {156, "ó e ligados"}, {158, "zê com caron"}, {159, "ípsilon trema"},
      {160, "espaço fixo"}, {161, "exclamação invertida"}, {162, "centavo"}, {163, "libra"},
      {164, "moeda"}, {165, "iene"}, {166, "barra partida"}, {167, "parágrafo"}, {168, "trema"},
      {169, "direitos autorais"}, {170, "ordinal feminino"}, {171, "abre aspas angulares"},
      {172, "negação"}, {173, "hífen suave"}, {174, "marca registrada"}, {175, "mácron"},
      {176, "grau"}, {177, "mais ou menos"}, {178, "ao quadrado"}, {179, "ao cubo"},
      {180, "acento agudo"}, {181, "micro"}, {182, "fim de parágrafo"}, {183, "ponto médio"},
      {184, "cedilha"}, {185, "sobrescrito um"}, {186, "ordinal masculino"},
      {187, "fecha aspas angulares"}, {188, "um quarto"}, {189, "meio"}, {190, "três quartos"},
      {191, "interrogação invertida"}, {215, "vezes"}, {247, "dividido por"}};
  const char* digits[10] = {"zero", "um", "dois", "três", "quatro", "cinco", "seis", "sete", "oito", "nove"};
  for (int d = 0; d < 10; ++d) n[48 + d] = digits[d];
  for (int l = 0; l < 26; ++l) n[65 + l] = n[97 + l] = kLetterNames[l];
  // Accented letters, capital and small: 192..222 and 224..254.
  const char* accented[31] = {"á crase", "á agudo", "á circunflexo", "á til", "á trema", "á com anel",
                              "á e ligados", "cê cedilha", "é crase", "é agudo", "é circunflexo",
                              "é trema", "i crase", "i agudo", "i circunflexo", "i trema", "éte",
                              "êne til", "ó crase", "ó agudo", "ó circunflexo", "ó til", "ó trema",
                              "", "ó cortado", "u crase", "u agudo", "u circunflexo", "u trema",
                              "ípsilon agudo", "tórn"};
  for (int i = 0; i < 31; ++i) {
    if (accented[i][0] == '\0') continue;
    n[192 + i] = accented[i];
    n[224 + i] = accented[i];
  }
  n[223] = "ésse duplo";
  n[255] = "ípsilon trema";
  return n;
}

std::vector<Item> recordedItems() {
  std::vector<Item> items;
  for (const auto& [code, name] : characterNames()) items.push_back({"_" + std::to_string(code), name});
  items.push_back({"_unknown", "símbolo"});
  // Phonetic spelling of letters (Alt with Right in the field editor) and the tab.
  for (int l = 0; l < 26; ++l) {
    std::string say = std::string(kLetterNames[l]) + " de " + kSpellingWords[l];
    items.push_back({"_FON" + std::to_string(65 + l), say});
    items.push_back({"_FON" + std::to_string(97 + l), say});
  }
  items.push_back({"_FON199", "cê cedilha, de caçador"});
  items.push_back({"_FON231", "cê cedilha, de caçador"});
  items.push_back({"_FON9", "tabulação"});
  // Field editor, speech front-end and player items.
  items.insert(items.end(), {{"_DEL", "apagou"},
                             {"_APFCPO", "apagado até o fim do campo"},
                             {"_APICPO", "apagado até o início do campo"},
                             {"_CPOAPA", "campo apagado"},
                             {"_FALACI", "fala dos caracteres ligada"},
                             {"_FALDLG", "fala dos caracteres desligada"},
                             {"_VELOC", "velocidade?"},
                             {"_MENOS", "menos"},
                             {"_SEMBAT", "sem bateria"},
                             {"_SEMENER", "sem energia da tomada"},
                             {"_TRACO", "traço"}});
  // Number words, as "_" + the word without ã/õ, cut to 8 characters.
  const char* words[][2] = {
      {"zero", "zero"}, {"um", "um"}, {"dois", "dois"}, {"tres", "três"}, {"quatro", "quatro"},
      {"cinco", "cinco"}, {"seis", "seis"}, {"sete", "sete"}, {"oito", "oito"}, {"nove", "nove"},
      {"dez", "dez"}, {"onze", "onze"}, {"doze", "doze"}, {"treze", "treze"}, {"quatorze", "quatorze"},
      {"quinze", "quinze"}, {"dezesseis", "dezesseis"}, {"dezeset", "dezessete"}, {"dezoito", "dezoito"},
      {"dezenove", "dezenove"}, {"vinte", "vinte"}, {"trinta", "trinta"}, {"quarenta", "quarenta"},
      {"cinquenta", "cinquenta"}, {"sessenta", "sessenta"}, {"setenta", "setenta"},
      {"oitenta", "oitenta"}, {"noventa", "noventa"}, {"cem", "cem"}, {"cento", "cento"},
      {"duzentos", "duzentos"}, {"trezentos", "trezentos"}, {"quatrocentos", "quatrocentos"},
      {"quinhentos", "quinhentos"}, {"seiscentos", "seiscentos"}, {"setecentos", "setecentos"},
      {"oitocentos", "oitocentos"}, {"novecentos", "novecentos"}, {"mil", "mil"},
      {"milhao", "milhão"}, {"milhoes", "milhões"}, {"bilhao", "bilhão"}, {"bilhoes", "bilhões"},
      {"trilhao", "trilhão"}, {"trilhoes", "trilhões"}, {"uma", "uma"}, {"duas", "duas"}, {"e", "e"},
      {"de", "de"}, {"primeiro", "primeiro"}, {"hora", "hora"}, {"horas", "horas"},
      {"minuto", "minuto"}, {"minutos", "minutos"}};
  for (const auto& w : words) items.push_back({("_" + std::string(w[0])).substr(0, 8), w[1]});
  const char* days[][2] = {{"Domingo", "domingo"}, {"Segunda", "segunda"}, {"Terca", "terça"},
                           {"Quarta", "quarta"},   {"Quinta", "quinta"},   {"Sexta", "sexta"},
                           {"Sabado", "sábado"}};
  for (const auto& d : days) items.push_back({"_" + std::string(d[0]), d[1]});
  const char* months[][2] = {{"Janeiro", "janeiro"},   {"Fevereiro", "fevereiro"}, {"Marco", "março"},
                             {"Abril", "abril"},       {"Maio", "maio"},           {"Junho", "junho"},
                             {"Julho", "julho"},       {"Agosto", "agosto"},       {"Setembro", "setembro"},
                             {"Outubro", "outubro"},   {"Novembro", "novembro"},   {"Dezembro", "dezembro"}};
  for (const auto& m : months) items.push_back({"_" + std::string(m[0]).substr(0, 7), m[1]});
  return items;
}

// Touch tones: the two sines of each key of the telephone keypad.
std::vector<uint8_t> dtmf(char key) {
  static const char* keys = "123A456B789C*0#D";
  static const int rows[4] = {697, 770, 852, 941};
  static const int cols[4] = {1209, 1336, 1477, 1633};
  const char* p = std::strchr(keys, key);
  int index = static_cast<int>(p - keys);
  double f1 = rows[index / 4], f2 = cols[index % 4];
  const int n = kOutRate * 150 / 1000;  // 150 ms, longer than the 40 ms a receiver needs
  std::vector<uint8_t> out(n);
  for (int i = 0; i < n; ++i) {
    double t = static_cast<double>(i) / kOutRate;
    double v = 50 * std::sin(2 * M_PI * f1 * t) + 50 * std::sin(2 * M_PI * f2 * t);
    out[static_cast<size_t>(i)] = static_cast<uint8_t>(std::lround(128 + v));
  }
  return out;
}

bool buildItems(const fs::path& dir) {
  for (const Item& item : recordedItems()) {
    Synthesis s = synthesize(item.text, false);
    std::vector<double> low = halveRate(s.samples);
    std::vector<uint8_t> bytes = trimSilence(toBytes(low, 0, low.size()));
    if (bytes.empty()) {
      std::fprintf(stderr, "voicegen: item %s came out silent\n", item.name.c_str());
      return false;
    }
    if (!writeWave(dir / (item.name + ".wav"), bytes)) return false;
  }
  for (char key : std::string("0123456789#")) {
    if (!writeWave(dir / (std::string("dtmf_") + key + ".wav"), dtmf(key))) return false;
  }
  return writeWave(dir / "dtmf_X.wav", dtmf('*'));  // "X" stands for "*" in file names
}

// ---- Listening: join a text with the generated units ---------------------------

class FileSource : public DiphoneSource {
 public:
  FileSource(const fs::path& voice) : letters_(voice / "letras") {
    ok_ = db_.open((voice / "difones").string() + "/", "DIFONES2");
  }
  bool ok() const { return ok_; }
  std::optional<DiphoneUnit> findUnit(std::string_view name) override {
    auto u = db_.findUnit(name);
    if (!u) std::fprintf(stderr, "missing unit %.*s\n", static_cast<int>(name.size()), name.data());
    return u;
  }
  size_t readSamples(uint32_t offset, size_t count, uint8_t* out) override {
    return db_.readSamples(offset, count, out);
  }
  bool readItem(std::string_view name, size_t limit, std::vector<uint8_t>& samples) override {
    std::ifstream in(letters_ / (std::string(name) + ".wav"), std::ios::binary);
    if (!in) return false;
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (all.size() < 44) return false;
    samples.assign(all.begin() + 44, all.begin() + 44 + static_cast<long>(std::min(limit, all.size() - 44)));
    return true;
  }

 private:
  fs::path letters_;
  DiphoneDatabase db_;
  bool ok_ = false;
};

int say(const std::string& text, const fs::path& voice, const fs::path& wav) {
  if (!loadDiphoneRules((voice / "difones" / "regras.rgr").string()) ||
      !loadDiphoneExceptions((voice / "difones" / "portug.exc").string())) {
    std::fprintf(stderr, "voicegen: no rules in %s\n", voice.c_str());
    return 1;
  }
  FileSource source(voice);
  if (!source.ok()) {
    std::fprintf(stderr, "voicegen: no database in %s\n", voice.c_str());
    return 1;
  }
  std::vector<uint8_t> all;
  DiphoneJoiner joiner(source, [&all](uint8_t* image, size_t size) {
    all.insert(all.end(), image + DiphoneJoiner::kHeaderSize, image + size);
  });
  DiphoneParameters p;
  p.wordGap = 600;  // the default speed level's INTERPAL
  joiner.setParameters(p);
  std::string phonetic = translateToPhonetic(text);
  std::printf("%s\n", phonetic.c_str());
  joiner.speak(phonetic, false);
  return writeWave(wav, all) ? 0 : 1;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> args;
  for (int i = 1; i + 1 < argc; i += 2) args[argv[i]] = argv[i + 1];
  if (!initEspeak()) return 1;
  if (args.count("--say")) return say(args["--say"], args["--voice"], args["--wav"]);
  if (!args.count("--rules") || !args.count("--exceptions") || !args.count("--out")) {
    std::fprintf(stderr,
                 "usage: %s --rules regras.rgr --exceptions portug.exc --out DIR [--stamp FILE]\n"
                 "       %s --say TEXT --voice DIR --wav OUT.wav\n",
                 argv[0], argv[0]);
    return 2;
  }
  fs::path out = args["--out"];
  fs::path letters = out / "letras";
  fs::path diphones = out / "difones";
  std::error_code ec;
  fs::create_directories(letters, ec);
  fs::create_directories(diphones, ec);
  if (!loadDiphoneRules(args["--rules"])) {
    std::fprintf(stderr, "voicegen: cannot read %s\n", args["--rules"].c_str());
    return 1;
  }
  fs::copy_file(args["--rules"], diphones / "regras.rgr", fs::copy_options::overwrite_existing, ec);
  if (ec) return 1;
  fs::copy_file(args["--exceptions"], diphones / "portug.exc", fs::copy_options::overwrite_existing, ec);
  if (ec) return 1;
  if (!buildDiphones(diphones) || !buildItems(letters)) return 1;
  if (args.count("--stamp")) std::ofstream(args["--stamp"]) << fileText(args["--rules"]).size() << "\n";
  return 0;
}
