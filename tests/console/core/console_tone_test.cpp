// The tone: the WAVE buffer it is built from and what the mixer plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "console/core/console.h"
#include "console/core/console_tone.h"
#include "platform/audio_device.h"
#include "platform/speech_log.h"

namespace ondaria {
namespace {

uint32_t get32(const std::vector<uint8_t>& w, size_t at) {
  return w[at] | (w[at + 1] << 8) | (w[at + 2] << 16) | (static_cast<uint32_t>(w[at + 3]) << 24);
}
uint16_t get16(const std::vector<uint8_t>& w, size_t at) {
  return static_cast<uint16_t>(w[at] | (w[at + 1] << 8));
}

TEST(ToneWave, HeaderDescribesEightBitMonoAt11025) {
  const std::vector<uint8_t> w = buildToneWave(440);
  ASSERT_GE(w.size(), 44u);
  EXPECT_EQ(std::string(w.begin(), w.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(w.begin() + 8, w.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(get32(w, 16), 16u);
  EXPECT_EQ(get16(w, 20), 1);  // PCM
  EXPECT_EQ(get16(w, 22), 1);  // mono
  EXPECT_EQ(get32(w, 24), 11025u);
  EXPECT_EQ(get32(w, 28), 11025u);
  EXPECT_EQ(get16(w, 32), 1);
  EXPECT_EQ(get16(w, 34), 8);
  EXPECT_EQ(std::string(w.begin() + 36, w.begin() + 40), "data");
  const uint32_t data = get32(w, 40);
  EXPECT_EQ(get32(w, 4), data + 36);
  EXPECT_EQ(w.size(), 44u + data);
}

TEST(ToneWave, WholePeriodsOfLowThenHighThenOneMidSample) {
  struct Case {
    int hz;
    int period;
    int periods;
  };
  // 11025 / 440 = 25 samples a period, 441 periods fill the second exactly;
  // 11025 / 1000 = 11, 1002 periods; 11025 / 3000 = 3, 3675 periods.
  for (const Case c : {Case{440, 25, 441}, Case{1000, 11, 1002}, Case{3000, 3, 3675}}) {
    const std::vector<uint8_t> w = buildToneWave(c.hz);
    const int size = static_cast<int>(get32(w, 40));
    ASSERT_EQ(size, c.period * c.periods + 1) << c.hz;
    for (int i = 0; i < size - 1; ++i) {
      const int phase = i % c.period;
      ASSERT_EQ(w[44 + i], phase < c.period / 2 ? 96 : 160) << c.hz << " sample " << i;
    }
    EXPECT_EQ(w[44 + size - 1], 128) << c.hz;
    EXPECT_LE(44 + size, kToneAllocation);
  }
}

TEST(ToneWave, FrequenciesWithoutAPeriodGiveNoBuffer) {
  EXPECT_TRUE(buildToneWave(0).empty());
  EXPECT_TRUE(buildToneWave(-440).empty());
  EXPECT_TRUE(buildToneWave(11026).empty());
  EXPECT_TRUE(buildToneWave(1 << 30).empty());
  // The extremes that still have a period.
  EXPECT_EQ(get32(buildToneWave(11025), 40), 11026u);  // period of 1: all high
  EXPECT_EQ(get32(buildToneWave(1), 40), 11026u);      // one period of a second
}

class TonePlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setSpeechObserver([this](platform::SpeechEvent e, const std::string& text) {
      if (e == platform::SpeechEvent::Tone) heard.push_back(text);
    });
  }
  void TearDown() override {
    stopTone();
    platform::setSpeechObserver(nullptr);
  }
  // Peak positive and negative sample over a stretch of mixer output.
  void render(float& high, float& low) {
    std::vector<float> out(2 * 4800);
    platform::audioRender(out.data(), 4800);
    high = *std::max_element(out.begin(), out.end());
    low = *std::min_element(out.begin(), out.end());
  }
  std::vector<std::string> heard;
};

TEST_F(TonePlayback, PlaysASquareWaveUntilStopped) {
  playTone(440);
  ASSERT_TRUE(platform::audioIsOpen());
  float high, low;
  render(high, low);
  // 160 and 96 are 32 steps of 128 above and below the middle.
  EXPECT_NEAR(high, 0.25f, 0.01f);
  EXPECT_NEAR(low, -0.25f, 0.01f);
  stopTone();
  render(high, low);
  EXPECT_EQ(high, 0.0f);
  EXPECT_EQ(low, 0.0f);
  EXPECT_EQ(heard, (std::vector<std::string>{"440", "off"}));
}

TEST_F(TonePlayback, ANewToneReplacesTheOldAndABadOneOnlyStops) {
  playTone(800);
  playTone(1600);
  float high, low;
  render(high, low);
  EXPECT_NEAR(high, 0.25f, 0.01f);  // one tone, not two added together
  playTone(0);
  render(high, low);
  EXPECT_EQ(high, 0.0f);
  stopTone();  // nothing left to stop: not heard again
  EXPECT_EQ(heard, (std::vector<std::string>{"800", "1600", "off"}));
}

}  // namespace
}  // namespace ondaria
