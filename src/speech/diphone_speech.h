// Diphone speech: speaks a phonetic text (made by the diphone text translation)
// by joining recorded diphones of the database "DIFONES2" into one buffer of
// 8-bit unsigned mono samples at 11025 per second, played through the wave
// output.
//
// Phonetic text: "[" starts a word (stress level back to 1); units are written
// one after the other, "/" separating pieces of a word, a blank or "]" ending a
// token; "_" plus one character is a recorded item (the letter file of that
// character); "|" is the dash item "_TRACO". An upper-case vowel is a stressed
// one. Tokens are split into units (splitToken), each unit is looked up in the
// index as "$" + its letters (upper-cased), "^" and "~" closing a piece with
// "CIRC" or "TIL"; a name not found falls back to shorter names, to a short
// noise for one or two characters, else to silence.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

// ---- Module facade (used by the speech front-end) -------------------------

// 0 on success; 1 when the letters or diphone directory or the database files
// cannot be used; 2 when the rules or exceptions file cannot be loaded.
int diphoneStart();
// Releases the join buffer, the rules, the sample file and the index.
void diphoneEnd();
bool diphoneStarted();
// Speaks the phonetic text; returns after the last buffer has been played.
// With speakMarks false, "_," "_." "_:" and "_;" tokens are fixed silences.
void diphoneSpeak(std::string_view phonetic, bool speakMarks);
// Per speed level (SINTETIZADOR CORTEFON n, SOBRAFON n, INTERPAL n).
void setDiphoneParameters(int shortening, int leastLength, int wordGap);
// Name of the database opened (at most 8 characters).
const std::string& diphoneDatabaseName();

// ---- Joining core ---------------------------------------------------------

struct DiphoneUnit {
  uint32_t offset = 0;  // first sample in the sample file
  uint16_t length = 0;  // samples
};

// Where the joiner gets its sound from.
class DiphoneSource {
 public:
  virtual ~DiphoneSource() = default;
  // Index search for an upper-case unit name.
  virtual std::optional<DiphoneUnit> findUnit(std::string_view name) = 0;
  // Reads up to `count` samples from `offset`; returns how many were read.
  virtual size_t readSamples(uint32_t offset, size_t count, uint8_t* out) = 0;
  // Samples of the recorded item `name` ("_44", "_TRACO"), at most `limit`.
  virtual bool readItem(std::string_view name, size_t limit, std::vector<uint8_t>& samples) = 0;
};

struct DiphoneParameters {
  int shortening = 0;   // samples cut from the end of an unstressed unit name of 3+ characters
  int leastLength = 0;  // a shortened unit keeps at least this many samples
  int wordGap = 0;      // silence after a token that did not end at a blank
};

class DiphoneJoiner {
 public:
  static constexpr size_t kBufferSize = 64000;  // the join buffer, header included
  static constexpr size_t kHeaderSize = 44;

  // `flush` receives the buffer (header space first) and its used size, plays it
  // and waits for it.
  using Flush = std::function<void(uint8_t* image, size_t size)>;
  // Observes every name looked up ("$KA", "_44") and whether it was found.
  using Trace = std::function<void(const std::string& name, bool found)>;

  DiphoneJoiner(DiphoneSource& source, Flush flush);

  void speak(std::string_view phonetic, bool speakMarks);
  void setParameters(const DiphoneParameters& p) { params_ = p; }
  void setTrace(Trace trace) { trace_ = std::move(trace); }

  // Exposed for tests: split one token with duration factor f.
  void splitToken(const std::string& w, double f);

 private:
  std::string readToken(std::string_view text, size_t& pos, bool speakMarks);
  void speakUnit(std::string u, double f);
  void lookUp(const std::string& name, int stress, double f);
  void addBytes(const uint8_t* bytes, size_t n);
  void addSilence(int samples);
  void addNoise();
  void flush();

  DiphoneSource& source_;
  Flush flush_;
  Trace trace_;
  DiphoneParameters params_;
  std::vector<uint8_t> buffer_;
  size_t fill_ = kHeaderSize;
  int stress_ = 1;
  std::minstd_rand random_;
};

}  // namespace ondaria
