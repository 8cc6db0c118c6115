// Server type 3, the built-in Koral engine: speaking into the mixer, cutting,
// waking the waiting loop, and what the front-end does when it cannot start.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "speech/speech_fixture.h"
#include "speech/speech_servers.h"

namespace ondaria::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool voiceInstalled() {
  koral::KoralFiles f = koral::koralFiles({}, programDirectory());
  return !f.database.empty() && std::filesystem::exists(f.diphones) &&
         std::system("command -v mbrola >/dev/null 2>&1") == 0;
}

#define SKIP_WITHOUT_VOICE()                                                          \
  if (!voiceInstalled())                                                              \
  GTEST_SKIP() << "mbrola and its voice br4 are not installed "                       \
                  "(scripts/setup-debian.sh installs them); type 3 cannot start here"

class KoralServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_VOICE();
    platform::setAudioObserver([this](const platform::AudioBlockReport& r) {
      if (r.firstAudible >= 0) audible_.fetch_add(1);
    });
    server_ = makeSpeechServer(kServerBuiltIn);
    ASSERT_NE(server_, nullptr);
    ASSERT_TRUE(server_->start(1, 10, 0)) << server_->startError();
  }
  void TearDown() override {
    if (server_) server_->stop();
    platform::setAudioObserver(nullptr);
    setSpeechServerWakeHook(nullptr);
    platform::audioClose();
  }
  bool waitEnd(std::chrono::seconds limit) {
    auto deadline = Clock::now() + limit;
    while (server_->busy(false)) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }
  std::unique_ptr<SpeechServer> server_;
  std::atomic<int> audible_{0};
};

TEST_F(KoralServerTest, SpeaksIntoTheMixerUntilTheLastSample) {
  EXPECT_STREQ(server_->engineName(), "koral");
  server_->speak("Bom dia. A r\xE1" "dio est\xE1 no ar.");
  EXPECT_TRUE(server_->busy(false));  // returns at once, speech goes on
  ASSERT_TRUE(waitEnd(20s));
  int blocks = audible_.load();
  EXPECT_GT(blocks, 40);  // several hundred ms at 5.3 ms per device buffer
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(audible_.load(), blocks);  // nothing after busy turned false
}

TEST_F(KoralServerTest, CutSilencesAtOnceAndTheNextTextStartsFresh) {
  std::string longText;
  for (int i = 0; i < 30; ++i) longText += "Esta frase comprida continua falando sem parar. ";
  server_->speak(longText);
  auto deadline = Clock::now() + 10s;
  while (audible_.load() < 5 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_GE(audible_.load(), 5);
  server_->cut();
  EXPECT_FALSE(server_->busy(false));
  int afterCut = audible_.load();
  std::this_thread::sleep_for(300ms);
  EXPECT_LE(audible_.load() - afterCut, 1);  // at most the buffer being mixed

  server_->speak("Sim.");
  ASSERT_TRUE(waitEnd(10s));
  EXPECT_GT(audible_.load(), afterCut + 5);
}

TEST_F(KoralServerTest, TheEndOfSoundWakesTheWaitOnce) {
  std::mutex m;
  std::condition_variable woken;
  int wakes = 0;
  setSpeechServerWakeHook([&] {
    std::lock_guard<std::mutex> lock(m);
    ++wakes;
    woken.notify_all();
  });
  server_->speak("Boa noite a todos.");
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(woken.wait_for(lock, 20s, [&] { return wakes > 0; }));
  }
  EXPECT_FALSE(server_->busy(false));
  std::this_thread::sleep_for(50ms);
  std::lock_guard<std::mutex> lock(m);
  EXPECT_EQ(wakes, 1);
}

// The front-end with type 3 chosen in the settings.
class KoralFrontend : public SpeechTest {
 protected:
  std::string serverSettings(const std::string& koral) {
    return "[TRADUTOR]\r\nSAPI=S\r\nDIRLETRAS=" + letters.string() + "\r\nDIRDIFONES=" +
           difones.string() + "\r\n[SERVFALA]\r\nTIPOSAPI=3\r\nVELOCIDADE=10\r\n" + koral;
  }
};

TEST_F(KoralFrontend, TheBuiltInVoiceSpeaksTheTexts) {
  SKIP_WITHOUT_VOICE();
  settings = serverSettings("");
  start();
  ASSERT_TRUE(speechServerActive());
  EXPECT_EQ(takeEvents(), (Heard{"engine:koral"}));
  speakText("Bom dia");
  EXPECT_TRUE(isSpeaking());
  waitWhileSpeaking();
  EXPECT_EQ(takeEvents(), (Heard{"text:Bom dia"}));
  endSpeech();
}

TEST_F(KoralFrontend, AMissingVoiceFallsBackSilently) {
  settings = serverSettings("[KORALTTS]\r\nMBROLA_DB=/nonexistent/voz\r\n");
  start();
  EXPECT_FALSE(speechServerActive());
  EXPECT_EQ(speechServerType(), 3);
  EXPECT_EQ(takeEvents(), Heard{});
}

TEST_F(KoralFrontend, ADamagedLanguageFileIsToldInTheFallbackVoice) {
  SKIP_WITHOUT_VOICE();
  // The shipped files, the prosody file without its durations.
  std::filesystem::path dir = root / "koral";
  std::filesystem::create_directories(dir);
  koral::KoralFiles shipped = koral::koralFiles({}, programDirectory());
  for (const std::string& f : {shipped.rules, shipped.exceptions, shipped.abbreviations, shipped.diphones})
    std::filesystem::copy_file(f, dir / std::filesystem::path(f).filename());
  writeFileBytes(dir / "portug.pro", "[CHAVES]\r\n[PROS\xD3" "DIA]\r\n");
  settings = serverSettings("[KORALTTS]\r\nDIR=" + dir.string() + "\r\n");
  start();
  EXPECT_FALSE(speechServerActive());
  Heard heard = takeEvents();
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0], "text:Dura\xE7\xE3o dos difones errada ou ausente");
  EXPECT_EQ(heard[1], "text:Erro no arquivo de pros\xF3" "dia");
  EXPECT_NE(screen->screenText().find("Erro no arquivo de pros"), std::string::npos);
}

}  // namespace
}  // namespace ondaria::test
