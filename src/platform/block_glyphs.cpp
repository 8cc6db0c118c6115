#include "platform/block_glyphs.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>

#include "platform/codepage.h"

namespace platform {

namespace {

constexpr const char* kGlyphFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf";
// Rendered large enough that even factor 10 (20 x 20 dots) takes each dot
// from several pixels.
constexpr int kRenderPoints = 64;
// A dot is set when the glyph covers at least this share of it (of 255):
// a little under half, so that thin strokes do not vanish at small factors.
constexpr int kCoverageThreshold = 96;

}  // namespace

struct BlockGlyphs::Font {
  TTF_Font* ttf = nullptr;
  int advance = 0;
  int height = 0;
  ~Font() {
    if (ttf) TTF_CloseFont(ttf);
    TTF_Quit();
  }
};

BlockGlyphs::BlockGlyphs() = default;
BlockGlyphs::~BlockGlyphs() = default;

bool BlockGlyphs::available() {
  if (font_) return true;
  if (tried_) return false;
  tried_ = true;
  if (TTF_Init() != 0) return false;
  auto font = std::make_unique<Font>();  // from here on its destructor calls TTF_Quit
  font->ttf = TTF_OpenFont(kGlyphFont, kRenderPoints);
  if (!font->ttf) return false;
  TTF_SetFontKerning(font->ttf, 0);
  if (TTF_GlyphMetrics(font->ttf, 'M', nullptr, nullptr, nullptr, nullptr, &font->advance) != 0 ||
      font->advance <= 0)
    return false;
  font->height = TTF_FontHeight(font->ttf);
  if (font->height <= 0) return false;
  font_ = std::move(font);
  return true;
}

const std::vector<uint8_t>& BlockGlyphs::cells(uint8_t character, int factor) {
  static const std::vector<uint8_t> kNone;
  factor = std::clamp(factor, 2, 10);
  const auto key = std::make_pair(static_cast<int>(character), factor);
  if (auto found = cache_.find(key); found != cache_.end()) return found->second;
  if (!available()) return kNone;
  std::vector<uint8_t>& out = cache_[key];
  out.assign(static_cast<size_t>(factor) * factor, 0);
  const char32_t cp = cp1252ToCodePoint(character);
  if (cp <= 0x20 || (cp >= 0x7F && cp <= 0xA0)) return out;  // blanks and controls show nothing
  SDL_Surface* glyph = TTF_RenderGlyph32_Shaded(font_->ttf, static_cast<Uint32>(cp),
                                                SDL_Color{255, 255, 255, 255}, SDL_Color{0, 0, 0, 255});
  if (!glyph) return out;
  // The glyph's box is the font's cell: advance x height; dots are taken
  // from equal parts of it, each dot's coverage the mean of its pixels.
  const int dots = 2 * factor;
  std::vector<int> coverage(static_cast<size_t>(dots) * dots, 0);
  if (SDL_LockSurface(glyph) == 0) {
    const auto* pixels = static_cast<const uint8_t*>(glyph->pixels);
    for (int dy = 0; dy < dots; ++dy) {
      const int y0 = dy * font_->height / dots, y1 = std::max(y0 + 1, (dy + 1) * font_->height / dots);
      for (int dx = 0; dx < dots; ++dx) {
        const int x0 = dx * font_->advance / dots, x1 = std::max(x0 + 1, (dx + 1) * font_->advance / dots);
        long sum = 0;
        for (int y = y0; y < y1; ++y)
          for (int x = x0; x < x1; ++x)
            if (x < glyph->w && y < glyph->h) sum += pixels[static_cast<size_t>(y) * glyph->pitch + x];
        coverage[static_cast<size_t>(dy) * dots + dx] = static_cast<int>(sum / ((x1 - x0) * (y1 - y0)));
      }
    }
    SDL_UnlockSurface(glyph);
  }
  SDL_FreeSurface(glyph);
  auto dot = [&](int x, int y) { return coverage[static_cast<size_t>(y) * dots + x] >= kCoverageThreshold; };
  for (int row = 0; row < factor; ++row)
    for (int col = 0; col < factor; ++col) {
      uint8_t mask = 0;
      if (dot(2 * col, 2 * row)) mask |= 1;
      if (dot(2 * col + 1, 2 * row)) mask |= 2;
      if (dot(2 * col, 2 * row + 1)) mask |= 4;
      if (dot(2 * col + 1, 2 * row + 1)) mask |= 8;
      out[static_cast<size_t>(row) * factor + col] = mask;
    }
  return out;
}

char32_t quadrantCharacter(uint8_t mask) {
  // Indexed by the mask: upper left 1, upper right 2, lower left 4, lower right 8.
  static constexpr char32_t kQuadrants[16] = {
      U' ',      U'\u2598', U'\u259D', U'\u2580', U'\u2596', U'\u258C', U'\u259E', U'\u259B',
      U'\u2597', U'\u259A', U'\u2590', U'\u259C', U'\u2584', U'\u2599', U'\u259F', U'\u2588',
  };
  return kQuadrants[mask & 15];
}

}  // namespace platform
