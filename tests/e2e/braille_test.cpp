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

int countKind(const ProgramResult& r, const std::string& kind, const std::string& text) {
  int n = 0;
  for (const SpeechLine& line : r.speech)
    if (line.kind == kind && line.text == text) ++n;
  return n;
}

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

TEST(ChordTypingRun, ChordsTypeIntoTheProgramAfterCtrlAltF11) {
  ProgramRun program;
  // t (dots 2-3-4-5) is the option "testar", then "ab" in its field.
  // The switch types no key, so the chord after it is let through at once.
  const std::string script = "key ctrl+alt+F11\nnow\n" + chord("dsjk") + "wait Digite a URL\n" + chord("f") +
                             chord("fd") + "wait ab\nkey Esc\nkey ctrl+alt+F12\nnow\nkey Esc\n";
  const ProgramResult r = program.run(script);
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  EXPECT_EQ(tones(r), (std::vector<std::string>{"800", "1600", "100"}));
  EXPECT_EQ(countKind(r, "char", "a"), 1);
  EXPECT_EQ(countKind(r, "char", "b"), 1);
  EXPECT_TRUE(r.heard("text", "Desistiu")) << r.screen;
}

TEST(ChordTypingRun, ModeTwoFromTheSettingsSoundsAtStartUp) {
  ProgramRun program;
  program.writeSettings("[BRAILLE]\nMODO=2\n");
  const ProgramResult r = program.run("key Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(tones(r), (std::vector<std::string>{"800", "400"}));
}

TEST(ChordTypingRun, ModoNMeansNo) {
  ProgramRun program;
  program.writeSettings("[BRAILLE]\nMODO=N\n");
  const ProgramResult r = program.run("key t\nwait Digite a URL\ntext x\nkey Esc\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_TRUE(tones(r).empty());
  EXPECT_EQ(countKind(r, "char", "x"), 1);
}

// Cells of a braille text of a to z, blank and a few signs, as our cell table
// has them; enough to recognise a row.
std::vector<uint8_t> cellsOf(const std::string& braille) {
  std::vector<uint8_t> out;
  for (char c : braille) {
    switch (c) {
      case ' ': out.push_back(0); break;
      case '{': out.push_back(8 | 32); break;
      case 'a': out.push_back(1); break;
      case 'b': out.push_back(3); break;
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

bool startsWith(const FakeBrailleDisplay::Cells& cells, const std::vector<uint8_t>& prefix) {
  return cells.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), cells.begin());
}

TEST(BrailleDisplayRun, TheCursorRowIsShownAndTheDisplayTypes) {
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
    return program.run("wait Digite a URL\nwait ab\nkey Esc\nsleep 300\nkey Esc\n", {}, 90);
  });

  // The question of the main menu on the display, cut to its 40 cells:
  // "{ondaria - {que deseja? ".
  FakeBrailleDisplay::Cells shown;
  ASSERT_TRUE(display.waitForCells([](const auto& cells) { return startsWith(cells, cellsOf("{ondaria -")); },
                                   30000, &shown))
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
  EXPECT_TRUE(display.waitForCells([](const auto& cells) { return startsWith(cells, cellsOf("ab ")); }, 15000,
                                   nullptr, before))
      << describe(display.rows());

  const ProgramResult r = run.get();
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  EXPECT_EQ(countKind(r, "char", "a"), 1);
  EXPECT_EQ(countKind(r, "char", "b"), 1);
}

}  // namespace
}  // namespace ondaria::test
