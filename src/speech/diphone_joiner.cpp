// The joining core of diphone speech: token reader, recursive splitter, name
// look-up with its fall-backs, and the join buffer.
#include <algorithm>
#include <cstring>

#include "speech/diphone_speech.h"

namespace ondaria {

namespace {

// Fixed silences for punctuation tokens, in samples (about 0.36 s to 0.73 s).
constexpr int kCommaSilence = 4000;
constexpr int kStopSilence = 8000;
constexpr int kSemicolonSilence = 6000;
constexpr int kColonSilence = 8000;

constexpr size_t kMaxToken = 40;
constexpr size_t kMaxUnit = 12;
constexpr size_t kMaxName = 12;
// A "/" inside a token is only a separator for readability until the token is
// longer than the longest index name; after that it ends the token.
constexpr size_t kSlashJoinsUpTo = 8;
constexpr int kSilenceBlock = 100;
constexpr int kNoiseSamples = 300;
constexpr uint8_t kSilence = 128;

bool isVowel(char c) { return std::strchr("aeiouAEIOUwy", c) != nullptr && c != '\0'; }
bool isConsonant(char c) { return c != '\0' && std::strchr("bcdfgjklmnpqrstvxz", c) != nullptr; }
bool isSemivowel(char c) { return c == 'w' || c == 'y'; }
bool isMark(char c) { return c == '^' || c == '~'; }
bool isStressedVowel(char c) { return c != '\0' && std::strchr("AEIOU", c) != nullptr; }

bool endsWith(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

}  // namespace

DiphoneJoiner::DiphoneJoiner(DiphoneSource& source, Flush flush)
    : source_(source), flush_(std::move(flush)), buffer_(kBufferSize, kSilence), random_(12345) {}

void DiphoneJoiner::speak(std::string_view text, bool speakMarks) {
  fill_ = kHeaderSize;
  stress_ = 1;
  size_t pos = 0;
  while (pos < text.size()) {
    std::string token = readToken(text, pos, speakMarks);
    splitToken(token, 1.0);
    if (pos < text.size() && pos >= 1 && text[pos - 1] != ' ') addSilence(params_.wordGap);
  }
  flush();
}

std::string DiphoneJoiner::readToken(std::string_view text, size_t& pos, bool speakMarks) {
  if (pos < text.size() && text[pos] == '[') {
    stress_ = 1;
    ++pos;
  }
  std::string token;
  auto append = [&token](char c) {
    if (token.size() < kMaxToken) token += c;
  };
  while (pos < text.size() && text[pos] != ' ' && text[pos] != ']') {
    char c = text[pos];
    if (c == '/') {
      ++pos;
      if (token.size() > kSlashJoinsUpTo) return token;  // cut: no separator to step over
      continue;
    }
    if (c == '_') {
      append('_');
      if (pos + 1 < text.size()) append(text[pos + 1]);
      pos += 2;
      continue;
    }
    if (c == '|') token = "_TRACO";
    else append(c);
    ++pos;
  }
  if (pos < text.size()) ++pos;  // the blank or "]"
  if (!speakMarks && token.size() == 2 && token[0] == '_') {
    int silence = 0;
    switch (token[1]) {
      case ',': silence = kCommaSilence; break;
      case '.': silence = kStopSilence; break;
      case ';': silence = kSemicolonSilence; break;
      case ':': silence = kColonSilence; break;
      default: break;
    }
    if (silence != 0) {
      token.clear();
      addSilence(silence);
    }
  }
  return token;
}

void DiphoneJoiner::splitToken(const std::string& w, double f) {
  size_t n = w.size();
  if (n == 0) return;
  if (n == 1) {
    speakUnit(w, f);
    return;
  }
  if (n > 2) {
    std::string_view two(w.data(), 2);
    if (isConsonant(w[0]) && isConsonant(w[1]) && two != "dj" && two != "nh" && two != "rr" &&
        two != "ks" && w.compare(0, 3, "tch") != 0) {
      speakUnit(w.substr(0, 1), f);
      splitToken(w.substr(1), f);
      return;
    }
    if (endsWith(w, "rr")) {
      splitToken(w.substr(0, n - 2), f);
      speakUnit("rr", f);
      return;
    }
    if (isConsonant(w[n - 1])) {
      splitToken(w.substr(0, n - 1), f);
      splitToken(w.substr(n - 1), f);
      return;
    }
  }
  char last = w[n - 1], before = w[n - 2];
  if (isSemivowel(last)) {
    if (isVowel(before) && n > 2) {
      splitToken(w.substr(0, n - 1), 0.6);
      speakUnit(w.substr(n - 2), f);
      return;
    }
    if (isMark(before)) {
      if (n < 4) {
        // vowel, semivowel, mark
        if (n == 3) speakUnit(std::string{w[0], w[2], w[1]}, f);
        else speakUnit(w, f);  // a mark and a semivowel alone: no vowel to move
        return;
      }
      if (before == '~') splitToken(w.substr(0, n - 2) + "^", 0.6);
      else splitToken(w.substr(0, n - 1), 0.6);
      speakUnit(std::string{w[n - 3], w[n - 1], w[n - 2]}, f);
      return;
    }
  }
  if (w != "_s" && last == 's') {
    splitToken(w.substr(0, n - 1), 0.7);
    speakUnit("s", f);
    return;
  }
  speakUnit(w, f);
}

void DiphoneJoiner::speakUnit(std::string u, double f) {
  if (u.size() > kMaxUnit) u.resize(kMaxUnit);
  if (u.empty()) return;
  if (u[0] == '_') {
    if (u.size() < 2) return;  // "_" at the very end of the text names nothing
    // "_" and one character is that character's letter file ("_," is "_44");
    // a longer name ("_TRACO", from "|") is the item of that name, not the
    // letter file of its first letter.
    if (u.size() == 2) lookUp("_" + std::to_string(static_cast<uint8_t>(u[1])), stress_, f);
    else lookUp(u, stress_, f);
    return;
  }
  bool stressed = false;
  std::string name = "$";
  for (char c : u) {
    if (c == '^' || c == '~') {
      lookUp(name + (c == '^' ? "CIRC" : "TIL"), stress_, f);
      name = "$";
      continue;
    }
    if (isStressedVowel(c)) {
      stress_ = 2;
      stressed = true;
    }
    name += c;
  }
  if (name != "$") lookUp(name, stress_, f);
  if (stressed) stress_ = 0;
}

void DiphoneJoiner::lookUp(const std::string& name, int stress, double f) {
  if (name.empty()) return;
  if (name[0] == '_') {
    std::vector<uint8_t> samples;
    bool found = source_.readItem(name, kBufferSize - kHeaderSize, samples);
    if (trace_) trace_(name, found);
    if (found) addBytes(samples.data(), samples.size());
    return;
  }
  std::string key = upper(name.substr(0, kMaxName));
  std::optional<DiphoneUnit> unit = source_.findUnit(key);
  if (trace_) trace_(key, unit.has_value());
  if (unit) {
    int length = unit->length;
    if (stress < 2 && name.size() >= 3) {
      length -= params_.shortening;
      if (length < params_.leastLength) length = std::min<int>(params_.leastLength, unit->length);
    }
    if (length <= 0) return;
    // The whole unit must fit an empty join buffer.
    size_t count = std::min<size_t>(static_cast<size_t>(length * f), kBufferSize - kHeaderSize - 1);
    std::vector<uint8_t> samples(count);
    size_t got = source_.readSamples(unit->offset, count, samples.data());
    addBytes(samples.data(), got);
    return;
  }
  size_t n = name.size();
  char last = name[n - 1];
  if (n <= 2) {
    addNoise();
  } else if (isVowel(last)) {
    lookUp(name.substr(0, n - 1), stress, 0.9 * f);
    lookUp(std::string("$") + last, stress, f);
  } else if (endsWith(name, "CIRC") && n >= 7) {
    lookUp(name.substr(0, n - 5), stress, 0.9 * f);
    lookUp("$" + name.substr(n - 5), stress, f);
  } else if (endsWith(name, "TIL")) {
    std::string base = name.substr(0, n - 3);
    int baseStress = stress;
    char b = base.empty() ? '\0' : static_cast<char>(upper(std::string(1, base.back()))[0]);
    if (b != 'I' && b != 'U') {
      base += "CIRC";
      baseStress = 2;
    }
    lookUp(base, baseStress, 0.9 * f);
    lookUp("$nn", 1, 0.9);
  }
}

void DiphoneJoiner::addBytes(const uint8_t* bytes, size_t n) {
  if (n == 0) return;
  if (fill_ + n >= kBufferSize) flush();
  n = std::min(n, kBufferSize - 1 - fill_);
  std::memcpy(buffer_.data() + fill_, bytes, n);
  fill_ += n;
}

void DiphoneJoiner::addSilence(int samples) {
  static const std::vector<uint8_t> block(kSilenceBlock, kSilence);
  for (int i = 0; i < samples / kSilenceBlock; ++i) addBytes(block.data(), block.size());
}

void DiphoneJoiner::addNoise() {
  // A short hiss (88..167 around the silence value 128) for a one- or
  // two-letter unit missing from the database, so that the gap is heard.
  uint8_t noise[kNoiseSamples];
  std::uniform_int_distribution<int> spread(0, 79);
  for (auto& s : noise) s = static_cast<uint8_t>(88 + spread(random_));
  addBytes(noise, sizeof noise);
}

void DiphoneJoiner::flush() {
  if (fill_ > kHeaderSize && flush_) flush_(buffer_.data(), fill_);
  fill_ = kHeaderSize;
}

}  // namespace ondaria
