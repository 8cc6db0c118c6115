// A speech front-end for tests: a headless console, a settings folder of the
// test's own, a letters directory of short recordings made by the test, a tiny
// diphone database, and a record of everything heard (the speech log) and of
// every buffer handed to the sound device.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "console/core/console.h"
#include "console/core/settings.h"
#include "platform/audio_device.h"
#include "platform/speech_log.h"
#include "speech/speech.h"
#include "speech/wave_output.h"
#include "support/headless_console.h"
#include "support/temp_files.h"

namespace ondaria::test {

// An 8-bit mono 11025 Hz WAV file of `count` samples of `value`.
inline std::string waveFile(size_t count, uint8_t value = 200) {
  std::string bytes(kWaveHeaderSize + count, static_cast<char>(value));
  makeWaveHeader(reinterpret_cast<uint8_t*>(bytes.data()), static_cast<uint32_t>(count), 11025, 8, 1);
  return bytes;
}

// One heard event as "kind:text" ("char:=", "recording:_zero", "text:site").
inline std::string heard(platform::SpeechEvent kind, const std::string& text) {
  std::string s = platform::speechEventName(kind);
  if (!text.empty()) s += ":" + text;
  return s;
}

class SpeechTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    root = folder_.path();
    letters = root / "letras";
    difones = root / "difones";
    std::filesystem::create_directories(root / "config" / "lumare");
    std::filesystem::create_directories(letters);
    std::filesystem::create_directories(difones);
    std::filesystem::create_directories(root / "som");
    env_.set("XDG_CONFIG_HOME", (root / "config").string());
    env_.set("LUMARE_SYSTEM_DIR", (root / "system").string());
    // The diphone database: one unit, and empty rules (every letter then
    // goes to its default, the recorded letter).
    std::vector<uint8_t> index(15, 0);
    index[0] = 2;
    index[1] = '$';
    index[2] = 'A';
    index[9] = 100;  // 100 samples at offset 0
    writeFileBytes(difones / "DIFONES2.IND", std::string(index.begin(), index.end()));
    writeFileBytes(difones / "DIFONES2.DIF", std::string(100, static_cast<char>(180)));
    writeFileBytes(difones / "regras.rgr", "; no rules\r\n");
    writeFileBytes(difones / "portug.exc", "");
    settings = "[TRADUTOR]\r\nSAPI=N\r\nDIRLETRAS=" + letters.string() +
               "\r\nDIRDIFONES=" + difones.string() + "\r\n";
    screen = &useHeadlessConsole();
    resetSettingsState();
    resetWaveOutputForTests();
    resetSpeechForTests();
    platform::setSpeechObserver([this](platform::SpeechEvent kind, const std::string& text) {
      events.push_back(heard(kind, text));
      if (onEvent) onEvent(kind, text);
    });
    setWaveQueueObserver([this](const WaveQueuedBuffer& b) { buffers.push_back(b); });
  }

  void TearDown() override {
    platform::setSpeechObserver(nullptr);
    setWaveQueueObserver(nullptr);
    resetSpeechForTests();
    resetWaveOutputForTests();
    resetSettingsState();
    resetConsole();
    // No audio thread may outlive the test's objects (the process may end next).
    platform::audioClose();
  }

  // Writes Lumare.ini (settings + extra lines) and starts speech.
  void start(const std::string& extra = {}, int level = 3) {
    writeFileBytes(root / "config" / "lumare" / "Lumare.ini", settings + extra);
    resetSettingsState();
    startSpeech(level, (root / "som").string());
  }

  // A recording of the letters directory ("_61" for "=").
  void item(const std::string& name, size_t count = 40, uint8_t value = 200) {
    writeFileBytes(letters / (name + ".wav"), waveFile(count, value));
  }
  // The letter file of each character of `chars`.
  void letterFiles(std::string_view chars) {
    for (char c : chars) item("_" + std::to_string(static_cast<uint8_t>(c)));
  }

  std::vector<std::string> takeEvents() {
    std::vector<std::string> e;
    e.swap(events);
    return e;
  }

  std::filesystem::path root, letters, difones;
  std::string settings;
  platform::HeadlessFrontend* screen = nullptr;
  std::vector<std::string> events;
  std::vector<WaveQueuedBuffer> buffers;
  std::function<void(platform::SpeechEvent, const std::string&)> onEvent;

 private:
  TempFolder folder_{"ondaria-speech"};
  ScopedEnv env_;
};

using Heard = std::vector<std::string>;

}  // namespace ondaria::test
