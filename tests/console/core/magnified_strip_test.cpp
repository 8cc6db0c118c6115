// The magnified strip: which characters are in view and which one is
// highlighted, how the view scrolls between calls, and the band the
// front-end is given (and loses on a repaint).
#include <gtest/gtest.h>

#include <string>

#include "console/core/console.h"
#include "console/core/magnified_strip.h"
#include "support/headless_console.h"

namespace ondaria {
namespace {

std::string letters(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('a' + i % 26);
  return s;
}

TEST(StripView, CharactersInViewAndTheHighlight) {
  const std::string forty = letters(40);
  struct Row {
    const char* what;
    std::string text;
    int cursor, factor, first;
    int wantFirst;
    std::string wantText;  // unpadded start of the view
    int wantMarked;
  };
  const Row table[] = {
      // Factor 4 shows 20 characters; the cursor at 30 scrolls the view to
      // characters 10…29 and highlights 29, the last in view.
      {"scrolls right", forty, 30, 4, 1, 10, forty.substr(9, 20), 19},
      {"cursor 1: no highlight", "Casa", 1, 3, 1, 1, "Casa", -1},
      {"cursor 0 is taken as 1", "Casa", 0, 3, 1, 1, "Casa", -1},
      {"highlight left of the cursor", "Casa", 3, 3, 1, 1, "Casa", 1},
      {"view kept while the cursor is in it", forty, 25, 4, 10, 10, forty.substr(9, 20), 14},
      {"scrolls back left", forty, 5, 4, 10, 4, forty.substr(3, 20), 0},
      {"cursor past the text: blanks", "abc", 6, 2, 1, 1, "abc", 4},
      {"factor 1 shows 80", letters(100), 81, 1, 1, 1, letters(80), 79},
      // Factor 10 on a field of 2048 characters: 8 in view at the end.
      {"factor 10, long field", letters(2048), 2049, 10, 1, 2041, letters(2048).substr(2040), 7},
  };
  for (const Row& r : table) {
    const StripView v = stripView(r.text, r.cursor, r.factor, r.first);
    EXPECT_EQ(v.first, r.wantFirst) << r.what;
    ASSERT_EQ(static_cast<int>(v.text.size()), 80 / r.factor) << r.what;
    EXPECT_EQ(v.text.substr(0, r.wantText.size()), r.wantText) << r.what;
    EXPECT_EQ(v.text.find_first_not_of(' ', r.wantText.size()), std::string::npos) << r.what;
    EXPECT_EQ(v.marked, r.wantMarked) << r.what;
  }
}

class Strip : public ::testing::Test {
 protected:
  void SetUp() override { screen = &test::useHeadlessConsole(); }
  void TearDown() override {
    closeStrip();
    resetConsole();
  }
  std::string shownRow(int row) {  // 1-based, UTF-8
    const std::string all = screen->screenText();
    return all.substr(static_cast<size_t>(row - 1) * 81, 80);
  }
  platform::HeadlessFrontend* screen = nullptr;
};

TEST_F(Strip, BandOverTheBottomRowsUntilARepaint) {
  gotoXY(1, 23);
  writeText("under the band");
  setStripColours(14, 6, 3);
  openStrip(23, 3);
  EXPECT_EQ(stripFactor(), 3);
  showInStrip("Rock Brasil", 4);
  ASSERT_TRUE(screen->strip().has_value());
  const platform::StripBand& band = *screen->strip();
  EXPECT_EQ(band.row, 22);
  EXPECT_EQ(band.factor, 3);
  EXPECT_EQ(band.marked, 2);  // the "c"
  EXPECT_EQ(band.textColour, 14);
  EXPECT_EQ(band.backColour, 6);
  EXPECT_EQ(band.cursorColour, 3);
  // The screen as shown: the band's characters on its first row, its other
  // rows blank; the grid itself is unchanged.
  EXPECT_EQ(shownRow(23), "Rock Brasil" + std::string(69, ' '));
  EXPECT_EQ(shownRow(24), std::string(80, ' '));
  EXPECT_EQ(charAt(1, 23), 'u');
  refreshStrip();
  EXPECT_FALSE(screen->strip().has_value());
  EXPECT_EQ(shownRow(23).substr(0, 14), "under the band");
  // A repaint of the whole window (clearing the screen) removes it as well.
  showInStrip("x", 1);
  EXPECT_TRUE(screen->strip().has_value());
  clearScreen();
  EXPECT_FALSE(screen->strip().has_value());
}

TEST_F(Strip, OffDoesNothingAndFactorsAreBounded) {
  openStrip(1, 0);
  EXPECT_EQ(stripFactor(), 0);
  showInStrip("nada", 2);
  EXPECT_FALSE(screen->strip().has_value());
  openStrip(1, 99);
  EXPECT_EQ(stripFactor(), kMaxStripFactor);
  openStrip(16, 4);
  showInStrip("abc", 1);
  ASSERT_TRUE(screen->strip().has_value());
  EXPECT_EQ(screen->strip()->factor, 4);
  closeStrip();
  EXPECT_EQ(stripFactor(), 0);
  EXPECT_FALSE(screen->strip().has_value());
}

}  // namespace
}  // namespace ondaria
