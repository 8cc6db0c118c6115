// The window front-end: SDL2 for the window and events, SDL2_ttf for the text.
//
// The grid is drawn into a canvas surface of exactly 80 x 25 cells, row by
// row in runs of equal attribute. Each cell is copied from a cache of cell
// images (background in the mapped background colour, glyph rendered on it in
// the mapped foreground colour), so a cell costs one plain copy; rendering
// text run by run cost several times more (see bench/console_bench.cpp).
// Drawing is lazy: changes only mark the grid dirty, and before presenting,
// the cells that differ from a copy of what the canvas shows are redrawn
// (after moving the canvas up by the rows scrolled meanwhile). Writing
// thousands of lines therefore costs a few redraws, not one per line.
// Presenting copies the canvas into the window and adds the caret. The
// window can be made smaller than the grid (the rest is cut off), never larger.
#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unordered_map>

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

class SdlFrontend : public Frontend {
 public:
  ~SdlFrontend() override { close(); }

  const char* name() const override { return "sdl"; }

  bool open(const CellGrid& grid, const FrontendOptions& options) override {
    grid_ = &grid;
    // SDL's own SIGINT/SIGTERM handlers would turn a kill into a close
    // request that the program may ignore.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
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
    const int width = CellGrid::kColumns * cellWidth_;
    const int height = CellGrid::kRows * cellHeight_;
    Uint32 flags = SDL_WINDOW_RESIZABLE;
    if (options.startMaximized) flags |= SDL_WINDOW_MAXIMIZED;
    window_ = SDL_CreateWindow(cp1252ToUtf8(options.title).c_str(), SDL_WINDOWPOS_UNDEFINED,
                               SDL_WINDOWPOS_UNDEFINED, width, height, flags);
    if (!window_) {
      close();
      return false;
    }
    SDL_SetWindowMinimumSize(window_, 16 * cellWidth_, 4 * cellHeight_);
    SDL_SetWindowMaximumSize(window_, width, height);
    canvas_ = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_XRGB8888);
    if (!canvas_) {
      close();
      return false;
    }
    SDL_StartTextInput();
    repaintAll();
    present();
    return true;
  }

  void close() override {
    if (bell_) audioRemoveSource(bell_.get());
    bell_.reset();
    forgetCellImages();
    if (canvas_) SDL_FreeSurface(canvas_);
    canvas_ = nullptr;
    if (window_) {
      SDL_StopTextInput();
      SDL_DestroyWindow(window_);
    }
    window_ = nullptr;
    if (font_) TTF_CloseFont(font_);
    font_ = nullptr;
    if (ttfInit_) TTF_Quit();
    ttfInit_ = false;
    if (videoInit_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    videoInit_ = false;
  }

  void cellsChanged(int, int, int) override { dirty_ = true; }

  void scrolled(bool) override {
    // Moving the canvas is always exact here (it is our own surface), so the
    // pixel copy is used whichever way the settings ask for.
    ++pendingScrolls_;
    dirty_ = true;
  }

  void repaintAll() override {
    shadowValid_.fill(false);
    pendingScrolls_ = 0;
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

  bool readPixel(int x, int y, Rgb& colour) override {
    render();
    if (!canvas_ || x < 0 || y < 0 || x >= canvas_->w || y >= canvas_->h) return false;
    if (SDL_LockSurface(canvas_) != 0) return false;
    const auto* row = static_cast<const uint8_t*>(canvas_->pixels) + static_cast<size_t>(y) * canvas_->pitch;
    Uint32 pixel;
    memcpy(&pixel, row + static_cast<size_t>(x) * 4, 4);
    SDL_UnlockSurface(canvas_);
    SDL_GetRGB(pixel, canvas_->format, &colour.r, &colour.g, &colour.b);
    return true;
  }

  int cellWidth() const override { return cellWidth_; }
  int cellHeight() const override { return cellHeight_; }

 private:
  int defaultCellHeight() const {
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0 || usable.h <= 0) return kFallbackCellHeight;
    // The system's rule: 28 pixels on a 734-pixel-high work area, scaled.
    int h = static_cast<int>(usable.h / 734.0 * 28.0);
    // The 25 rows and a title bar of about one row must fit on the screen.
    h = std::min(h, usable.h / 26);
    return std::max(h, 8);
  }

  TTF_Font* openAt(const std::string& path, int pt) { return TTF_OpenFont(path.c_str(), pt); }

  bool openFont(const FrontendOptions& options) {
    const bool bold = options.fontWeight >= kBoldWeight;
    bool gotBold = false;
    std::string path = findFontFile(options.fontFace, bold, gotBold);
    const int target = options.fontHeight > 0 ? options.fontHeight : defaultCellHeight();
    // DejaVu Sans Mono's line skip is about 1.17 times its point size.
    int pt = std::max(4, target * 100 / 117);
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (path.empty()) {
        path = bold ? kDefaultBoldFont : kDefaultFont;
        gotBold = bold;
      }
      font_ = openAt(path, pt);
      if (font_ && TTF_FontFaceIsFixedWidth(font_)) break;
      // A proportional face would break the grid: use the default one.
      if (font_) TTF_CloseFont(font_);
      font_ = nullptr;
      if (path == kDefaultFont || path == kDefaultBoldFont) return false;
      path.clear();
    }
    if (!font_) return false;
    // Largest size whose line fits the wanted cell height.
    while (TTF_FontLineSkip(font_) > target && pt > 4) {
      TTF_CloseFont(font_);
      font_ = openAt(path, --pt);
      if (!font_) return false;
    }
    for (;;) {
      TTF_Font* bigger = openAt(path, pt + 1);
      if (!bigger || TTF_FontLineSkip(bigger) > target) {
        if (bigger) TTF_CloseFont(bigger);
        break;
      }
      TTF_CloseFont(font_);
      font_ = bigger;
      ++pt;
    }
    if (bold && !gotBold) TTF_SetFontStyle(font_, TTF_STYLE_BOLD);
    TTF_SetFontKerning(font_, 0);
    int advance = 0;
    if (TTF_GlyphMetrics(font_, 'M', nullptr, nullptr, nullptr, nullptr, &advance) != 0 || advance <= 0)
      return false;
    cellWidth_ = advance;
    cellHeight_ = TTF_FontLineSkip(font_);
    baseline_ = TTF_FontAscent(font_);
    return cellWidth_ > 0 && cellHeight_ > 0;
  }

  Uint32 mapped(int colourIndex) const {
    const Rgb c = mappedColour(*grid_, colourIndex);
    return SDL_MapRGB(canvas_->format, c.r, c.g, c.b);
  }

  // Brings the canvas up to date with the grid.
  void render() {
    if (!canvas_ || !grid_) return;
    if (grid_->colourMap != shadowMap_) {
      shadowMap_ = grid_->colourMap;
      forgetCellImages();
      shadowValid_.fill(false);
      pendingScrolls_ = 0;
    }
    if (pendingScrolls_ > 0) {
      scrollCanvas(std::min(pendingScrolls_, CellGrid::kRows));
      pendingScrolls_ = 0;
    }
    for (int row = 0; row < CellGrid::kRows; ++row) {
      int first = -1, last = -1;
      for (int col = 0; col < CellGrid::kColumns; ++col) {
        const int i = row * CellGrid::kColumns + col;
        if (!shadowValid_[i] || shadowChars_[i] != grid_->chars[i] || shadowAttrs_[i] != grid_->attrs[i]) {
          if (first < 0) first = col;
          last = col;
        }
      }
      if (first >= 0) drawRow(row, first, last + 1);
    }
  }

  // The canvas and its copy of the grid move up by `rows` rows.
  void scrollCanvas(int rows) {
    constexpr int kCells = CellGrid::kColumns * CellGrid::kRows;
    const int shift = rows * CellGrid::kColumns;
    std::move(shadowChars_.begin() + shift, shadowChars_.end(), shadowChars_.begin());
    std::move(shadowAttrs_.begin() + shift, shadowAttrs_.end(), shadowAttrs_.begin());
    std::move(shadowValid_.begin() + shift, shadowValid_.end(), shadowValid_.begin());
    std::fill(shadowValid_.begin() + (kCells - shift), shadowValid_.end(), false);
    if (rows >= CellGrid::kRows || SDL_LockSurface(canvas_) != 0) {
      shadowValid_.fill(false);
      return;
    }
    auto* pixels = static_cast<uint8_t*>(canvas_->pixels);
    const size_t band = static_cast<size_t>(canvas_->pitch) * cellHeight_ * rows;
    memmove(pixels, pixels + band, static_cast<size_t>(canvas_->pitch) * canvas_->h - band);
    SDL_UnlockSurface(canvas_);
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
  // and the glyph rendered on it, in the canvas's own pixel format, so that
  // drawing a cell is a plain copy. Made on first use; a screen uses few
  // distinct pairs. Forgotten when the colour map changes.
  SDL_Surface* cellImage(uint8_t byte, uint8_t attr) {
    const uint16_t key = static_cast<uint16_t>(byte << 8 | attr);
    auto found = cells_.find(key);
    if (found != cells_.end()) return found->second;
    SDL_Surface* cell = SDL_CreateRGBSurfaceWithFormat(0, cellWidth_, cellHeight_, 32, canvas_->format->format);
    if (!cell) return nullptr;
    SDL_FillRect(cell, nullptr, mapped(attr >> 4));
    const char32_t cp = cp1252ToCodePoint(byte);
    if (!(cp <= 0x20 || (cp >= 0x7F && cp <= 0xA0))) {  // blanks and controls show nothing
      std::string utf8;
      appendUtf8(utf8, cp);
      const Rgb fg = mappedColour(*grid_, attr & 15);
      const Rgb bg = mappedColour(*grid_, attr >> 4);
      SDL_Surface* glyph = TTF_RenderUTF8_Shaded(font_, utf8.c_str(), SDL_Color{fg.r, fg.g, fg.b, 255},
                                                 SDL_Color{bg.r, bg.g, bg.b, 255});
      if (glyph) {
        SDL_Rect at{0, 0, glyph->w, glyph->h};
        SDL_BlitSurface(glyph, nullptr, cell, &at);
        SDL_FreeSurface(glyph);
      }
    }
    cells_.emplace(key, cell);
    return cell;
  }

  void forgetCellImages() {
    for (auto& entry : cells_) SDL_FreeSurface(entry.second);
    cells_.clear();
  }

  void drawRun(int row, int colBegin, int colEnd, uint8_t attr) {
    const int y = row * cellHeight_;
    for (int col = colBegin; col < colEnd; ++col) {
      const int i = row * CellGrid::kColumns + col;
      shadowChars_[i] = grid_->chars[i];
      shadowAttrs_[i] = attr;
      shadowValid_[i] = true;
      SDL_Rect at{col * cellWidth_, y, cellWidth_, cellHeight_};
      if (SDL_Surface* cell = cellImage(grid_->chars[i], attr))
        SDL_BlitSurface(cell, nullptr, canvas_, &at);
      else
        SDL_FillRect(canvas_, &at, mapped(attr >> 4));
    }
  }

  void present() {
    lastPresent_ = Clock::now();
    dirty_ = false;
    render();
    if (!window_ || !canvas_) return;
    SDL_Surface* target = SDL_GetWindowSurface(window_);
    if (!target) return;
    SDL_FillRect(target, nullptr, SDL_MapRGB(target->format, 0, 0, 0));
    SDL_BlitSurface(canvas_, nullptr, target, nullptr);
    const bool focused = (SDL_GetWindowFlags(window_) & SDL_WINDOW_INPUT_FOCUS) != 0;
    if (caretShown_ && focused) {
      // A solid bar one cell wide and 2 pixels high at the text's baseline.
      const int col = std::min(caretCol_, CellGrid::kColumns - 1);
      const Rgb c = mappedColour(*grid_, grid_->attrAt(col, caretRow_) & 15);
      SDL_Rect bar{col * cellWidth_, caretRow_ * cellHeight_ + std::min(baseline_, cellHeight_ - 2),
                   cellWidth_, 2};
      SDL_FillRect(target, &bar, SDL_MapRGB(target->format, c.r, c.g, c.b));
    }
    SDL_UpdateWindowSurface(window_);
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
          case SDL_WINDOWEVENT_SIZE_CHANGED:
          case SDL_WINDOWEVENT_RESTORED:
          case SDL_WINDOWEVENT_MAXIMIZED:
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
  TTF_Font* font_ = nullptr;
  SDL_Window* window_ = nullptr;
  SDL_Surface* canvas_ = nullptr;
  int cellWidth_ = 0, cellHeight_ = 0, baseline_ = 0;
  bool dirty_ = false;
  int pendingScrolls_ = 0;
  bool suppressText_ = false;
  // What the canvas shows.
  std::array<uint8_t, CellGrid::kColumns * CellGrid::kRows> shadowChars_{};
  std::array<uint8_t, CellGrid::kColumns * CellGrid::kRows> shadowAttrs_{};
  std::array<bool, CellGrid::kColumns * CellGrid::kRows> shadowValid_{};
  std::array<uint8_t, 16> shadowMap_{};
  std::unordered_map<uint16_t, SDL_Surface*> cells_;
  Clock::time_point lastPresent_{};
  bool caretShown_ = false;
  int caretCol_ = 0, caretRow_ = 0;
  Uint32 wakeEvent_ = static_cast<Uint32>(-1);
  std::atomic<bool> wakePending_{false};
  std::shared_ptr<PcmQueueSource> bell_;
};

}  // namespace

std::unique_ptr<Frontend> makeSdlFrontend() { return std::make_unique<SdlFrontend>(); }

}  // namespace platform
