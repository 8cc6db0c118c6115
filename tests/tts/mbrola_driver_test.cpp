// The synthesiser driver: lines made safe for the program, and the real
// mbrola process (start, sound, discarding a cut text, death, bad input).
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <thread>

#include "tts/koral_fixture.h"
#include "tts/mbrola_driver.h"

namespace ondaria::test {
namespace {

using koral::MbrolaSynth;

TEST(MbrolaLines, ValuesThatWouldStopTheProgramAreKeptInBounds) {
  MbrolaSynth synth;
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"a 100 50 200", "a 100 50 200"},
      {"a 0", "a 2"},
      {"a 99999999", "a 3000"},
      {"a 100 50 99999", "a 100 50 800"},
      {"a 100 150 5", "a 100 100 40"},
      {"a 100 50", "a 100"},              // a pitch point without its frequency
      {"a abc", "a 100"},
      {"a 100.6 20.2 180.5", "a 101 20 181"},
      {"a", "a 100"},
      {"a b 100", "a 100"},               // "b" is no number
      {"x#y 50", "_ 50"},                 // the flush mark inside a name
      {"sync3 50", "_ 50"},               // the driver's own marker name
      {"\xE9\xE7 50", "_ 50"},
      {"abcdefghijklmnopq 50", "_ 50"},   // longer than any phoneme
      {"\ta\t60\r", "a 60"},
      {";palavra\x01", ";palavra "},
      {"", ""},
      {"   ", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(synth.checkedLine(c.in), c.out) << c.in;
}

TEST(MbrolaLines, APitchPointEveryHundredAndFiftyPhonemes) {
  MbrolaSynth synth;
  synth.checkedLine("a 50 50 180");
  int added = 0;
  for (int i = 0; i < 400; ++i) added += synth.checkedLine("b 50").find(" 50 180") != std::string::npos;
  EXPECT_EQ(added, 2);
}

TEST(MbrolaDatabase, ANameIsLookedUpAmongTheInstalledVoicesThenAsAPath) {
  TempFolder dir;
  writeFileBytes(dir.path() / "voz", "x");
  EXPECT_EQ(koral::findMbrolaDatabase((dir.path() / "voz").string()), (dir.path() / "voz").string());
  EXPECT_EQ(koral::findMbrolaDatabase((dir.path() / "none").string()), "");
  EXPECT_EQ(koral::findMbrolaDatabase(dir.path().string()), "");  // a folder is no database
  EXPECT_EQ(koral::findMbrolaDatabase(""), "");
}

TEST(MbrolaProcess, AMissingProgramOrDatabaseFailsToStart) {
  MbrolaSynth missing;
  missing.setProgram("/nonexistent/mbrola");
  EXPECT_EQ(missing.init("/usr/share/mbrola/br4/br4", 2000), koral::kMbrolaNotRunning);
  EXPECT_NE(missing.lastErrorStr().find("cannot start"), std::string::npos);
  EXPECT_FALSE(missing.running());

  SKIP_WITHOUT_VOICE();
  TempFolder dir;
  writeFileBytes(dir.path() / "bad", std::string(4096, 'x'));
  MbrolaSynth damaged;
  EXPECT_EQ(damaged.init((dir.path() / "bad").string(), 3000), koral::kMbrolaNotRunning);
  EXPECT_FALSE(damaged.lastErrorStr().empty());
}

class LiveMbrola : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_VOICE();
    ASSERT_EQ(synth_.init(shippedFiles().database), 0) << synth_.lastErrorStr();
  }
  // Everything the synthesiser makes until the flushed text is complete.
  std::vector<int16_t> collect(int timeoutMs = 5000) {
    std::vector<int16_t> all;
    int16_t buf[4096];
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      int n;
      while ((n = synth_.read(buf, 4096)) > 0) all.insert(all.end(), buf, buf + n);
      if (synth_.done() || n < 0) break;
      synth_.wait(20);
    }
    return all;
  }
  static int peak(const std::vector<int16_t>& s) {
    int p = 0;
    for (int16_t v : s) p = std::max(p, std::abs(static_cast<int>(v)));
    return p;
  }
  void say(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) ASSERT_EQ(synth_.write(l), 0) << l;
    ASSERT_EQ(synth_.flush(), 0);
  }
  MbrolaSynth synth_;
};

const std::vector<std::string> kCasa = {"_ 50", "k 80 50 200", "a 120 50 220", "z 90",
                                        "a 120 50 180", "_ 50"};

TEST_F(LiveMbrola, SpeaksAtTheVoicesRateAndKnowsWhenATextEnds) {
  EXPECT_EQ(synth_.getFreq(), 16000);
  say(kCasa);
  std::vector<int16_t> s = collect();
  EXPECT_TRUE(synth_.done());
  // 510 ms of phonemes at 16 kHz, give or take a pitch period.
  EXPECT_NEAR(static_cast<double>(s.size()), 8160.0, 400.0);
  EXPECT_GT(peak(s), 1000);
  // The volume ratio scales what is read.
  synth_.setVolumeRatio(0.5f);
  say(kCasa);
  EXPECT_NEAR(peak(collect()), peak(s) / 2, peak(s) / 20 + 2);
}

TEST_F(LiveMbrola, ResetDiscardsWhatIsStillMadeForACutText) {
  std::vector<std::string> longText;
  for (int i = 0; i < 150; ++i) {
    longText.push_back("k 80 50 200");
    longText.push_back("a 120 50 220");
  }
  say(longText);
  ASSERT_EQ(synth_.reset(), 0);
  EXPECT_TRUE(synth_.done());
  int16_t buf[64];
  EXPECT_EQ(synth_.read(buf, 64), 0);
  // The next text is heard from its beginning, and only it.
  say(kCasa);
  std::vector<int16_t> s = collect();
  EXPECT_NEAR(static_cast<double>(s.size()), 8160.0, 400.0);
}

TEST_F(LiveMbrola, PhonemesTheVoiceLacksAndHostileValuesDoNotStopIt) {
  say({"_ 50", "qq 100", "a 0", "a 99999999 50 99999", "zz9 30 50", "a 100 50 200", "_ 50"});
  std::vector<int16_t> s = collect();
  EXPECT_TRUE(synth_.running());
  EXPECT_GT(s.size(), 0u);
  // Hundreds of phonemes without pitch or flush: the program's limits.
  std::vector<std::string> many(600, "a 30");
  say(many);
  collect(10000);
  EXPECT_TRUE(synth_.running());
  say(kCasa);
  EXPECT_NEAR(static_cast<double>(collect().size()), 8160.0, 400.0);
}

TEST_F(LiveMbrola, AKilledProcessIsReportedNotWaitedFor) {
  ::kill(synth_.pid(), SIGKILL);
  int16_t buf[64];
  int r = 0;
  for (int i = 0; i < 100 && (r = synth_.read(buf, 64)) >= 0; ++i) synth_.wait(20);
  EXPECT_LT(r, 0);
  EXPECT_FALSE(synth_.running());
  EXPECT_LT(synth_.write("a 100"), 0);
  // Started again, it speaks.
  ASSERT_EQ(synth_.init(shippedFiles().database), 0);
  say(kCasa);
  EXPECT_GT(collect().size(), 7000u);
}

}  // namespace
}  // namespace ondaria::test
