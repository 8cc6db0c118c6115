// Common set-up of the playback tests: a private settings folder, a headless
// console fed by a key script (with "wait TEXT" lines, so a test can hold a
// key back until something is on the screen), the stream player and the
// sockets layer started, and a record of everything heard.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "console/core/console.h"
#include "console/core/settings.h"
#include "net/sockets.h"
#include "platform/audio_device.h"
#include "platform/codepage.h"
#include "platform/speech_log.h"
#include "platform/stream_engine.h"
#include "playback/stream_player.h"
#include "speech/speech.h"
#include "speech/wave_output.h"
#include "support/headless_console.h"
#include "support/stream_peers.h"
#include "support/temp_files.h"

namespace ondaria::playtest {

// The audio device mixes on SDL's own thread; it is closed before the test
// program exits so that thread never runs while static objects are destroyed.
class CloseAudioAtExit : public ::testing::Environment {
 public:
  void TearDown() override { platform::audioClose(); }
};
inline ::testing::Environment* const kCloseAudioAtExit =
    ::testing::AddGlobalTestEnvironment(new CloseAudioAtExit);

// The tone files of the playback tests (1.5 s each), made once per test program.
inline test::ToneFiles& tones() {
  static test::ToneFiles files(1.5);
  return files;
}

class PlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    root = folder_.path();
    std::filesystem::create_directories(root / "config" / "lumare");
    std::filesystem::create_directories(root / "system");
    env_.set("XDG_CONFIG_HOME", (root / "config").string());
    env_.set("LUMARE_SYSTEM_DIR", (root / "system").string());
    writeSettings("");
    screen = &test::useHeadlessConsole();
    setOutputChangedHook([this] { outputChanged(); });
    resetSpeechForTests();
    resetWaveOutputForTests();
    platform::setSpeechObserver([this](platform::SpeechEvent kind, const std::string& text) {
      heard.push_back(std::string(platform::speechEventName(kind)) + ":" + text);
      if (onHeard) onHeard(kind, text);
    });
    ASSERT_TRUE(netStartup());
    ASSERT_TRUE(initStreamPlayer());
    // Short waits for servers that do not answer; the default would only
    // make the tests slower.
    platform::SetConfig(platform::CONFIG_NET_TIMEOUT, 2000);
    platform::SetConfig(platform::CONFIG_GVOL_STREAM, 10000);
  }

  void TearDown() override {
    freeStreamPlayer();
    platform::SetConfig(platform::CONFIG_NET_TIMEOUT, 5000);
    netCleanup();
    platform::setSpeechObserver(nullptr);
    resetSpeechForTests();
    resetConsole();
    resetSettingsState();
  }

  // Lumare.ini of this test (cp1252 text, CR LF line ends).
  void writeSettings(const std::string& text) {
    ++revision_;
    // A new size, so that the settings layer sees the change.
    test::writeFileBytes(root / "config" / "lumare" / "Lumare.ini",
                         text + "; " + std::string(revision_, '.') + "\r\n");
    resetSettingsState();
  }

  // Key script lines (see platform/frontend.h), given to the console as the
  // program asks for keys.
  void script(const std::string& lines) {
    std::string error;
    ASSERT_TRUE(screen->feedScript(lines, &error)) << error;
  }

  // One row (1-based) of the screen, cp1252, without trailing blanks.
  static std::string row(int r) {
    std::string out;
    for (int c = 1; c <= kConsoleColumns; ++c) out += static_cast<char>(charAt(c, r));
    return out.substr(0, out.find_last_not_of(' ') + 1);
  }
  // The whole screen, rows joined with "\n".
  static std::string screenText() {
    std::string all;
    for (int r = 1; r <= kConsoleRows; ++r) all += row(r) + "\n";
    return all;
  }

  // True when some text event heard contains `words` (cp1252).
  bool heardText(const std::string& words) const {
    for (const std::string& h : heard)
      if (h.rfind("text:", 0) == 0 && h.find(words) != std::string::npos) return true;
    return false;
  }
  int countHeard(const std::string& event) const {
    int n = 0;
    for (const std::string& h : heard) n += h == event;
    return n;
  }

  // The first screen that held `text` is remembered: what a key wrote is
  // cleared by the next key, so tests look at it here. Watch for the last
  // text written, so the screen holds everything before it.
  void watchFor(const std::string& text) { watched[text]; }
  const std::string& screenWith(const std::string& text) { return watched[text]; }

  // The states rows 3 (title) and 5 (programme) went through, without
  // repeats and without the blank states between.
  static std::vector<std::string> shown(const std::vector<std::string>& history) {
    std::vector<std::string> out;
    std::string last = "\x01";
    for (const std::string& h : history) {
      if (h != last && !h.empty()) out.push_back(h);
      last = h;
    }
    return out;
  }

  std::filesystem::path root;
  platform::HeadlessFrontend* screen = nullptr;
  std::vector<std::string> titleRows, programmeRows;
  std::map<std::string, std::string> watched;
  std::vector<std::string> heard;
  std::function<void(platform::SpeechEvent, const std::string&)> onHeard;

 private:
  void outputChanged() {
    const std::string title = row(3), programme = row(5);
    if (titleRows.empty() || titleRows.back() != title) titleRows.push_back(title);
    if (programmeRows.empty() || programmeRows.back() != programme) programmeRows.push_back(programme);
    if (watched.empty()) return;
    const std::string all = screenText();
    for (auto& [text, first] : watched)
      if (first.empty() && all.find(text) != std::string::npos) first = all;
  }

  test::TempFolder folder_{"ondaria-playback"};
  test::ScopedEnv env_;
  int revision_ = 0;
};

}  // namespace ondaria::playtest
