// Enlarged characters for text terminals, drawn with the quadrant and half
// block characters (U+2580…U+259F): each terminal cell shows 2 x 2 dots, so
// a character `factor` cells wide and `factor` rows high is a bitmap of
// 2·factor x 2·factor dots. The bitmaps come from the same TrueType font as
// the window's (DejaVu Sans Mono, bold), rendered off-screen through SDL_ttf
// and reduced by area coverage, so that they are really the font's letters,
// only coarser. Since a terminal cell is about twice as high as it is wide,
// a dot is too, and the letters keep their proportions.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

class BlockGlyphs {
 public:
  BlockGlyphs();
  ~BlockGlyphs();
  BlockGlyphs(const BlockGlyphs&) = delete;
  BlockGlyphs& operator=(const BlockGlyphs&) = delete;

  // Opens the font on first use; false when it cannot be rendered (no font
  // file, SDL_ttf failing), and then the caller shows plain characters.
  bool available();

  // The cells of a cp1252 character enlarged `factor` times (2…10): factor
  // rows of factor cells, row by row, each the quadrant mask of the cell
  // (bit 0 upper left, 1 upper right, 2 lower left, 3 lower right). Empty
  // when the font is not available.
  const std::vector<uint8_t>& cells(uint8_t character, int factor);

 private:
  struct Font;
  std::unique_ptr<Font> font_;
  bool tried_ = false;
  std::map<std::pair<int, int>, std::vector<uint8_t>> cache_;
};

// The block character for a quadrant mask 0…15 (0 is a blank, 15 a full block).
char32_t quadrantCharacter(uint8_t mask);

}  // namespace platform
