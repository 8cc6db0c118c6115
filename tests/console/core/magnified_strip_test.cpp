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
    return screen->screenText().substr(static_cast<size_t>(row - 1) * 81, 80);
  }
  platform::HeadlessFrontend* screen = nullptr;
};

// The band lies over the grid's rows, which keep their own cells, until a
// refresh or any repaint of the window; off, the strip shows nothing.
TEST_F(Strip, BandOverTheBottomRowsUntilARepaint) {
  gotoXY(1, 23);
  writeText("under the band");
  openStrip(1, 0);
  showInStrip("nada", 2);
  EXPECT_FALSE(screen->strip().has_value());
  openStrip(1, 99);
  EXPECT_EQ(stripFactor(), kMaxStripFactor);
  setStripColours(14, 6, 3);
  openStrip(23, 3);
  showInStrip("Rock Brasil", 4);
  ASSERT_TRUE(screen->strip().has_value());
  EXPECT_EQ(*screen->strip(), (platform::StripBand{22, 3, "Rock Brasil" + std::string(15, ' '), 2, 14, 6, 3}));
  EXPECT_EQ(shownRow(23), "Rock Brasil" + std::string(69, ' '));
  EXPECT_EQ(shownRow(24), std::string(80, ' '));
  EXPECT_EQ(charAt(1, 23), 'u');
  refreshStrip();
  EXPECT_FALSE(screen->strip().has_value());
  EXPECT_EQ(shownRow(23).substr(0, 14), "under the band");
  showInStrip("x", 1);
  clearScreen();
  EXPECT_FALSE(screen->strip().has_value());
  showInStrip("x", 1);
  closeStrip();
  EXPECT_EQ(stripFactor(), 0);
  EXPECT_FALSE(screen->strip().has_value());
}

}  // namespace
}  // namespace ondaria
