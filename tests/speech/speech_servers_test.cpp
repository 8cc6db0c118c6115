// Speech servers: the SERVFALA mappings, espeak-ng speaking into the mixer
// (dummy audio driver, real time), cutting, and speech-dispatcher missing.
#include "speech/speech_servers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/audio_device.h"
#include "platform/speech_log.h"

namespace ondaria {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(ServerMapping, RatesAndPitchesLandOnTheEngineScales) {
  EXPECT_EQ(espeakRateFromServerRate(0), 175);
  EXPECT_EQ(espeakRateFromServerRate(5), 303);   // 175 * sqrt(3)
  EXPECT_EQ(espeakRateFromServerRate(-5), 101);  // 175 / sqrt(3)
  EXPECT_EQ(espeakRateFromServerRate(10), 450);  // 525 kept inside espeak-ng's range
  EXPECT_EQ(espeakRateFromServerRate(-10), 80);
  EXPECT_EQ(espeakRateFromServerRate(99), 450);
  EXPECT_EQ(espeakRateFromServerRate(-99), 80);

  EXPECT_EQ(espeakPitchFromHz(0), -1);
  EXPECT_EQ(espeakPitchFromHz(-3), -1);
  EXPECT_EQ(espeakPitchFromHz(60), 0);
  EXPECT_EQ(espeakPitchFromHz(120), 50);
  EXPECT_EQ(espeakPitchFromHz(180), 100);
  EXPECT_EQ(espeakPitchFromHz(30), 0);
  EXPECT_EQ(espeakPitchFromHz(65535), 100);

  EXPECT_EQ(speechdRateFromServerRate(0), 0);
  EXPECT_EQ(speechdRateFromServerRate(-7), -70);
  EXPECT_EQ(speechdRateFromServerRate(10), 100);
  EXPECT_EQ(speechdRateFromServerRate(15), 100);

  ASSERT_FALSE(espeakVoiceNames().empty());
  EXPECT_EQ(espeakVoiceNames()[0], "pt-br");
}

TEST(ServerTypes, EveryTypeHasADriver) {
  EXPECT_NE(makeSpeechServer(kServerBuiltIn), nullptr);
  EXPECT_NE(makeSpeechServer(kServerClassic), nullptr);
  EXPECT_NE(makeSpeechServer(kServerSecondClass), nullptr);
  EXPECT_NE(makeSpeechServer(5), nullptr);
}

TEST(SpeechdServer, UnreachableDaemonFailsToStartAndStaysHarmless) {
  setenv("SPEECHD_ADDRESS", "unix_socket:/nonexistent/ondaria-speechd.sock", 1);
  auto server = makeSpeechServer(kServerSecondClass);
  EXPECT_FALSE(server->start(1, 0, 0));
  server->speak("nada");
  EXPECT_FALSE(server->busy(false));
  server->cut();
  server->stop();
  unsetenv("SPEECHD_ADDRESS");
}

// Watches the mixer output and the speech log while a server speaks.
class EspeakServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setSpeechObserver([this](platform::SpeechEvent kind, const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (kind == platform::SpeechEvent::Text) texts_.push_back(text);
    });
    platform::setAudioObserver([this](const platform::AudioBlockReport& r) {
      if (r.firstAudible >= 0) {
        audibleBlocks_.fetch_add(1);
      }
    });
  }
  void TearDown() override {
    platform::setAudioObserver(nullptr);
    platform::setSpeechObserver(nullptr);
  }
  // Waits (up to `limit`) while the server is busy; returns whether it ended.
  static bool waitEnd(SpeechServer& s, std::chrono::seconds limit) {
    auto deadline = Clock::now() + limit;
    while (s.busy(false)) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

  std::mutex mutex_;
  std::vector<std::string> texts_;
  std::atomic<int> audibleBlocks_{0};
};

TEST_F(EspeakServerTest, SpeaksPortugueseIntoTheMixerUntilTheLastSample) {
  auto server = makeSpeechServer(5);
  ASSERT_TRUE(server->start(1, 10, 0));  // fastest rate keeps the test short
  const std::string text = "Ol\xE1, bom dia. Esta \xE9 a r\xE1" "dio.";
  server->speak(text);
  EXPECT_TRUE(server->busy(false));  // returns at once, speech goes on
  ASSERT_TRUE(waitEnd(*server, 20s));
  int blocks = audibleBlocks_.load();
  // Several hundred ms of sound at 5.3 ms per device buffer.
  EXPECT_GT(blocks, 40);
  // busy went false only after the last audible buffer was handed over.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(audibleBlocks_.load(), blocks);
  EXPECT_EQ(texts(), std::vector<std::string>{text});  // logged as cp1252
  server->stop();
}

TEST_F(EspeakServerTest, CutSilencesAtOnceAndNextTextStartsFresh) {
  auto server = makeSpeechServer(5);
  ASSERT_TRUE(server->start(1, 0, 0));
  std::string longText;
  for (int i = 0; i < 20; ++i) longText += "Esta frase comprida continua falando sem parar. ";
  server->speak(longText);
  auto deadline = Clock::now() + 10s;
  while (audibleBlocks_.load() < 5 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_GE(audibleBlocks_.load(), 5);
  server->cut();
  EXPECT_FALSE(server->busy(false));
  EXPECT_FALSE(server->busy(true));
  int afterCut = audibleBlocks_.load();
  std::this_thread::sleep_for(200ms);
  // At most the buffer being mixed while cut() ran may still carry sound.
  EXPECT_LE(audibleBlocks_.load() - afterCut, 1);

  // The server speaks again after a cut.
  server->speak("Sim.");
  ASSERT_TRUE(waitEnd(*server, 10s));
  EXPECT_GT(audibleBlocks_.load(), afterCut + 1);
  server->stop();
}

TEST_F(EspeakServerTest, EndOfSoundWakesTheWaitOnceAndBusyIsOverByThen) {
  std::mutex m;
  std::condition_variable woken;
  int wakes = 0;
  setSpeechServerWakeHook([&] {
    std::lock_guard<std::mutex> lock(m);
    ++wakes;
    woken.notify_all();
  });
  auto server = makeSpeechServer(5);
  ASSERT_TRUE(server->start(1, 10, 0));
  server->speak("Bom dia a todos.");
  // Nobody asks busy() while the sound plays: the driver itself must tell
  // the waiting loop that it is over.
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(woken.wait_for(lock, 20s, [&] { return wakes > 0; }));
  }
  EXPECT_FALSE(server->busy(false));
  int blocks = audibleBlocks_.load();
  EXPECT_GT(blocks, 10);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(audibleBlocks_.load(), blocks);  // no sound after the wake
  {
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(wakes, 1);  // one wake per end, not a stream of them
  }
  server->stop();
  setSpeechServerWakeHook(nullptr);
}

TEST_F(EspeakServerTest, VoiceOutOfRangeTakesFirstVoiceAtNormalRate) {
  // The same sentence at rate 10 is much shorter than at rate 0; an invalid
  // voice number brings the rate back to 0.
  auto measure = [&](int voice, int rate) {
    auto server = makeSpeechServer(5);
    EXPECT_TRUE(server->start(voice, rate, 0));
    int before = audibleBlocks_.load();
    server->speak("Um dois tr\xEAs quatro cinco.");
    EXPECT_TRUE(waitEnd(*server, 20s));
    server->stop();
    return audibleBlocks_.load() - before;
  };
  int fast = measure(1, 10);
  int normal = measure(1, 0);
  int invalid = measure(99, 10);
  int zero = measure(0, 10);
  EXPECT_LT(fast * 3, normal * 2);
  EXPECT_GT(invalid * 3, normal * 2);
  EXPECT_GT(zero * 3, normal * 2);
}

TEST_F(EspeakServerTest, ClassicDriverTrimsAndCompletesLoneDigits) {
  auto server = makeSpeechServer(kServerClassic);
  EXPECT_FALSE(server->start(static_cast<int>(espeakVoiceNames().size()) + 1, 0, 0));
  ASSERT_TRUE(server->start(0, 200, 0));  // voice 0 counts as 1
  server->speak("7");
  server->speak("   ");
  server->speak("  dez  ");
  server->speak("");
  ASSERT_TRUE(waitEnd(*server, 20s));
  EXPECT_EQ(texts(), (std::vector<std::string>{"7.", "dez"}));
  server->stop();
}

}  // namespace
}  // namespace ondaria
