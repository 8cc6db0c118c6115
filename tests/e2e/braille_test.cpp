// Whole-program runs of chord typing (keys pressed together and released)
// and of a braille display: brltty headless with its virtual driver and a
// fake display of 40 cells, on which the test sees the cursor's row arrive and
// types keys into the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <string>

#include "support/braille_peer.h"
#include "support/program_run.h"

namespace ondaria::test {
namespace {

std::vector<std::string> tones(const ProgramResult& r) {
  std::vector<std::string> out;
  for (const SpeechLine& line : r.speech)
    if (line.kind == "tone" && line.text != "off") out.push_back(line.text);
  return out;
}

// The script lines of one chord: keys pressed together, then released.
std::string chord(const std::string& keys) {
  std::string out;
  for (char k : keys) out += std::string("down ") + (k == ' ' ? "Space" : std::string(1, k)) + "\n";
  for (char k : keys) out += std::string("up ") + (k == ' ' ? "Space" : std::string(1, k)) + "\n";
  return out;
}

// Chord typing turned on by MODO of the settings (its tones sound at
// start-up; "N", não, leaves it off) or by Ctrl+Alt+F11, and off again by
// Ctrl+Alt+F12. "b" is typed into the address field of the option t (dots
// 2-3-4-5) by the chord f d. A switch types no key, so the line after it is
// let through at once ("now").
TEST(ChordTypingRun, ModesOfTheSettingsAndTheSwitches) {
  struct Case {
    const char* modo;
    std::vector<std::string> tones;
    std::string script;  // "b" typed into the address field, or not
    int bHeard;
  };
  const Case cases[] = {
      {"2", {"800", "400"}, "key Esc\n", 0},
      {"S", {"800", "1600"}, chord("dsjk") + chord("fd") + "key Esc\nkey Esc\n", 1},
      {"N", {}, "key t\ntext b\nkey Esc\nkey Esc\n", 1},
      {"0", {"800", "1600", "100"},
       "key ctrl+alt+F11\nnow\n" + chord("dsjk") + chord("fd") + "key Esc\nkey ctrl+alt+F12\nnow\nkey Esc\n", 1},
  };
  for (const Case& c : cases) {
    ProgramRun program;
    program.writeSettings(std::string("[BRAILLE]\nMODO=") + c.modo + "\n");
    const ProgramResult r = program.run(c.script);
    ASSERT_FALSE(r.timedOut) << r.stderrText;
    EXPECT_EQ(tones(r), c.tones) << c.modo;
    EXPECT_EQ(r.countHeard("char", "b"), c.bHeard) << c.modo;
    EXPECT_EQ(r.exitStatus, 0) << c.modo << r.stderrText;
  }
}

// Cells of a braille text of a few letters and signs, as our cell table has
// them; enough to recognise a row.
std::vector<uint8_t> cellsOf(const std::string& braille) {
  std::vector<uint8_t> out;
  for (char c : braille) {
    switch (c) {
      case ' ': out.push_back(0); break;
      case '{': out.push_back(8 | 32); break;
      case 'a': out.push_back(1); break;
      case 'b': out.push_back(1 | 2); break;
      case 'c': out.push_back(1 | 8); break;
      case 'd': out.push_back(1 | 8 | 16); break;
      case 'i': out.push_back(2 | 8); break;
      case 'n': out.push_back(1 | 4 | 8 | 16); break;
      case 'o': out.push_back(1 | 4 | 16); break;
      case 'r': out.push_back(1 | 2 | 4 | 16); break;
      case '-': out.push_back(4 | 32); break;
      default: ADD_FAILURE() << "no cells for " << c;
    }
  }
  return out;
}

// The rows shown, as dot numbers, for failure messages.
std::string describe(const std::vector<FakeBrailleDisplay::Cells>& rows) {
  std::string out;
  for (const auto& row : rows) {
    for (uint8_t cell : row) {
      for (int dot = 1; dot <= 8; ++dot)
        if (cell & (1 << (dot - 1))) out += static_cast<char>('0' + dot);
      out += '|';
    }
    out += '\n';
  }
  return out;
}

auto startsWith(const std::string& braille) {
  return [cells = cellsOf(braille)](const FakeBrailleDisplay::Cells& row) {
    return row.size() >= cells.size() && std::equal(cells.begin(), cells.end(), row.begin());
  };
}

TEST(BrailleDisplayRun, TheCursorRowIsShownTheDisplayTypesAndBrlttyMayRestart) {
  if (!brlttyAvailable()) GTEST_SKIP() << "brltty is not installed";
  FakeBrailleDisplay display(40);
  BrlttyPeer brltty;
  ASSERT_TRUE(brltty.start(display.port())) << readWholeFile(brltty.logFile());
  ASSERT_TRUE(display.waitConnected(15000));

  ProgramRun program;
  program.setEnv("BRLAPI_HOST", brltty.apiHost());
  program.setEnv("BRLAPI_AUTH", "none");
  // The script only ends the run; everything before comes from the display.
  std::future<ProgramResult> run = std::async(std::launch::async, [&] {
    return program.run("wait Digite a URL\nwait abc\nkey Esc\nsleep 300\nkey Esc\n", {}, 120);
  });

  // The question of the main menu on the display, cut to its 40 cells:
  // "{ondaria - {que deseja? ".
  FakeBrailleDisplay::Cells shown;
  ASSERT_TRUE(display.waitForCells(startsWith("{ondaria -"), 30000, &shown))
      << display.rows().size() << " rows shown; brltty: " << readWholeFile(brltty.logFile());
  EXPECT_EQ(shown.size(), 40u);
  // Dots 2-3-4-5 on the display's keyboard: the option t, whose question
  // leaves the cursor on the empty row of its field.
  size_t before = display.rows().size();
  ASSERT_TRUE(display.send("PassDots 30"));
  const auto blank = [](const auto& cells) {
    return !cells.empty() && std::all_of(cells.begin(), cells.end(), [](uint8_t c) { return c == 0; });
  };
  ASSERT_TRUE(display.waitForCells(blank, 15000, nullptr, before)) << describe(display.rows());
  // "ab" typed into the field, and shown on the display as it is typed.
  before = display.rows().size();
  ASSERT_TRUE(display.send("PassDots 1"));
  ASSERT_TRUE(display.send("PassDots 3"));
  ASSERT_TRUE(display.waitForCells(startsWith("ab "), 15000, nullptr, before)) << describe(display.rows());

  // brltty stops and comes back: the program goes on, shows its row on the
  // new connection, and takes the display's keys again ("c", dots 1-4).
  brltty.stop();
  ASSERT_TRUE(brltty.start(display.port())) << readWholeFile(brltty.logFile());
  ASSERT_TRUE(display.waitConnected(15000));
  before = display.rows().size();
  ASSERT_TRUE(display.waitForCells(startsWith("ab "), 30000, nullptr, before)) << describe(display.rows());
  ASSERT_TRUE(display.send("PassDots 9"));

  const ProgramResult r = run.get();
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  for (const char* letter : {"a", "b", "c"}) EXPECT_EQ(r.countHeard("char", letter), 1) << letter;
  EXPECT_EQ(display.connections(), 2);
}

}  // namespace
}  // namespace ondaria::test
