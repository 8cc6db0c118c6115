// The window front-end: SDL2 for the window and events, SDL2_ttf for the text.
//
// The grid is drawn straight into the window's surface, centred in it
// (letterboxed in black), with the largest font whose 80 x 25 cells fit the
// window: maximising the window gives bigger, crisply re-rendered letters,
// never a scaled bitmap. The window opens no larger than the usable part of
// the display; when the settings ask for a font that would not fit, the font
// is made smaller (and a notice says so once), never the grid.
//
// Each cell is copied from a cache of cell images (background in the mapped
// background colour, glyph rendered on it in the mapped foreground colour),
// so a cell costs one plain copy; rendering text run by run cost several
// times more (see bench/console_bench.cpp). Drawing is lazy: changes only
// mark the grid dirty, and before presenting, the cells that differ from a
// copy of what the window shows are redrawn (after moving the picture up by
// the rows scrolled meanwhile), and only the changed rectangles are sent to
// the display. Writing thousands of lines therefore costs a few redraws, not
// one per line.
//
// Over the cells come two overlays: the caret, a block in the cell's colours
// swapped, while a key is awaited; and the magnified strip's band, drawn
// with the same font at factor times its size, one box per character.
#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/audio_device.h"
#include "platform/codepage.h"
#include "platform/frontend.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kDefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
constexpr const char* kDefaultBoldFont = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf";

// Presenting copies the whole window; doing it at most this often keeps fast
// scrolling cheap. Every wait for events presents what is pending first.
constexpr auto kPresentInterval = std::chrono::milliseconds(15);

// Weights from 600 up are bold, as with the system's fonts.
constexpr int kBoldWeight = 600;

// Cell height when the display cannot tell its size: 16 pt DejaVu Sans Mono.
constexpr int kFallbackCellHeight = 19;

// Room left around the window on the usable part of the display for the
// frame the window manager adds (not known before the window exists).
constexpr int kFrameAllowance = 8;
constexpr int kTitleAllowance = 32;

std::string normalisedName(std::string_view s) {
  std::string out;
  for (unsigned char c : s)
    if (std::isalnum(c)) out += static_cast<char>(std::tolower(c));
  return out;
}

// A font file whose name matches the face name ("Liberation Mono" ->
// LiberationMono-Regular.ttf / LiberationMono-Bold.ttf). Empty when none.
std::string findFontFile(const std::string& face, bool bold, bool& gotBold) {
  gotBold = false;
  const std::string want = normalisedName(face);
  if (want.empty()) return {};
  std::string regular, boldFile;
  const char* home = std::getenv("HOME");
  std::vector<std::string> roots = {"/usr/share/fonts", "/usr/local/share/fonts"};
  if (home) {
    roots.push_back(std::string(home) + "/.local/share/fonts");
    roots.push_back(std::string(home) + "/.fonts");
  }
  for (const std::string& root : roots) {
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) continue;
    for (auto it = std::filesystem::recursive_directory_iterator(
             root, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      const std::filesystem::path& p = it->path();
      const std::string ext = normalisedName(p.extension().string());
      if (ext != "ttf" && ext != "otf") continue;
      const std::string stem = normalisedName(p.stem().string());
      if (stem == want || stem == want + "regular" || stem == want + "book") {
        if (regular.empty()) regular = p.string();
      } else if (stem == want + "bold") {
        if (boldFile.empty()) boldFile = p.string();
      }
    }
  }
  if (bold && !boldFile.empty()) {
    gotBold = true;
    return boldFile;
  }
  return regular;
}

// The window's bell: 150 ms of an 880 Hz tone fading out, as a desktop's
// default alert sounds, at a rate every device takes.
constexpr int kBellRate = 22050;

const std::vector<int16_t>& bellSamples() {
  static const std::vector<int16_t> samples = [] {
    constexpr int kCount = kBellRate * 150 / 1000;
    constexpr double kPi = 3.14159265358979323846;
    std::vector<int16_t> out(kCount);
    for (int i = 0; i < kCount; ++i) {
      const double t = static_cast<double>(i) / kBellRate;
      const double fade = 1.0 - static_cast<double>(i) / kCount;
      out[static_cast<size_t>(i)] = static_cast<int16_t>(9000.0 * fade * fade * std::sin(2 * kPi * 880.0 * t));
    }
    return out;
  }();
  return samples;
}

KeyId mapKey(SDL_Keycode sym, Uint16 mod) {
  if (sym >= SDLK_a && sym <= SDLK_z) return keyLetter(static_cast<char>('A' + (sym - SDLK_a)));
  if (sym >= SDLK_0 && sym <= SDLK_9) return keyDigit(sym - SDLK_0);
  if (sym >= SDLK_F1 && sym <= SDLK_F12) return keyFunction(sym - SDLK_F1 + 1);
  // Keypad keys act as cursor keys while Num Lock is off.
  if (!(mod & KMOD_NUM)) {
    switch (sym) {
      case SDLK_KP_8: return KeyId::Up;
      case SDLK_KP_2: return KeyId::Down;
      case SDLK_KP_4: return KeyId::Left;
      case SDLK_KP_6: return KeyId::Right;
      case SDLK_KP_7: return KeyId::Home;
      case SDLK_KP_1: return KeyId::End;
      case SDLK_KP_9: return KeyId::PageUp;
      case SDLK_KP_3: return KeyId::PageDown;
      case SDLK_KP_0: return KeyId::Insert;
      case SDLK_KP_PERIOD: return KeyId::Delete;
      default: break;
    }
  }
  switch (sym) {
    case SDLK_UP: return KeyId::Up;
    case SDLK_DOWN: return KeyId::Down;
    case SDLK_LEFT: return KeyId::Left;
    case SDLK_RIGHT: return KeyId::Right;
    case SDLK_HOME: return KeyId::Home;
    case SDLK_END: return KeyId::End;
    case SDLK_PAGEUP: return KeyId::PageUp;
    case SDLK_PAGEDOWN: return KeyId::PageDown;
    case SDLK_INSERT: return KeyId::Insert;
    case SDLK_DELETE: return KeyId::Delete;
    case SDLK_RETURN: case SDLK_KP_ENTER: case SDLK_RETURN2: return KeyId::Enter;
    case SDLK_ESCAPE: return KeyId::Escape;
    case SDLK_BACKSPACE: return KeyId::Backspace;
    case SDLK_TAB: return KeyId::Tab;
    case SDLK_SPACE: return KeyId::Space;
    case SDLK_PAUSE: case SDLK_CANCEL: return KeyId::Pause;
    case SDLK_BACKSLASH: return KeyId::Backslash;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return KeyId::Shift;
    case SDLK_LCTRL: case SDLK_RCTRL: return KeyId::Control;
    case SDLK_LALT: case SDLK_RALT: return KeyId::Alt;
    default: return KeyId::Other;
  }
}

uint8_t mapMods(Uint16 mod) {
  uint8_t m = 0;
  if (mod & KMOD_SHIFT) m |= kModShift;
  if (mod & KMOD_CTRL) m |= kModCtrl;
  // Right Alt together with the mode key is AltGr, which types characters.
  if ((mod & KMOD_LALT) || ((mod & KMOD_RALT) && !(mod & KMOD_MODE))) m |= kModAlt;
  return m;
}

// A TrueType font that can be resized in place, with the cell its size gives.
struct CellFont {
  TTF_Font* ttf = nullptr;
  int points = 0;
  int advance = 0;  // cell width: the advance of "M" (the face is fixed-width)
  int lineSkip = 0;  // cell height
  int ascent = 0;

  ~CellFont() { close(); }
  void close() {
    if (ttf) TTF_CloseFont(ttf);
    ttf = nullptr;
  }

  bool setPoints(int pt) {
    if (!ttf || TTF_SetFontSize(ttf, pt) != 0) return false;
    int adv = 0;
    if (TTF_GlyphMetrics(ttf, 'M', nullptr, nullptr, nullptr, nullptr, &adv) != 0 || adv <= 0) return false;
    points = pt;
    advance = adv;
    lineSkip = TTF_FontLineSkip(ttf);
    ascent = TTF_FontAscent(ttf);
    return lineSkip > 0;
  }

  // The largest size whose cell is at most maxWidth x maxHeight (at least
  // the smallest size); false when the font cannot be sized at all.
  bool fitCell(int maxWidth, int maxHeight) {
    int low = kMinPoints, high = kMaxPoints, best = kMinPoints;
    while (low <= high) {
      const int mid = (low + high) / 2;
      if (!setPoints(mid)) return false;
      if (advance <= maxWidth && lineSkip <= maxHeight) {
        best = mid;
        low = mid + 1;
      } else {
        high = mid - 1;
      }
    }
    return setPoints(best);
  }

  static constexpr int kMinPoints = 4;
  static constexpr int kMaxPoints = 400;
};

class SdlFrontend : public Frontend {
 public:
  ~SdlFrontend() override { close(); }

  const char* name() const override { return "sdl"; }

  bool open(const CellGrid& grid, const FrontendOptions& options) override {
    grid_ = &grid;
    // SDL's own SIGINT/SIGTERM handlers would turn a kill into a close
    // request that the program may ignore.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // The picture is ours, drawn in memory: it goes to the display as it is
    // (X11 shared memory). SDL would otherwise copy all of it into a texture
    // and render that through OpenGL on every update, however small, which
    // without a graphics card (llvmpipe) cost some 200 ms per key at 4K.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    videoInit_ = true;
    if (TTF_Init() != 0) {
      close();
      return false;
    }
    ttfInit_ = true;
    if (!openFont(options)) {
      close();
      return false;
    }
    wakeEvent_ = SDL_RegisterEvents(1);
    const int width = CellGrid::kColumns * font_.advance;
    const int height = CellGrid::kRows * font_.lineSkip;
    Uint32 flags = SDL_WINDOW_RESIZABLE;
    if (options.startMaximized) flags |= SDL_WINDOW_MAXIMIZED;
    window_ = SDL_CreateWindow(cp1252ToUtf8(options.title).c_str(), SDL_WINDOWPOS_CENTERED,
                               SDL_WINDOWPOS_CENTERED, width, height, flags);
    if (!window_) {
      close();
      return false;
    }
    // Small enough for any screen, large enough that the letters can still
    // be made out.
    SDL_SetWindowMinimumSize(window_, CellGrid::kColumns * kMinCellWidth, CellGrid::kRows * kMinCellHeight);
    SDL_StartTextInput();
    if (!layout()) {
      close();
      return false;
    }
    present();
    return true;
  }

  void close() override {
    if (bell_) audioRemoveSource(bell_.get());
    bell_.reset();
    forgetCellImages();
    forgetBandImages();
    if (window_) {
      SDL_StopTextInput();
      SDL_DestroyWindow(window_);
    }
    window_ = nullptr;
    surface_ = nullptr;
    font_.close();
    bandFont_.close();
    if (ttfInit_) TTF_Quit();
    ttfInit_ = false;
    if (videoInit_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    videoInit_ = false;
  }

  void cellsChanged(int, int, int) override { dirty_ = true; }

  void scrolled(bool) override {
    // Moving the picture is always exact here (it is our own surface), so the
    // pixel copy is used whichever way the settings ask for.
    ++pendingScrolls_;
    dirty_ = true;
  }

  void repaintAll() override {
    shadowValid_.fill(false);
    pendingScrolls_ = 0;
    band_.reset();
    dirty_ = true;
  }

  void showStrip(const StripBand& band) override {
    band_ = band;
    band_->factor = std::clamp(band_->factor, 1, CellGrid::kRows);
    dirty_ = true;
  }

  void hideStrip() override {
    band_.reset();
    dirty_ = true;
  }

  void flush() override {
    if (dirty_ && Clock::now() - lastPresent_ >= kPresentInterval) present();
  }

  void keyWait(bool waiting, int col, int row) override {
    caretShown_ = waiting;
    caretCol_ = col;
    caretRow_ = row;
    present();
  }

  void setTitle(std::string_view cp1252) override {
    if (window_) SDL_SetWindowTitle(window_, cp1252ToUtf8(cp1252).c_str());
  }

  // The window has no sound of its own: the bell is a short chime on a
  // channel of the program's audio device (nothing when it cannot open).
  void bell() override {
    if (!audioOpen()) return;
    if (!bell_) {
      bell_ = std::make_shared<PcmQueueSource>();
      audioAddSource(bell_);
    }
    const std::vector<int16_t>& chime = bellSamples();
    bell_->flush();  // a bell rung again starts over
    bell_->queue(chime.data(), chime.size() * sizeof(int16_t), PcmFormat{kBellRate, 1, PcmEncoding::S16});
  }

  bool nextEvent(FrontendEvent& event, int timeoutMs) override {
    if (!videoInit_) return false;
    if (dirty_) present();
    const Clock::time_point deadline =
        timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      SDL_Event e;
      int got;
      if (timeoutMs < 0) {
        got = SDL_WaitEvent(&e);
      } else {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        got = left <= 0 ? SDL_PollEvent(&e) : SDL_WaitEventTimeout(&e, static_cast<int>(left));
      }
      if (!got) return false;
      if (translate(e, event)) return true;
      if (dirty_) present();
    }
  }

  void wake() override {
    // One pending wake event is enough to end a wait.
    if (wakeEvent_ == static_cast<Uint32>(-1) || wakePending_.exchange(true)) return;
    SDL_Event e{};
    e.type = wakeEvent_;
    if (SDL_PushEvent(&e) != 1) wakePending_ = false;
  }

  bool setClipboardText(std::string_view utf8) override {
    return SDL_SetClipboardText(std::string(utf8).c_str()) == 0;
  }

  std::optional<std::string> clipboardText() override {
    if (!SDL_HasClipboardText()) return std::string();
    char* text = SDL_GetClipboardText();
    if (!text) return std::nullopt;
    std::string out = text;
    SDL_free(text);
    return out;
  }

  std::string takeNotice() override {
    std::string notice;
    notice.swap(notice_);
    return notice;
  }

  bool readPixel(int x, int y, Rgb& colour) override {
    if (dirty_ || !surface_) present();
    if (!surface_ || x < 0 || y < 0 || x >= gridWidth() || y >= gridHeight()) return false;
    if (SDL_LockSurface(surface_) != 0) return false;
    const auto* row = static_cast<const uint8_t*>(surface_->pixels) +
                      static_cast<size_t>(originY_ + y) * surface_->pitch;
    Uint32 pixel;
    memcpy(&pixel, row + static_cast<size_t>(originX_ + x) * 4, 4);
    SDL_UnlockSurface(surface_);
    SDL_GetRGB(pixel, surface_->format, &colour.r, &colour.g, &colour.b);
    return true;
  }

  int cellWidth() const override { return font_.advance; }
  int cellHeight() const override { return font_.lineSkip; }

 private:
  static constexpr int kMinCellWidth = 5;
  static constexpr int kMinCellHeight = 9;
  static constexpr size_t kCells = static_cast<size_t>(CellGrid::kColumns) * CellGrid::kRows;

  int gridWidth() const { return CellGrid::kColumns * font_.advance; }
  int gridHeight() const { return CellGrid::kRows * font_.lineSkip; }

  // The cell the settings ask for, or the system's rule for the work area.
  void wantedCell(const FrontendOptions& options, const SDL_Rect* usable, int& width, int& height) const {
    height = options.fontHeight;
    width = options.fontWidth;
    if (height <= 0)
      height = usable ? static_cast<int>(usable->h / 734.0 * 28.0) : kFallbackCellHeight;
    if (width <= 0) width = usable ? static_cast<int>(usable->w / 1024.0 * 13.0) : height;
    height = std::max(height, kMinCellHeight);
    width = std::max(width, kMinCellWidth);
  }

  bool openFont(const FrontendOptions& options) {
    const bool bold = options.fontWeight >= kBoldWeight;
    bool gotBold = false;
    std::string path = findFontFile(options.fontFace, bold, gotBold);
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (path.empty()) {
        path = bold ? kDefaultBoldFont : kDefaultFont;
        gotBold = bold;
      }
      font_.ttf = TTF_OpenFont(path.c_str(), kFallbackCellHeight);
      if (font_.ttf && TTF_FontFaceIsFixedWidth(font_.ttf)) break;
      // A proportional face would break the grid: use the default one.
      font_.close();
      if (path == kDefaultFont || path == kDefaultBoldFont) return false;
      path.clear();
    }
    if (!font_.ttf) return false;
    fontPath_ = path;
    syntheticBold_ = bold && !gotBold;
    if (syntheticBold_) TTF_SetFontStyle(font_.ttf, TTF_STYLE_BOLD);
    TTF_SetFontKerning(font_.ttf, 0);

    SDL_Rect usable{};
    const bool known = SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0;
    int width, height;
    wantedCell(options, known ? &usable : nullptr, width, height);
    if (!font_.fitCell(width, height)) return false;
    if (known) {
      // The window's frame is not known before it exists: leave room for a
      // title bar and borders of the usual size.
      const int roomW = usable.w - 2 * kFrameAllowance;
      const int roomH = usable.h - kTitleAllowance - 2 * kFrameAllowance;
      const int asked = font_.points;
      if (CellGrid::kColumns * font_.advance > roomW || CellGrid::kRows * font_.lineSkip > roomH) {
        if (!font_.fitCell(roomW / CellGrid::kColumns, roomH / CellGrid::kRows)) return false;
        // Only a size the user chose is worth a word; the default follows
        // the screen anyway.
        if (font_.points < asked && (options.fontHeight > 0 || options.fontWidth > 0))
          notice_ = "A letra pedida nas configura\xE7\xF5" "es n\xE3o cabe na tela; usei uma letra menor.";
      }
    }
    return true;
  }

  // Fits the font to the window's size and starts a full redraw; true when
  // there is a surface to draw on.
  bool layout() {
    surface_ = SDL_GetWindowSurface(window_);
    if (!surface_) return false;
    layoutWidth_ = surface_->w;
    layoutHeight_ = surface_->h;
    const int before = font_.points;
    if (!font_.fitCell(std::max(surface_->w / CellGrid::kColumns, kMinCellWidth),
                       std::max(surface_->h / CellGrid::kRows, kMinCellHeight)))
      return false;
    if (font_.points != before) {
      forgetCellImages();
      forgetBandImages();
    }
    originX_ = std::max(0, (surface_->w - gridWidth()) / 2);
    originY_ = std::max(0, (surface_->h - gridHeight()) / 2);
    SDL_FillRect(surface_, nullptr, SDL_MapRGB(surface_->format, 0, 0, 0));
    shadowValid_.fill(false);
    pendingScrolls_ = 0;
    bandDrawn_.reset();
    caretDrawn_ = false;
    fullUpdate_ = true;
    dirty_ = true;
    return true;
  }

  Uint32 mapped(int colourIndex) const {
    const Rgb c = mappedColour(*grid_, colourIndex);
    return SDL_MapRGB(surface_->format, c.r, c.g, c.b);
  }

  bool underBand(int row) const {
    return band_ && row >= band_->row && row < band_->row + band_->factor;
  }

  void invalidateCell(int col, int row) {
    if (col >= 0 && col < CellGrid::kColumns && row >= 0 && row < CellGrid::kRows)
      shadowValid_[static_cast<size_t>(row) * CellGrid::kColumns + col] = false;
  }

  void invalidateRows(int first, int count) {
    for (int row = std::max(first, 0); row < std::min(first + count, CellGrid::kRows); ++row)
      for (int col = 0; col < CellGrid::kColumns; ++col) invalidateCell(col, row);
  }

  // Brings the window's surface up to date: grid cells, then the band and
  // the caret over them. Rectangles that changed are added to `changed`.
  void draw(std::vector<SDL_Rect>* changed) {
    if (!window_ || !grid_) return;
    SDL_Surface* current = SDL_GetWindowSurface(window_);
    if (!current) return;
    if (current != surface_ || current->w != layoutWidth_ || current->h != layoutHeight_) {
      if (!layout()) return;
    }
    if (grid_->colourMap != shadowMap_) {
      shadowMap_ = grid_->colourMap;
      forgetCellImages();
      forgetBandImages();
      shadowValid_.fill(false);
      bandDrawn_.reset();
      pendingScrolls_ = 0;
    }
    // The overlays come off first: the cells under them are drawn again from
    // the grid unless the same overlay goes back on unchanged.
    if (caretDrawn_) {
      invalidateCell(caretDrawnCol_, caretDrawnRow_);
      caretDrawn_ = false;
    }
    if (bandDrawn_ && (pendingScrolls_ > 0 || !band_ || band_->row != bandDrawn_->row ||
                       band_->factor != bandDrawn_->factor || band_->backColour != bandDrawn_->backColour)) {
      invalidateRows(bandDrawn_->row, bandDrawn_->factor);
      bandDrawn_.reset();
    }
    if (pendingScrolls_ > 0) {
      scrollPicture(std::min(pendingScrolls_, CellGrid::kRows));
      pendingScrolls_ = 0;
      if (changed) changed->push_back(SDL_Rect{originX_, originY_, gridWidth(), gridHeight()});
    }
    for (int row = 0; row < CellGrid::kRows; ++row) {
      if (underBand(row)) continue;  // the band covers it; drawn when the band goes
      int first = -1, last = -1;
      for (int col = 0; col < CellGrid::kColumns; ++col) {
        const size_t i = static_cast<size_t>(row) * CellGrid::kColumns + col;
        if (!shadowValid_[i] || shadowChars_[i] != grid_->chars[i] || shadowAttrs_[i] != grid_->attrs[i]) {
          if (first < 0) first = col;
          last = col;
        }
      }
      if (first < 0) continue;
      drawRow(row, first, last + 1);
      if (changed)
        changed->push_back(SDL_Rect{originX_ + first * font_.advance, originY_ + row * font_.lineSkip,
                                    (last + 1 - first) * font_.advance, font_.lineSkip});
    }
    if (band_) drawBand(changed);
    const bool focused = (SDL_GetWindowFlags(window_) & SDL_WINDOW_INPUT_FOCUS) != 0;
    if (caretShown_ && focused && !underBand(caretRow_)) drawCaret(changed);
  }

  // The picture and its copy of the grid move up by `rows` rows.
  void scrollPicture(int rows) {
    const size_t shift = static_cast<size_t>(rows) * CellGrid::kColumns;
    std::move(shadowChars_.begin() + shift, shadowChars_.end(), shadowChars_.begin());
    std::move(shadowAttrs_.begin() + shift, shadowAttrs_.end(), shadowAttrs_.begin());
    std::move(shadowValid_.begin() + shift, shadowValid_.end(), shadowValid_.begin());
    std::fill(shadowValid_.begin() + (kCells - shift), shadowValid_.end(), false);
    if (rows >= CellGrid::kRows || SDL_LockSurface(surface_) != 0) {
      shadowValid_.fill(false);
      return;
    }
    // Whole scanlines move: the black margins beside the grid stay black.
    auto* top = static_cast<uint8_t*>(surface_->pixels) + static_cast<size_t>(originY_) * surface_->pitch;
    const size_t band = static_cast<size_t>(surface_->pitch) * font_.lineSkip * rows;
    const size_t all = static_cast<size_t>(surface_->pitch) * gridHeight();
    memmove(top, top + band, all - band);
    SDL_UnlockSurface(surface_);
  }

  // Draws columns [colBegin, colEnd) of a row in runs of equal attribute.
  void drawRow(int row, int colBegin, int colEnd) {
    int col = colBegin;
    while (col < colEnd) {
      const uint8_t attr = grid_->attrAt(col, row);
      int end = col + 1;
      while (end < colEnd && grid_->attrAt(end, row) == attr) ++end;
      drawRun(row, col, end, attr);
      col = end;
    }
  }

  // One cell, character and attribute, ready to copy: the background filled
  // and the glyph rendered on it, in the surface's own pixel format, so that
  // drawing a cell is a plain copy. Made on first use; a screen uses few
  // distinct pairs. Forgotten when the colour map or the font size changes.
  SDL_Surface* cellImage(uint8_t byte, uint8_t attr) {
    const uint16_t key = static_cast<uint16_t>(byte << 8 | attr);
    if (auto found = cells_.find(key); found != cells_.end()) return found->second;
    SDL_Surface* cell = glyphBox(font_, byte, attr & 15, attr >> 4, font_.advance, font_.lineSkip);
    if (cell) cells_.emplace(key, cell);
    return cell;
  }

  // A box of the given size filled with the background colour, the glyph
  // of `byte` in `font` drawn on it in the foreground colour, centred (a
  // cell's glyph fills its box exactly). Null when no surface can be made.
  SDL_Surface* glyphBox(const CellFont& font, uint8_t byte, int fgIndex, int bgIndex, int width, int height) {
    SDL_Surface* box = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, surface_->format->format);
    if (!box) return nullptr;
    SDL_FillRect(box, nullptr, mapped(bgIndex));
    const char32_t cp = shownCodePoint(byte);
    if (cp == U' ' || cp == 0xA0) return box;  // blanks and controls show nothing
    const Rgb fg = mappedColour(*grid_, fgIndex);
    const Rgb bg = mappedColour(*grid_, bgIndex);
    SDL_Surface* glyph = TTF_RenderGlyph32_Shaded(font.ttf, static_cast<Uint32>(cp), SDL_Color{fg.r, fg.g, fg.b, 255},
                                                  SDL_Color{bg.r, bg.g, bg.b, 255});
    if (glyph) {
      SDL_Rect at{(width - font.advance) / 2, (height - font.lineSkip) / 2, glyph->w, glyph->h};
      SDL_BlitSurface(glyph, nullptr, box, &at);
      SDL_FreeSurface(glyph);
    }
    return box;
  }

  // Puts an image made by glyphBox on the window's surface with its top left
  // corner at (x, y), within the surface's clip rectangle. Both are in the
  // same format and the image is opaque, so each pixel row is one plain
  // memcpy: SDL's own copy streams rows this short past the cache, which made
  // a full redraw at 3840 x 2160 three times slower.
  void copyImage(SDL_Surface* image, int x, int y) {
    SDL_Rect clip;
    SDL_GetClipRect(surface_, &clip);
    const SDL_Rect wanted{x, y, image->w, image->h};
    SDL_Rect area;
    if (!SDL_IntersectRect(&wanted, &clip, &area)) return;
    if (SDL_MUSTLOCK(surface_) && SDL_LockSurface(surface_) != 0) return;
    const int bytes = surface_->format->BytesPerPixel;
    const auto* from = static_cast<const uint8_t*>(image->pixels) + static_cast<size_t>(area.y - y) * image->pitch +
                       static_cast<size_t>(area.x - x) * bytes;
    auto* to = static_cast<uint8_t*>(surface_->pixels) + static_cast<size_t>(area.y) * surface_->pitch +
               static_cast<size_t>(area.x) * bytes;
    for (int row = 0; row < area.h; ++row)
      std::memcpy(to + static_cast<size_t>(row) * surface_->pitch, from + static_cast<size_t>(row) * image->pitch,
                  static_cast<size_t>(area.w) * bytes);
    if (SDL_MUSTLOCK(surface_)) SDL_UnlockSurface(surface_);
  }

  template <class Map>
  static void freeSurfaces(Map& images) {
    for (auto& entry : images) SDL_FreeSurface(entry.second);
    images.clear();
  }

  void forgetCellImages() { freeSurfaces(cells_); }

  void drawRun(int row, int colBegin, int colEnd, uint8_t attr) {
    const int y = originY_ + row * font_.lineSkip;
    for (int col = colBegin; col < colEnd; ++col) {
      const size_t i = static_cast<size_t>(row) * CellGrid::kColumns + col;
      shadowChars_[i] = grid_->chars[i];
      shadowAttrs_[i] = attr;
      shadowValid_[i] = true;
      SDL_Rect at{originX_ + col * font_.advance, y, font_.advance, font_.lineSkip};
      if (SDL_Surface* cell = cellImage(grid_->chars[i], attr))
        copyImage(cell, at.x, at.y);
      else
        SDL_FillRect(surface_, &at, mapped(attr >> 4));
    }
  }

  // The caret: the cell under the cursor in its colours swapped, a block
  // that is found at a glance and still shows its character.
  void drawCaret(std::vector<SDL_Rect>* changed) {
    const int col = std::min(caretCol_, CellGrid::kColumns - 1);
    const int row = std::clamp(caretRow_, 0, CellGrid::kRows - 1);
    uint8_t attr = grid_->attrAt(col, row);
    attr = static_cast<uint8_t>((attr << 4) | (attr >> 4));
    SDL_Rect at{originX_ + col * font_.advance, originY_ + row * font_.lineSkip, font_.advance, font_.lineSkip};
    if (SDL_Surface* cell = cellImage(grid_->charAt(col, row), attr)) copyImage(cell, at.x, at.y);
    caretDrawn_ = true;
    caretDrawnCol_ = col;
    caretDrawnRow_ = row;
    if (changed) changed->push_back(at);
  }

  // The band's font: the cell font at the band's factor.
  bool fitBandFont(int factor) {
    if (bandFont_.ttf && bandFactor_ == factor && bandCellPoints_ == font_.points) return true;
    if (!bandFont_.ttf) {
      bandFont_.ttf = TTF_OpenFont(fontPath_.c_str(), font_.points);
      if (!bandFont_.ttf) return false;
      if (syntheticBold_) TTF_SetFontStyle(bandFont_.ttf, TTF_STYLE_BOLD);
      TTF_SetFontKerning(bandFont_.ttf, 0);
    }
    forgetBandImages();
    bandFactor_ = factor;
    bandCellPoints_ = font_.points;
    return bandFont_.fitCell(factor * font_.advance, factor * font_.lineSkip);
  }

  // One character of the band in its box, background filled, glyph centred.
  SDL_Surface* bandImage(uint8_t byte, int fgIndex, int bgIndex, int boxWidth, int boxHeight) {
    const uint32_t key = static_cast<uint32_t>(byte) << 8 | static_cast<uint32_t>(fgIndex & 15) << 4 |
                         static_cast<uint32_t>(bgIndex & 15);
    if (auto found = bandImages_.find(key); found != bandImages_.end()) return found->second;
    SDL_Surface* box = glyphBox(bandFont_, byte, fgIndex, bgIndex, boxWidth, boxHeight);
    if (box) bandImages_.emplace(key, box);
    return box;
  }

  void forgetBandImages() { freeSurfaces(bandImages_); }

  // Paints the band: only the characters that differ from what is drawn.
  void drawBand(std::vector<SDL_Rect>* changed) {
    const StripBand& b = *band_;
    if (b.row >= CellGrid::kRows || !fitBandFont(b.factor)) return;
    const int boxWidth = b.factor * font_.advance;
    const int rows = std::min(b.factor, CellGrid::kRows - b.row);
    const int boxHeight = b.factor * font_.lineSkip;
    const int y = originY_ + b.row * font_.lineSkip;
    const int visibleHeight = rows * font_.lineSkip;
    if (!bandDrawn_) {
      // A new band: its whole width in the background colour first (the
      // columns beyond the last box included).
      SDL_Rect all{originX_, y, gridWidth(), visibleHeight};
      SDL_FillRect(surface_, &all, mapped(b.backColour));
      if (changed) changed->push_back(all);
    }
    SDL_Rect clip{originX_, y, gridWidth(), visibleHeight};
    SDL_SetClipRect(surface_, &clip);
    const int count = std::min(static_cast<int>(b.text.size()), CellGrid::kColumns / b.factor);
    for (int i = 0; i < count; ++i) {
      const uint8_t byte = static_cast<uint8_t>(b.text[static_cast<size_t>(i)]);
      const int fg = i == b.marked ? b.cursorColour : b.textColour;
      if (bandDrawn_ && i < static_cast<int>(bandDrawn_->text.size()) &&
          static_cast<uint8_t>(bandDrawn_->text[static_cast<size_t>(i)]) == byte &&
          (i == bandDrawn_->marked ? bandDrawn_->cursorColour : bandDrawn_->textColour) == fg)
        continue;
      SDL_Rect at{originX_ + i * boxWidth, y, boxWidth, boxHeight};
      if (SDL_Surface* box = bandImage(byte, fg, b.backColour, boxWidth, boxHeight)) copyImage(box, at.x, at.y);
      if (changed) changed->push_back(SDL_Rect{at.x, y, boxWidth, visibleHeight});
    }
    SDL_SetClipRect(surface_, nullptr);
    bandDrawn_ = b;
  }

  void present() {
    lastPresent_ = Clock::now();
    dirty_ = false;
    if (!window_) return;
    changed_.clear();
    draw(&changed_);
    if (!surface_) return;
    if (fullUpdate_) {
      SDL_UpdateWindowSurface(window_);
      fullUpdate_ = false;
    } else if (!changed_.empty()) {
      SDL_UpdateWindowSurfaceRects(window_, changed_.data(), static_cast<int>(changed_.size()));
    }
  }

  bool translate(const SDL_Event& e, FrontendEvent& out) {
    out = FrontendEvent{};
    if (wakeEvent_ != static_cast<Uint32>(-1) && e.type == wakeEvent_) {
      wakePending_ = false;
      out.type = EventType::Wake;
      return true;
    }
    switch (e.type) {
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        // The text a key-down with Alt (not AltGr) makes is not typed; the
        // key-down stands for it. Decided per key-down, since the modifier
        // state at the time the text event is read may already be newer.
        if (e.type == SDL_KEYDOWN)
          suppressText_ = (e.key.keysym.mod & KMOD_ALT) && !(e.key.keysym.mod & KMOD_MODE) &&
                          !(e.key.keysym.mod & KMOD_CTRL);
        out.type = e.type == SDL_KEYDOWN ? EventType::KeyDown : EventType::KeyUp;
        out.key = mapKey(e.key.keysym.sym, e.key.keysym.mod);
        out.scancode = e.key.keysym.scancode;
        out.mods = mapMods(e.key.keysym.mod);
        out.repeat = e.key.repeat != 0;
        return true;
      case SDL_TEXTINPUT: {
        if (suppressText_) {
          suppressText_ = false;
          return false;
        }
        out.type = EventType::Text;
        out.text = e.text.text;
        return !out.text.empty();
      }
      case SDL_MOUSEBUTTONDOWN:
        out.type = EventType::MouseButton;
        if (e.button.button == SDL_BUTTON_LEFT) out.button = MouseButton::Left;
        else if (e.button.button == SDL_BUTTON_RIGHT) out.button = MouseButton::Right;
        else if (e.button.button == SDL_BUTTON_MIDDLE) out.button = MouseButton::Middle;
        else return false;
        return true;
      case SDL_MOUSEWHEEL:
        out.type = EventType::MouseWheel;
        out.wheel = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
        return true;
      case SDL_WINDOWEVENT:
        switch (e.window.event) {
          case SDL_WINDOWEVENT_FOCUS_GAINED:
            out.type = EventType::FocusGained;
            out.buttonsHeld = SDL_GetMouseState(nullptr, nullptr) != 0;
            dirty_ = true;  // the caret may appear
            return true;
          case SDL_WINDOWEVENT_FOCUS_LOST:
            out.type = EventType::FocusLost;
            dirty_ = true;
            return true;
          case SDL_WINDOWEVENT_CLOSE:
            out.type = EventType::Close;
            return true;
          case SDL_WINDOWEVENT_EXPOSED:
            // The picture is ours and still whole: it only has to be shown.
            fullUpdate_ = true;
            dirty_ = true;
            return false;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
          case SDL_WINDOWEVENT_RESTORED:
          case SDL_WINDOWEVENT_MAXIMIZED:
            // The next drawing fits the font to the new size.
            fullUpdate_ = true;
            dirty_ = true;
            return false;
          default:
            return false;
        }
      default:
        // SDL_QUIT follows the window's own close event; one is enough.
        return false;
    }
  }

  const CellGrid* grid_ = nullptr;
  bool videoInit_ = false, ttfInit_ = false;
  CellFont font_;
  std::string fontPath_;
  bool syntheticBold_ = false;
  SDL_Window* window_ = nullptr;
  SDL_Surface* surface_ = nullptr;  // the window's, valid until its size changes
  int layoutWidth_ = 0, layoutHeight_ = 0;
  int originX_ = 0, originY_ = 0;  // the grid's top left corner in the window
  bool dirty_ = false;
  bool fullUpdate_ = true;
  int pendingScrolls_ = 0;
  bool suppressText_ = false;
  // What the window shows.
  std::array<uint8_t, kCells> shadowChars_{};
  std::array<uint8_t, kCells> shadowAttrs_{};
  std::array<bool, kCells> shadowValid_{};
  std::array<uint8_t, 16> shadowMap_{};
  std::unordered_map<uint16_t, SDL_Surface*> cells_;
  std::vector<SDL_Rect> changed_;
  Clock::time_point lastPresent_{};
  bool caretShown_ = false;
  int caretCol_ = 0, caretRow_ = 0;
  bool caretDrawn_ = false;
  int caretDrawnCol_ = 0, caretDrawnRow_ = 0;
  // The magnified strip's band: wanted, and as drawn.
  std::optional<StripBand> band_;
  std::optional<StripBand> bandDrawn_;
  CellFont bandFont_;
  int bandFactor_ = 0, bandCellPoints_ = 0;
  std::unordered_map<uint32_t, SDL_Surface*> bandImages_;
  std::string notice_;
  Uint32 wakeEvent_ = static_cast<Uint32>(-1);
  std::atomic<bool> wakePending_{false};
  std::shared_ptr<PcmQueueSource> bell_;
};

}  // namespace

std::unique_ptr<Frontend> makeSdlFrontend() { return std::make_unique<SdlFrontend>(); }

}  // namespace platform
