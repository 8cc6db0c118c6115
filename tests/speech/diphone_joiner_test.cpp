#include <gtest/gtest.h>

#include <map>

#include "speech/diphone_speech.h"

namespace ondaria {
namespace {

// A database in memory: each unit's samples are all one value, so the played
// buffers show which units were joined and how many samples each gave.
class FakeSource : public DiphoneSource {
 public:
  void addUnit(const std::string& name, uint16_t length, uint8_t value) {
    units_[name] = DiphoneUnit{static_cast<uint32_t>(samples_.size()), length};
    samples_.insert(samples_.end(), length, value);
  }
  void addItem(const std::string& name, size_t length, uint8_t value) {
    items_[name] = std::vector<uint8_t>(length, value);
  }
  std::optional<DiphoneUnit> findUnit(std::string_view name) override {
    auto it = units_.find(std::string(name));
    if (it == units_.end()) return std::nullopt;
    return it->second;
  }
  size_t readSamples(uint32_t offset, size_t count, uint8_t* out) override {
    if (offset >= samples_.size()) return 0;
    count = std::min(count, samples_.size() - offset);
    std::copy_n(samples_.begin() + offset, count, out);
    return count;
  }
  bool readItem(std::string_view name, size_t limit, std::vector<uint8_t>& samples) override {
    auto it = items_.find(std::string(name));
    if (it == items_.end()) return false;
    samples.assign(it->second.begin(), it->second.begin() + std::min(limit, it->second.size()));
    return true;
  }

 private:
  std::map<std::string, DiphoneUnit> units_;
  std::map<std::string, std::vector<uint8_t>> items_;
  std::vector<uint8_t> samples_;
};

struct Joining {
  FakeSource source;
  std::vector<std::vector<uint8_t>> played;  // samples of each flushed buffer
  std::vector<std::string> looked;           // names looked up, "!" appended when missing
  DiphoneJoiner joiner{source, [this](uint8_t* image, size_t size) {
                         ASSERT_GE(size, DiphoneJoiner::kHeaderSize);
                         ASSERT_LT(size, DiphoneJoiner::kBufferSize);
                         played.emplace_back(image + DiphoneJoiner::kHeaderSize, image + size);
                       }};
  Joining() {
    joiner.setTrace([this](const std::string& name, bool found) {
      looked.push_back(found ? name : name + "!");
    });
  }
  std::vector<uint8_t> all() const {
    std::vector<uint8_t> out;
    for (const auto& b : played) out.insert(out.end(), b.begin(), b.end());
    return out;
  }
};

using Names = std::vector<std::string>;

TEST(DiphoneSplitter, LeadingConsonantPairsAreCutExceptTheJoinedOnes) {
  Joining r;
  r.joiner.splitToken("pla", 1.0);  // p alone, then "la"
  r.joiner.splitToken("nha", 1.0);  // nh stays together
  r.joiner.splitToken("tcha", 1.0);
  EXPECT_EQ(r.looked, (Names{"$P!", "$LA!", "$L!", "$A!", "$NHA!", "$NH!", "$A!", "$TCHA!",
                             "$TCH!", "$A!"}));
}

TEST(DiphoneSplitter, EndingsRrConsonantSemivowelAndS) {
  Joining r;
  r.source.addUnit("$KA", 10, 1);
  r.source.addUnit("$RR", 10, 2);
  r.source.addUnit("$R", 10, 3);
  r.source.addUnit("$AW", 10, 4);
  r.source.addUnit("$S", 10, 5);
  r.joiner.splitToken("karr", 1.0);  // "ka" then "rr"
  r.joiner.splitToken("kar", 1.0);   // "ka" then "r"
  r.joiner.splitToken("kaw", 1.0);   // "ka" at 0.6, then "aw"
  r.joiner.splitToken("kas", 1.0);   // "ka" at 0.7, then "s"
  EXPECT_EQ(r.looked, (Names{"$KA", "$RR", "$KA", "$R", "$KA", "$AW", "$KA", "$S"}));
  r.joiner.speak("", false);
  // No sound until a flush; speak() of an empty text flushes nothing.
  EXPECT_TRUE(r.played.empty());
}

TEST(DiphoneSplitter, NasalDiphthongMovesTheMarkBehindTheSemivowel) {
  Joining r;
  r.joiner.splitToken("a~w", 1.0);   // vowel, semivowel, mark: "aw" + TIL
  r.joiner.splitToken("pa~w", 1.0);  // "pa^" at 0.6, then "aw~"
  EXPECT_EQ(r.looked,
            (Names{// a~w: "$AWTIL" missing, so the nasal vowel is "$AW" + CIRC and "$NN"
                   "$AWTIL!", "$AWCIRC!", "$A!", "$WCIRC!", "$NN!",
                   // pa~w: "pa^" at 0.6, then "aw~" as above
                   "$PACIRC!", "$P!", "$ACIRC!", "$AWTIL!", "$AWCIRC!", "$A!", "$WCIRC!", "$NN!"}));
}

TEST(DiphoneLookUp, FallsBackToShorterNamesThenNoise) {
  Joining r;
  r.source.addUnit("$KW", 100, 7);
  r.source.addUnit("$A", 100, 9);
  r.joiner.speak("kwa", false);  // "$KWA" missing: "$KW" at 0.9, then "$A"
  EXPECT_EQ(r.looked, (Names{"$KWA!", "$KW", "$A"}));
  std::vector<uint8_t> s = r.all();
  ASSERT_EQ(s.size(), 190u);
  EXPECT_EQ(s[0], 7);
  EXPECT_EQ(s[89], 7);
  EXPECT_EQ(s[90], 9);

  Joining n;
  n.joiner.speak("b", false);  // one letter, missing: 300 samples of noise
  std::vector<uint8_t> noise = n.all();
  ASSERT_EQ(noise.size(), 300u);
  bool allSilent = true;
  for (uint8_t v : noise) {
    EXPECT_GE(v, 88);
    EXPECT_LE(v, 167);
    allSilent = allSilent && v == 128;
  }
  EXPECT_FALSE(allSilent);

  Joining q;
  q.joiner.speak("kaz", false);  // ends in a consonant: "ka", then "z" alone (noise)
  EXPECT_EQ(q.looked, (Names{"$KA!", "$K!", "$A!", "$Z!"}));
}

TEST(DiphoneLookUp, UnstressedUnitsAreShortenedButKeepTheLeastLength) {
  Joining r;
  r.source.addUnit("$KA", 1000, 1);
  r.source.addUnit("$KO", 120, 2);
  r.source.addUnit("$A", 1000, 3);
  r.joiner.setParameters({300, 200, 0});
  r.joiner.speak("ka ko kA a", false);
  std::vector<uint8_t> s = r.all();
  // ka: 1000-300; ko: 120-300 is below the least length 200 but the unit has
  // only 120; kA stressed: whole; "$A" has 2 characters: whole.
  EXPECT_EQ(std::count(s.begin(), s.end(), 1), 700 + 1000);
  EXPECT_EQ(std::count(s.begin(), s.end(), 2), 120);
  EXPECT_EQ(std::count(s.begin(), s.end(), 3), 1000);
}

TEST(DiphoneTokens, PunctuationSilencesWordGapsAndItems) {
  Joining r;
  r.source.addUnit("$KA", 50, 1);
  r.source.addItem("_44", 30, 5);
  r.source.addItem("_TRACO", 20, 6);
  r.joiner.setParameters({0, 0, 250});
  // "[ka]" ends at "]": a word gap of 200 samples (two blocks of 100) follows.
  // "_," is a fixed silence of 4000; "_;" 6000; "|" is the dash item.
  r.joiner.speak("[ka]_, _; | ka", false);
  std::vector<uint8_t> s = r.all();
  EXPECT_EQ(s.size(), 50u + 200 + 4000 + 6000 + 20 + 50);
  EXPECT_EQ(std::count(s.begin(), s.end(), 6), 20);  // "|" plays "_TRACO", not the letter T

  Joining m;
  m.source.addItem("_44", 30, 5);
  m.joiner.speak("_,", true);  // with marks spoken, "_," is the comma's letter file
  EXPECT_EQ(m.looked, (Names{"_44"}));
  EXPECT_EQ(m.all(), std::vector<uint8_t>(30, 5));
}

TEST(DiphoneTokens, SlashJoinsShortPiecesAndCutsLongTokens) {
  Joining r;
  r.joiner.splitToken("", 1.0);
  r.joiner.speak("[k/A/z/a]", false);  // one token "kAza"
  EXPECT_EQ(r.looked.front(), "$KAZA!");
  Joining l;
  // After 9 letters a "/" cuts the token.
  l.joiner.speak("aaaaaaaaa/e", false);
  EXPECT_EQ(l.looked.front(), "$AAAAAAAAA!");
  EXPECT_EQ(l.looked.back(), "$E!");
}

TEST(DiphoneBuffer, LongJoinsArePlayedInSeveralBuffers) {
  Joining r;
  r.source.addUnit("$BA", 40000, 1);
  r.source.addUnit("$BE", 40000, 2);
  r.source.addUnit("$BI", 65535, 3);  // longer than the whole buffer
  r.joiner.speak("bA bE bI", false);
  ASSERT_EQ(r.played.size(), 3u);
  EXPECT_EQ(r.played[0], std::vector<uint8_t>(40000, 1));
  EXPECT_EQ(r.played[1], std::vector<uint8_t>(40000, 2));
  EXPECT_EQ(r.played[2].size(), DiphoneJoiner::kBufferSize - DiphoneJoiner::kHeaderSize - 1);
}

}  // namespace
}  // namespace ondaria
