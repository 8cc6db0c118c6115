// The grid: writing at the cursor, wrapping, scrolling, clearing, colours,
// settings of the console and the title.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/core/console.h"
#include "platform/speech_log.h"
#include "support/headless_console.h"

namespace ondaria {
namespace {

using platform::SpeechEvent;

std::string rowText(int row) {
  std::string s;
  for (int col = 1; col <= kConsoleColumns; ++col) s += static_cast<char>(charAt(col, row));
  return s;
}

std::string trimmedRow(int row) {
  std::string s = rowText(row);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

class ConsoleGrid : public ::testing::Test {
 protected:
  void SetUp() override { screen = &test::useHeadlessConsole(); }
  void TearDown() override {
    platform::setSpeechObserver(nullptr);
    resetConsole();
  }
  platform::HeadlessFrontend* screen = nullptr;
};

TEST_F(ConsoleGrid, EightiethCharacterLeavesCursorPastTheRowAndTheNextOneWraps) {
  writeText(std::string(80, 'a'));
  EXPECT_EQ(whereX(), 81);
  EXPECT_EQ(whereY(), 1);
  EXPECT_EQ(charAt(80, 1), 'a');
  EXPECT_EQ(trimmedRow(2), "");
  writeText("b");
  EXPECT_EQ(charAt(1, 2), 'b');
  EXPECT_EQ(whereX(), 2);
  EXPECT_EQ(whereY(), 2);
  // A line end right after the 80th character moves only one row down.
  clearScreen();
  writeText(std::string(80, 'c'));
  writeLine();
  EXPECT_EQ(whereY(), 2);
  EXPECT_EQ(whereX(), 1);
}

TEST_F(ConsoleGrid, WrapOnTheLastRowScrollsFirst) {
  gotoXY(1, 1);
  writeText("top");
  gotoXY(1, 25);
  writeText(std::string(80, 'z'));
  EXPECT_EQ(screen->scrolls(), 0);
  writeText("!");
  EXPECT_EQ(screen->scrolls(), 1);
  EXPECT_EQ(rowText(24), std::string(80, 'z'));
  EXPECT_EQ(trimmedRow(25), "!");
  EXPECT_EQ(whereX(), 2);
  EXPECT_EQ(whereY(), 25);
  EXPECT_NE(trimmedRow(1), "top");  // row 1 moved out
}

TEST_F(ConsoleGrid, LineFeedOnRow25ScrollsRowsWithTheirAttributes) {
  setTextColor(14);
  setTextBackground(1);
  gotoXY(1, 2);
  writeText("second");
  setTextColor(15);
  setTextBackground(0);
  gotoXY(5, 25);
  writeText("last");
  setTextBackground(4);
  writeText("\n");
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 25);
  EXPECT_EQ(trimmedRow(1), "second");
  EXPECT_EQ(attrAt(1, 1), 0x1E);
  EXPECT_EQ(trimmedRow(24), "    last");
  // The new last row is blank in the attribute in use when it appeared.
  EXPECT_EQ(trimmedRow(25), "");
  EXPECT_EQ(attrAt(1, 25), 0x4F);
  EXPECT_EQ(attrAt(80, 25), 0x4F);
}

TEST_F(ConsoleGrid, ControlBytes) {
  writeText("ab\b");
  EXPECT_EQ(trimmedRow(1), "a");
  EXPECT_EQ(whereX(), 2);
  // Backspace never crosses into the previous row.
  gotoXY(1, 3);
  writeText("\b\b");
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 3);
  // Tab and other control bytes write nothing; carriage return goes back.
  gotoXY(1, 4);
  writeText("x\ty\x01\x1Bz");
  EXPECT_EQ(trimmedRow(4), "xyz");
  writeText("\rQ");
  EXPECT_EQ(trimmedRow(4), "Qyz");
  // Backspace from just past the last column blanks column 80.
  gotoXY(1, 5);
  writeText(std::string(80, 'w') + "\b");
  EXPECT_EQ(charAt(80, 5), ' ');
  EXPECT_EQ(whereX(), 80);
  EXPECT_EQ(whereY(), 5);
}

TEST_F(ConsoleGrid, BellIsHeardButNotWritten) {
  std::vector<SpeechEvent> heard;
  platform::setSpeechObserver([&](SpeechEvent e, const std::string&) { heard.push_back(e); });
  writeText("a\x07" "b");
  EXPECT_EQ(trimmedRow(1), "ab");
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], SpeechEvent::Beep);
  EXPECT_EQ(screen->bells(), 1);
}

TEST_F(ConsoleGrid, GotoIsClampedAndCellsOutsideReadBlank) {
  gotoXY(0, 0);
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 1);
  gotoXY(200, 200);
  EXPECT_EQ(whereX(), 80);
  EXPECT_EQ(whereY(), 25);
  gotoXY(-7, 12);
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 12);
  EXPECT_EQ(charAt(0, 1), ' ');
  EXPECT_EQ(charAt(81, 1), ' ');
  EXPECT_EQ(charAt(1, 26), ' ');
  EXPECT_EQ(attrAt(1, 0), 0);
}

TEST_F(ConsoleGrid, ClearingUsesTheCurrentAttribute) {
  writeText("hello world");
  gotoXY(6, 1);
  setTextBackground(2);
  clearToEndOfLine();
  EXPECT_EQ(trimmedRow(1), "hello");
  EXPECT_EQ(attrAt(5, 1), 0x0F);
  EXPECT_EQ(attrAt(6, 1), 0x2F);
  EXPECT_EQ(attrAt(80, 1), 0x2F);
  EXPECT_EQ(whereX(), 6);  // the cursor stays
  // From just past the last column there is nothing to clear.
  gotoXY(1, 2);
  writeText(std::string(80, 'k'));
  clearToEndOfLine();
  EXPECT_EQ(rowText(2), std::string(80, 'k'));

  setTextBackground(5);
  clearScreen();
  EXPECT_EQ(whereX(), 1);
  EXPECT_EQ(whereY(), 1);
  for (int row = 1; row <= 25; ++row) {
    EXPECT_EQ(trimmedRow(row), "");
    EXPECT_EQ(attrAt(1, row), 0x5F);
    EXPECT_EQ(attrAt(80, row), 0x5F);
  }
}

TEST_F(ConsoleGrid, ColourChangesKeepTheOtherNibble) {
  EXPECT_EQ(textAttr(), 0x0F);  // default settings: white on black
  setTextColor(14);
  setTextBackground(1);
  EXPECT_EQ(textAttr(), 0x1E);
  // Values above 15 do not leak into the other half of the attribute.
  setTextColor(16 + 2);
  EXPECT_EQ(textAttr(), 0x12);
  setTextBackground(0xF4);
  EXPECT_EQ(textAttr(), 0x42);
  writeText("x");
  EXPECT_EQ(attrAt(1, 1), 0x42);
}

TEST_F(ConsoleGrid, TitleIsTrimmedAndCutAt140) {
  setWindowTitle("   Ondaria  ");
  EXPECT_EQ(windowTitle(), "Ondaria");
  EXPECT_EQ(screen->title(), "Ondaria");
  std::string longTitle;
  for (int i = 0; i < 150; ++i) longTitle += static_cast<char>('a' + i % 26);
  setWindowTitle(longTitle);
  EXPECT_EQ(windowTitle(), longTitle.substr(0, 140) + "...");
  setWindowTitle(std::string(140, 'x'));
  EXPECT_EQ(windowTitle(), std::string(140, 'x'));
}

TEST_F(ConsoleGrid, RowsGoToTheBrailleDisplayOnlyWhileItIsOn) {
  std::vector<std::pair<int, std::string>> rows;
  setRowShownHook([&](int row, std::string_view chars) { rows.emplace_back(row, std::string(chars)); });
  writeText("silent");
  EXPECT_TRUE(rows.empty());
  setBrailleOutput(true);
  gotoXY(1, 3);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].first, 3);
  EXPECT_EQ(rows[0].second.size(), 80u);
  writeText("abc\r\nd");
  // Row 3 after "abc" (at the line feed), then row 4 after "d".
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].first, 3);
  EXPECT_EQ(rows[1].second.substr(0, 4), "abc ");
  EXPECT_EQ(rows[2].first, 4);
  EXPECT_EQ(rows[2].second[0], 'd');
  setBrailleOutput(false);
}

TEST_F(ConsoleGrid, OutputChangedHookFollowsWritesAndMoves) {
  int calls = 0;
  setOutputChangedHook([&] { ++calls; });
  writeText("x");
  gotoXY(3, 3);
  clearToEndOfLine();
  clearScreen();
  EXPECT_EQ(calls, 4);
}

TEST_F(ConsoleGrid, ScreenTextIsUtf8AndHidesControlCharacters) {
  writeText("S\xE3o Jo\xE3o \x80 \x7F\x81!");
  const std::string text = screen->screenText();
  EXPECT_EQ(text.substr(0, 18), "São João €   !");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 25);
}

// Console settings from "Lumare.ini" in a settings folder of the test's own.
class ConsoleSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    savedHome = old ? old : "";
    dir = std::filesystem::temp_directory_path() /
          ("ondaria-console-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir / "lumare");
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  }
  void TearDown() override {
    resetConsole();
    setenv("XDG_CONFIG_HOME", savedHome.c_str(), 1);
    std::filesystem::remove_all(dir);
  }
  void writeSettings(const std::string& text) {
    std::ofstream(dir / "lumare" / "Lumare.ini", std::ios::binary) << text;
  }
  std::filesystem::path dir;
  std::string savedHome;
};

TEST_F(ConsoleSettings, FixedColoursKeepTheConfiguredAttribute) {
  writeSettings("[VIDEO]\r\nCORESFIXAS=sim\r\nCORLETRA=14\r\nCORFUNDO=1\r\n");
  test::useHeadlessConsole();
  EXPECT_EQ(textAttr(), 0x1E);
  EXPECT_EQ(attrAt(40, 12), 0x1E);  // the grid starts in it
  setTextColor(4);
  setTextBackground(7);
  setTextAttr(0x70);
  EXPECT_EQ(textAttr(), 0x1E);
  writeText("x");
  EXPECT_EQ(attrAt(1, 1), 0x1E);
}

TEST_F(ConsoleSettings, ColoursChangeWhenNotFixed) {
  writeSettings("[VIDEO]\r\nCORESFIXAS=N\r\n");
  test::useHeadlessConsole();
  setTextColor(4);
  EXPECT_EQ(textAttr(), 0x04);
}

TEST_F(ConsoleSettings, ColourMapRemapsOnlyTheGivenIndexes) {
  writeSettings("[VIDEO]\r\nTABCORES=15,14\r\n");
  test::useHeadlessConsole();
  const platform::CellGrid& grid = consoleGrid();
  EXPECT_EQ(platform::mappedColour(grid, 0), (platform::Rgb{255, 255, 255}));
  EXPECT_EQ(platform::mappedColour(grid, 1), (platform::Rgb{255, 255, 0}));
  for (int i = 2; i < 16; ++i) EXPECT_EQ(grid.colourMap[i], i);
}

TEST_F(ConsoleSettings, ColourMapStopsAtABadEntryAndDrawsBlackOutOfRange) {
  writeSettings("[VIDEO]\r\nTABCORES=3,99,x,7,7\r\n");
  test::useHeadlessConsole();
  const platform::CellGrid& grid = consoleGrid();
  EXPECT_EQ(grid.colourMap[0], 3);
  EXPECT_EQ(platform::mappedColour(grid, 1), (platform::Rgb{0, 0, 0}));
  EXPECT_EQ(grid.colourMap[2], 2);  // "x" ends the list
  EXPECT_EQ(grid.colourMap[3], 3);
  // A value of 256 or more must not wrap round to a real colour.
  resetConsole();
  writeSettings("[VIDEO]\r\nTABCORES=271\r\n");
  test::useHeadlessConsole();
  EXPECT_EQ(platform::mappedColour(consoleGrid(), 0), (platform::Rgb{0, 0, 0}));
}

TEST_F(ConsoleSettings, KeyboardModeFromTheBrailleSection) {
  std::vector<std::pair<int, int>> changes;
  writeSettings("[BRAILLE]\r\nMODO=3\r\n");
  resetConsole();
  setBrailleModeHook([&](int from, int to) { changes.emplace_back(from, to); });
  auto frontend = std::make_unique<platform::HeadlessFrontend>(-1);
  setConsoleFrontend(std::move(frontend));
  ensureConsole();
  // "3" acts as mode 1, applied once at creation.
  EXPECT_EQ(brailleKeyboardMode(), 1);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], std::make_pair(0, 1));
}

}  // namespace
}  // namespace ondaria
