// The window front-end under SDL's dummy video driver (software rendering):
// cells are drawn with the palette and the colour map, and scrolling by copy
// gives the same picture as a full repaint.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/audio_device.h"
#include "platform/frontend.h"

namespace platform {
namespace {

class SdlFrontendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    grid.chars.fill(' ');
    grid.attrs.fill(0x0F);
    window = makeSdlFrontend();
    FrontendOptions options;
    options.fontHeight = 19;  // 16 pt DejaVu Sans Mono
    ASSERT_TRUE(window->open(grid, options));
    cw = window->cellWidth();
    ch = window->cellHeight();
  }
  void TearDown() override { window.reset(); }

  Rgb pixel(int x, int y) {
    Rgb c{1, 2, 3};
    EXPECT_TRUE(window->readPixel(x, y, c));
    return c;
  }
  // Whether any pixel of a cell has this colour.
  bool cellHas(int col, int row, Rgb colour) {
    for (int y = row * ch; y < (row + 1) * ch; ++y)
      for (int x = col * cw; x < (col + 1) * cw; ++x)
        if (pixel(x, y) == colour) return true;
    return false;
  }
  CellGrid grid;
  std::unique_ptr<Frontend> window;
  int cw = 0, ch = 0;
};

TEST_F(SdlFrontendTest, CellSizeFollowsTheFont) {
  EXPECT_EQ(cw, 10);
  EXPECT_EQ(ch, 19);
  Rgb outside{};
  EXPECT_FALSE(window->readPixel(80 * cw, 0, outside));
}

TEST_F(SdlFrontendTest, RunsAreDrawnInTheirColours) {
  // "AB" yellow on blue, then "C" white on red.
  grid.chars[0] = 'A';
  grid.chars[1] = 'B';
  grid.chars[2] = 'C';
  grid.attrs[0] = grid.attrs[1] = 0x1E;
  grid.attrs[2] = 0x4F;
  window->cellsChanged(0, 0, 3);
  EXPECT_EQ(pixel(0, 0), (Rgb{0, 0, 255}));          // corner of a cell: background
  EXPECT_EQ(pixel(2 * cw, 0), (Rgb{255, 0, 0}));
  EXPECT_TRUE(cellHas(0, 0, Rgb{255, 255, 0}));      // the glyph's solid strokes
  EXPECT_TRUE(cellHas(2, 0, Rgb{255, 255, 255}));
  EXPECT_FALSE(cellHas(3, 0, Rgb{255, 255, 255}));   // a blank: background only
  EXPECT_EQ(pixel(3 * cw, 0), (Rgb{0, 0, 0}));
}

TEST_F(SdlFrontendTest, ColourMapAppliesAndOutOfRangeIsBlack) {
  grid.colourMap[1] = 14;  // index 1 draws yellow
  grid.colourMap[4] = 99;  // index 4 draws black
  grid.attrs[0] = 0x10;
  grid.attrs[1] = 0x40;
  window->repaintAll();
  EXPECT_EQ(pixel(0, 0), (Rgb{255, 255, 0}));
  EXPECT_EQ(pixel(cw, 0), (Rgb{0, 0, 0}));
}

TEST_F(SdlFrontendTest, ScrollByCopyMatchesAFullRepaint) {
  for (int row = 0; row < 25; ++row)
    for (int col = 0; col < 80; ++col) {
      grid.chars[row * 80 + col] = static_cast<uint8_t>('A' + (row + col) % 26);
      grid.attrs[row * 80 + col] = static_cast<uint8_t>((row % 8) << 4 | 15);
    }
  window->repaintAll();
  // The grid moves up a row, as the console does, and the window follows.
  std::copy(grid.chars.begin() + 80, grid.chars.end(), grid.chars.begin());
  std::copy(grid.attrs.begin() + 80, grid.attrs.end(), grid.attrs.begin());
  std::fill(grid.chars.end() - 80, grid.chars.end(), ' ');
  std::fill(grid.attrs.end() - 80, grid.attrs.end(), 0x2F);
  window->scrolled(true);
  std::vector<Rgb> copied;
  for (int y = 0; y < 25 * ch; y += 3)
    for (int x = 0; x < 80 * cw; x += 3) copied.push_back(pixel(x, y));
  window->repaintAll();
  size_t i = 0, differences = 0;
  for (int y = 0; y < 25 * ch; y += 3)
    for (int x = 0; x < 80 * cw; x += 3)
      if (!(pixel(x, y) == copied[i++])) ++differences;
  EXPECT_EQ(differences, 0u);
  EXPECT_EQ(pixel(0, 24 * ch), (Rgb{0, 255, 0}));
}

TEST_F(SdlFrontendTest, ClipboardRoundTripsUtf8) {
  ASSERT_TRUE(window->setClipboardText("a\xC3\xA7\xC3\xA3o"));
  EXPECT_EQ(window->clipboardText().value(), "a\xC3\xA7\xC3\xA3o");
}

void pushKey(SDL_Keycode sym, Uint16 mod, const char* text) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = sym;
  e.key.keysym.mod = mod;
  SDL_PushEvent(&e);
  if (text) {
    SDL_Event t{};
    t.type = SDL_TEXTINPUT;
    SDL_strlcpy(t.text.text, text, sizeof t.text.text);
    SDL_PushEvent(&t);
  }
}

TEST_F(SdlFrontendTest, TextOfAltKeysIsNotTyped) {
  FrontendEvent e;
  while (window->nextEvent(e, 0)) {
  }
  pushKey(SDLK_x, KMOD_LALT, "x");
  pushKey(SDLK_c, KMOD_NONE, "\xC3\xA7");        // a layout's "ç" key
  pushKey(SDLK_q, KMOD_RALT | KMOD_MODE, "/");   // AltGr makes text
  std::vector<FrontendEvent> got;
  while (window->nextEvent(e, 0)) got.push_back(e);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0].key, KeyId::X);
  EXPECT_EQ(got[0].mods, kModAlt);
  EXPECT_EQ(got[1].key, KeyId::C);
  EXPECT_EQ(got[2].text, "\xC3\xA7");
  EXPECT_EQ(got[3].key, KeyId::Q);
  EXPECT_EQ(got[3].mods, 0);  // AltGr is not Alt
  EXPECT_EQ(got[4].text, "/");
}

TEST_F(SdlFrontendTest, TheBellIsHeard) {
  // The window has no sound of its own: its bell plays on the audio device.
  std::atomic<bool> heard{false};
  setAudioObserver([&heard](const AudioBlockReport& r) {
    if (r.peak > kAudibleLevel) heard = true;
  });
  window->bell();
  for (int i = 0; i < 200 && !heard; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  setAudioObserver(nullptr);
  EXPECT_TRUE(heard);
  window.reset();
  audioClose();
}

TEST_F(SdlFrontendTest, WakeFromAnotherThread) {
  FrontendEvent e;
  while (window->nextEvent(e, 0)) {
  }
  std::thread other([&] { window->wake(); });
  other.join();
  ASSERT_TRUE(window->nextEvent(e, 5000));
  EXPECT_EQ(e.type, EventType::Wake);
}


// The magnified strip's band: painted over its rows in the strip's colours,
// the highlighted character in the cursor colour, each character a box of
// factor x factor cells; hidden, the grid shows again.
TEST_F(SdlFrontendTest, BandIsPaintedOverTheBottomRows) {
  grid.chars[22 * 80] = 'W';
  window->repaintAll();
  StripBand band;
  band.row = 22;
  band.factor = 3;
  band.text = "AB" + std::string(24, ' ');
  band.marked = 1;
  window->showStrip(band);
  const Rgb brown = kPalette[6], yellow = kPalette[14], cyan = kPalette[3];
  EXPECT_EQ(pixel(0, 22 * ch), brown);
  EXPECT_EQ(pixel(80 * cw - 1, 25 * ch - 1), brown);  // the whole width
  EXPECT_NE(pixel(0, 21 * ch), brown);                // not the row above
  auto boxHas = [&](int box, Rgb colour) {
    for (int y = 22 * ch; y < 25 * ch; ++y)
      for (int x = box * 3 * cw; x < (box + 1) * 3 * cw; ++x)
        if (pixel(x, y) == colour) return true;
    return false;
  };
  EXPECT_TRUE(boxHas(0, yellow));
  EXPECT_FALSE(boxHas(0, cyan));
  EXPECT_TRUE(boxHas(1, cyan));
  EXPECT_FALSE(boxHas(1, yellow));
  // The letters are factor times the cell's: "A" is far taller than a cell.
  int top = 25 * ch, bottom = 0;
  for (int y = 22 * ch; y < 25 * ch; ++y)
    for (int x = 0; x < 3 * cw; ++x)
      if (pixel(x, y) == yellow) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  EXPECT_GT(bottom - top, 3 * ch / 2);
  window->hideStrip();
  EXPECT_EQ(pixel(0, 22 * ch), (Rgb{0, 0, 0}));
  EXPECT_TRUE(cellHas(0, 22, Rgb{255, 255, 255}));  // the "W" is back
  EXPECT_FALSE(cellHas(5, 23, brown));
}

}  // namespace
}  // namespace platform
