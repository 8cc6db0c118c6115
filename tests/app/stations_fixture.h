// Set-up shared by the station list, editing, favourites and search tests: the
// playback fixture (private settings, headless console fed by a key script,
// stream player started, everything heard recorded) plus a station list file
// of the test's own and a stand-in external player.
//
// The stand-in player prints "TOCOU:[" + its last argument + "]" and then
// waits, so a test sees on the screen exactly which address reached the
// external player. Stream-player addresses point at a port nothing listens on:
// the session fails at once with "Aperte enter...", where Ctrl+R asks for the
// station's removal as it would after any playback.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "console/core/console.h"
#include "console/core/settings.h"
#include "playback/external_player.h"
#include "playback/playback_fixture.h"
#include "support/stream_peers.h"
#include "support/temp_files.h"

namespace ondaria::stationtest {

inline constexpr const char* kStandInPlayer =
    "import sys, time\n"
    "print('TOCOU:[' + sys.argv[-1] + ']', flush=True)\n"
    "time.sleep(60)\n";

class StationsTest : public playtest::PlaybackTest {
 protected:
  void SetUp() override {
    PlaybackTest::SetUp();
    listPath = root / "ondaria.ini";
    appState().stationListPath = listPath.string();
    appState().lastAddress.clear();
    const std::filesystem::path player = root / "tocador.py";
    test::writeFileBytes(player, kStandInPlayer);
    writeSettings("[ONDARIA]\r\nTOCADOR=python3 \"" + player.string() + "\"\r\n");
    refused = "http://127.0.0.1:" + std::to_string(test::freePort()) + "/radio";
  }
  void TearDown() override {
    stopPiped();
    PlaybackTest::TearDown();
  }

  // The station list file's exact bytes (cp1252, CR LF).
  void writeList(const std::string& bytes) { test::writeFileBytes(listPath, bytes); }
  std::string listBytes() const { return test::readFileBytes(listPath); }

  int beeps() const { return countHeard("beep:"); }

  // Remembers the first and the last screen that showed each text (cp1252),
  // even when the next step cleared it before the test could look.
  void watch(std::initializer_list<std::string> texts) {
    if (watched_.empty()) setOutputChangedHook([this] { outputChangedForWatch(); });
    for (const std::string& t : texts) watched_[t];
  }
  bool shown(const std::string& text) { return !seen(text).first.empty(); }
  const std::string& firstScreenWith(const std::string& text) { return seen(text).first; }
  const std::string& lastScreenWith(const std::string& text) { return seen(text).second; }

  std::filesystem::path listPath;
  std::string refused;  // a stream address whose connection is refused

 private:
  const std::pair<std::string, std::string>& seen(const std::string& text) {
    static const std::pair<std::string, std::string> none;
    const auto it = watched_.find(text);
    if (it != watched_.end()) return it->second;
    ADD_FAILURE() << "not watched: " << text;
    return none;
  }

  void outputChangedForWatch() {
    if (watched_.empty()) return;
    const std::string all = screenText();
    for (auto& [text, seen] : watched_) {
      if (all.find(text) == std::string::npos) continue;
      if (seen.first.empty()) seen.first = all;
      seen.second = all;
    }
  }

  std::map<std::string, std::pair<std::string, std::string>> watched_;
};

}  // namespace ondaria::stationtest
