// Fixture for the editor and menu tests: a headless console whose keys are
// handed over one step at a time, only when the program waits for a key (as a
// person types: nothing is typed ahead, so a beep that discards pending keys
// loses nothing), with the cursor and the grid recorded at every wait, and a
// record of everything the speech layer made audible.
//
// Recordings ("_DEL", ...) are tiny WAV files in a temporary working
// directory: before speech is started its letters and sound directories are
// empty paths, which name the working directory.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "console/core/console.h"
#include "platform/audio_device.h"
#include "platform/frontend.h"
#include "platform/speech_log.h"
#include "speech/speech.h"
#include "speech/wave_output.h"
#include "support/headless_console.h"

namespace ondaria::uitest {

using platform::KeyId;
constexpr uint8_t kShift = platform::kModShift;
constexpr uint8_t kCtrl = platform::kModCtrl;
constexpr uint8_t kAlt = platform::kModAlt;

// What the screen looked like when the program waited for a key.
struct WaitSnapshot {
  int column = 0;  // 1-based cursor
  int row = 0;
  platform::CellGrid grid;
};

class PacedFrontend : public platform::HeadlessFrontend {
 public:
  using Step = std::function<void(PacedFrontend&)>;

  PacedFrontend() : HeadlessFrontend(-1) {}

  bool open(const platform::CellGrid& grid, const platform::FrontendOptions& options) override {
    grid_ = &grid;
    return HeadlessFrontend::open(grid, options);
  }

  void keyWait(bool waiting, int col, int row) override {
    HeadlessFrontend::keyWait(waiting, col, row);
    if (!waiting) return;
    WaitSnapshot snap;
    snap.column = col + 1;
    snap.row = row + 1;
    if (grid_) snap.grid = *grid_;
    waits.push_back(snap);
    if (steps.empty()) return;  // the program ends: input is used up
    Step step = std::move(steps.front());
    steps.pop_front();
    step(*this);
  }

  std::deque<Step> steps;
  std::vector<WaitSnapshot> waits;

 private:
  const platform::CellGrid* grid_ = nullptr;
};

// Steps.
inline PacedFrontend::Step key(KeyId id, uint8_t mods = 0) {
  return [id, mods](PacedFrontend& f) { f.pressKey(id, mods); };
}
inline PacedFrontend::Step typed(std::string utf8) {
  return [utf8](PacedFrontend& f) { f.typeText(utf8); };
}
// Raw key bytes, as the mouse or a braille display would queue them.
inline PacedFrontend::Step bytes(std::vector<uint8_t> values) {
  return [values](PacedFrontend&) {
    for (uint8_t b : values) pushKey(b);
  };
}

// The audio device mixes on SDL's own thread; it is closed before the program
// exits so that thread never runs while static objects are destroyed.
class CloseAudioAtExit : public ::testing::Environment {
 public:
  void TearDown() override { platform::audioClose(); }
};
inline ::testing::Environment* const kCloseAudioAtExit =
    ::testing::AddGlobalTestEnvironment(new CloseAudioAtExit);

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ondaria-ui-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    oldDir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    resetSpeechForTests();
    resetWaveOutputForTests();
    ASSERT_TRUE(lettersDirectory().empty() && soundDirectory().empty())
        << "the tests place their recordings in the working directory";

    resetConsole();
    auto frontend = std::make_unique<PacedFrontend>();
    screen = frontend.get();
    setConsoleFrontend(std::move(frontend));
    setConsoleExitHandler([] { throw test::ConsoleClosed{}; });
    ensureConsole();

    platform::setSpeechObserver([this](platform::SpeechEvent kind, const std::string& t) {
      std::string line = platform::speechEventName(kind);
      if (!t.empty()) line += ":" + t;
      // There are no letter files here: every spoken character is followed
      // by the stand-in item, which says nothing about the editor.
      if (line == "recording:_unknown") return;
      // Whether the next key arrived before a sound ended depends on timing.
      if (kind == platform::SpeechEvent::Cut) return;
      heard.push_back(line);
    });
    for (const char* name : {"_DEL", "_APFCPO", "_APICPO", "_CPOAPA", "_VELOC", "_FALACI",
                             "_FALDLG", "_FON97"})
      addRecording(name);
  }

  void TearDown() override {
    platform::setSpeechObserver(nullptr);
    resetConsole();
    resetSpeechForTests();
    std::filesystem::current_path(oldDir_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // A playable recording: 8-bit mono 11025 Hz, 256 samples of silence.
  void addRecording(const std::string& name) {
    std::vector<uint8_t> image(44 + 256, 128);
    makeWaveHeader(image.data(), 256, 11025, 8, 1);
    std::ofstream out(dir_ + "/" + name + ".wav", std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  }

  void script(std::initializer_list<PacedFrontend::Step> list) {
    for (const auto& s : list) screen->steps.push_back(s);
  }

  // Row (1-based) of the current grid as 80 cp1252 bytes.
  static std::string row(int r) {
    std::string out;
    for (int c = 1; c <= 80; ++c) out += static_cast<char>(charAt(c, r));
    return out;
  }
  static std::string rowOf(const platform::CellGrid& grid, int r) {
    std::string out;
    for (int c = 0; c < 80; ++c) out += static_cast<char>(grid.charAt(c, r - 1));
    return out;
  }
  static std::string padded(std::string s) {
    s.resize(80, ' ');
    return s;
  }

  // Events heard, filtered to one kind ("char", "beep", ...).
  std::vector<std::string> heardOnly(const std::string& kind) const {
    std::vector<std::string> out;
    for (const std::string& h : heard)
      if (h.rfind(kind, 0) == 0) out.push_back(h);
    return out;
  }
  int count(const std::string& event) const {
    int n = 0;
    for (const std::string& h : heard) n += h == event;
    return n;
  }

  PacedFrontend* screen = nullptr;
  std::vector<std::string> heard;

 private:
  std::string dir_;
  std::filesystem::path oldDir_;
};

}  // namespace ondaria::uitest
