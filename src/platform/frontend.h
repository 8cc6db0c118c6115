// The console's front-ends: where the 80 x 25 cell grid is shown and where
// keyboard, mouse and window events come from.
//
// Three front-ends share this interface:
//   - the window (SDL2 + SDL2_ttf), frontend_sdl.cpp;
//   - the terminal (ANSI escape sequences on a raw tty), frontend_terminal.cpp,
//     for SSH sessions and text consoles;
//   - the headless front-end (events scripted, grid read back), for tests and
//     whole-program runs, frontend_headless.cpp.
// `chooseFrontend` picks one from the environment variable ONDARIA_FRONTEND
// ("sdl", "tty", "headless"; unset: the window when a display is available,
// else the terminal).
//
// Events are in our own terms (no SDL types): key down/up with a key identifier,
// a positional scancode and modifiers, text input as UTF-8, mouse buttons and
// wheel, focus, close and wake. The translation of keys into key bytes happens
// in the console, not here.
//
// Threads: every member function runs on the program's main thread, except
// `wake`, which any thread may call while the front-end is open.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Key identifiers. Letters and digits are contiguous so that `KeyId::A + n`
// style arithmetic (through keyLetter/keyDigit) works.
enum class KeyId : uint8_t {
  Unknown = 0,
  A, B, C, D, E, F, G, H, I, J, K, L, M, N, O, P, Q, R, S, T, U, V, W, X, Y, Z,
  Digit0, Digit1, Digit2, Digit3, Digit4, Digit5, Digit6, Digit7, Digit8, Digit9,
  F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
  Up, Down, Left, Right, Home, End, PageUp, PageDown, Insert, Delete,
  Enter, Escape, Backspace, Tab, Space,
  Pause,  // Pause/Break; with Ctrl it is the break key
  Shift, Control, Alt,  // the modifier keys themselves
  Other,  // any other key (punctuation, keypad operators, ...)
  Backslash,  // the key that types "\" (Ctrl with it makes the byte 28)
};

KeyId keyLetter(char upperCaseLetter);  // 'A'..'Z'
KeyId keyDigit(int digit);              // 0..9
bool isLetterKey(KeyId key);
bool isDigitKey(KeyId key);
int letterIndex(KeyId key);  // 0 for A … 25 for Z; -1 otherwise
int digitValue(KeyId key);   // 0…9; -1 otherwise
KeyId keyFunction(int n);    // F1..F12 for n = 1..12

// Modifier bits.
constexpr uint8_t kModShift = 1;
constexpr uint8_t kModCtrl = 2;
constexpr uint8_t kModAlt = 4;

enum class EventType : uint8_t {
  KeyDown,
  KeyUp,
  Text,         // `text`: UTF-8 characters typed (printable only)
  MouseButton,  // `button` pressed
  MouseWheel,   // `wheel` steps, > 0 turned away from the user
  FocusGained,  // `buttonsHeld`: a mouse button was down when focus arrived
  FocusLost,
  Close,  // the user asked to close the window
  Wake,   // `wake` was called; carries nothing
  Paste,  // `text`: UTF-8 text the user pasted into the terminal (bracketed
          // paste), line ends included, delivered whole
};

enum class MouseButton : uint8_t { None, Left, Right, Middle };

struct FrontendEvent {
  EventType type = EventType::Wake;
  KeyId key = KeyId::Unknown;
  int scancode = 0;  // positional key code (USB HID usage, as SDL reports it); 0 unknown
  uint8_t mods = 0;  // kMod* bits held with the key
  bool repeat = false;
  std::string text;
  MouseButton button = MouseButton::None;
  int wheel = 0;
  bool buttonsHeld = false;
};

FrontendEvent keyDownEvent(KeyId key, uint8_t mods = 0);
FrontendEvent keyUpEvent(KeyId key, uint8_t mods = 0);
FrontendEvent textEvent(std::string_view utf8);

// The grid the console owns and the front-end shows. Attribute: low nibble
// foreground colour index, high nibble background index; an index goes through
// colourMap, then the palette; a mapped value above 15 draws black.
struct CellGrid {
  static constexpr int kColumns = 80;
  static constexpr int kRows = 25;
  std::array<uint8_t, kColumns * kRows> chars{};
  std::array<uint8_t, kColumns * kRows> attrs{};
  std::array<uint8_t, 16> colourMap{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

  uint8_t charAt(int col, int row) const { return chars[row * kColumns + col]; }
  uint8_t attrAt(int col, int row) const { return attrs[row * kColumns + col]; }
};

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// The fixed 16-entry palette.
extern const std::array<Rgb, 16> kPalette;

// Colour drawn for a colour index (0…15) through the grid's colour map.
Rgb mappedColour(const CellGrid& grid, int colourIndex);

// The terminal colour (0…7 the standard colours, 8…15 their bright forms, in
// SGR order) that stands for a colour index through the grid's colour map.
// Each palette entry has a colour of its own, by role rather than by nearest
// RGB, so that the dark brown, dark grey, light green and light red entries
// (6, 8, 10, 12) stay apart on any terminal; a mapped value above 15 is black.
int terminalColour(const CellGrid& grid, int colourIndex);

// The magnified strip's band, painted over the grid: `factor` rows from the
// 0-based grid row `row` (the rows below the grid's end are not drawn), each
// character of `text` (cp1252) `factor` cells wide and `factor` rows high, on
// `backColour`, in `textColour`, except the character at the 0-based index
// `marked` (-1: none), which is in `cursorColour`. Colours are indexes drawn
// through the grid's colour map.
struct StripBand {
  int row = 0;
  int factor = 0;
  std::string text;
  int marked = -1;
  uint8_t textColour = 14;
  uint8_t backColour = 6;
  uint8_t cursorColour = 3;
  bool operator==(const StripBand&) const = default;
};

// The visible character of a cp1252 byte as Unicode: control characters and
// the code page's holes are blanks, as the grid draws them.
char32_t shownCodePoint(uint8_t byte);

struct FrontendOptions {
  std::string fontFace;  // face name from the settings; empty = default
  int fontHeight = 0;    // cell height in pixels; 0 = front-end's choice
  int fontWidth = 0;     // cell width in pixels; 0 = the font's own
  int fontWeight = 700;  // 400 normal, 700 bold
  bool startMaximized = false;
  std::string title;  // cp1252
};

class Frontend {
 public:
  virtual ~Frontend() = default;

  virtual const char* name() const = 0;

  // Shows `grid` (which outlives the front-end). Returns false when the output
  // cannot be opened (no display); the front-end is then unusable.
  virtual bool open(const CellGrid& grid, const FrontendOptions& options) = 0;
  // Closes the output and gives the terminal or display back. Idempotent.
  virtual void close() = 0;

  // Columns [colBegin, colEnd) of a 0-based row changed.
  virtual void cellsChanged(int row, int colBegin, int colEnd) = 0;
  // The grid moved up one row and its last row is new. `byCopy`: move the
  // pixels rather than repainting everything (same result, cheaper).
  virtual void scrolled(bool byCopy) = 0;
  // Everything changed (clear screen, colour map). Like any repaint of the
  // window it also removes the magnified strip's band.
  virtual void repaintAll() = 0;
  // Paints the magnified strip's band over the grid until hideStrip or a
  // repaint; a new band replaces the old one.
  virtual void showStrip(const StripBand& band) = 0;
  // The band's rows show the grid again.
  virtual void hideStrip() = 0;
  // Makes the changes visible. A front-end may defer this for a few
  // milliseconds; `nextEvent` always shows what is pending first.
  virtual void flush() = 0;

  // The console starts (true) or ends (false) waiting for a key with the
  // cursor at 0-based col/row; col may be 80 (just past the last column).
  // The window shows its caret while it has the focus.
  virtual void keyWait(bool waiting, int col, int row) = 0;

  virtual void setTitle(std::string_view cp1252) = 0;
  virtual void bell() = 0;

  // Next event, waiting up to timeoutMs (0: do not wait; negative: no limit).
  // False when none arrived.
  virtual bool nextEvent(FrontendEvent& event, int timeoutMs) = 0;
  // Any thread: makes a waiting `nextEvent` return (with a Wake event).
  virtual void wake() = 0;
  // True when no key can ever arrive again (script ended, terminal gone).
  virtual bool inputExhausted() { return false; }
  // Scripted input: the console takes further events only while its key
  // queue has room, so that nothing a script types is dropped. A person's
  // keys are taken at once and dropped when the queue is full.
  virtual bool pacedInput() const { return false; }

  // True when key releases are reported (KeyUp events); chord typing needs
  // them. A terminal only reports presses.
  virtual bool seesKeyReleases() const { return true; }

  // Clipboard in UTF-8. `clipboardText` gives nullopt when the clipboard
  // cannot be read and an empty text when it holds no text.
  virtual bool setClipboardText(std::string_view utf8) = 0;
  virtual std::optional<std::string> clipboardText() = 0;

  // A message for the user that the front-end cannot say itself (the font
  // had to be made smaller than the settings ask, the terminal is too small
  // for the grid); cp1252; empty when there is none. Each is given once.
  virtual std::string takeNotice() { return {}; }

  // Colour of a pixel of the rendered grid, for tests of the window; false
  // for front-ends without pixels or outside the grid.
  virtual bool readPixel(int x, int y, Rgb& colour) { return false; }
  // Cell size in pixels (0 for front-ends without pixels).
  virtual int cellWidth() const { return 0; }
  virtual int cellHeight() const { return 0; }
};

std::unique_ptr<Frontend> makeSdlFrontend();
// The terminal front-end on the given descriptors (normally 0 and 1).
std::unique_ptr<Frontend> makeTerminalFrontend(int inputFd = 0, int outputFd = 1);

// Whole-program key scripts for the headless front-end. One command a line;
// blank lines and lines starting with "#" are skipped:
//   text ANY TEXT       types the UTF-8 text after the first blank, as is
//   key SPEC            presses and releases one key; SPEC is a key name with
//                       optional modifiers joined by "+": ctrl+Up, alt+x,
//                       shift+Insert, ctrl+alt+F11. Names (any case): a…z,
//                       0…9, F1…F12, Up, Down, Left, Right, Home, End, PgUp
//                       (PageUp), PgDn (PageDown), Ins (Insert), Del (Delete),
//                       Enter, Esc (Escape), Backspace (BS), Tab, Space,
//                       Break (Pause), Backslash. A letter, digit or Space without Ctrl or
//                       Alt also types its character, as a keyboard does.
//   down SPEC           presses a key and holds it (a letter or Space also
//                       types its character); up SPEC releases it. Keys
//                       pressed together make a braille chord: "down f",
//                       "down d", "up f", "up d" types "b" in chord mode. The
//                       first "down" waits like a key, the lines up to the
//                       last release follow at once
//   click BUTTON        a mouse button pressed: left, right or middle
//   wheel up|down       one step of the mouse wheel, away from or towards
//                       the user
//   focus [held]        the window gains the focus ("held": while a mouse
//                       button is down, as when a click brings it to the
//                       front); blur: it loses the focus
//   now                 the next key or text line is typed at once, even while
//                       the program is busy (to cut speech, or for a screen
//                       that polls for keys); without it each key or text
//                       line waits until the program waits for a key, one
//                       line per wait, as a person at the keyboard would
//   sleep MS            delivers nothing for MS milliseconds
//   wait TEXT           delivers nothing until TEXT (UTF-8) is on the screen,
//                       at most 10 seconds
//   close               the user closes the window
//   paste TEXT          the user pastes TEXT (UTF-8; "\n" stands for a line
//                       end), as a terminal delivers a bracketed paste
// When the script is used up and the program waits for a key, the front-end
// reports its input exhausted and the console ends the program as a window
// close would. When ONDARIA_SCREEN_DUMP names a file, the grid is written to it
// (UTF-8, 25 lines of 80 columns) every time the program starts waiting for a
// key; the file is replaced whole, never seen half written.
class HeadlessFrontend : public Frontend {
 public:
  // scriptFd: descriptor the script is read from, line by line, as the
  // program needs keys (-1: none, events come only from the calls below).
  explicit HeadlessFrontend(int scriptFd = -1);
  ~HeadlessFrontend() override;

  const char* name() const override { return "headless"; }
  bool open(const CellGrid& grid, const FrontendOptions& options) override;
  void close() override;
  void cellsChanged(int row, int colBegin, int colEnd) override {}
  void scrolled(bool byCopy) override { ++scrolls_; }
  void repaintAll() override { band_.reset(); }
  void showStrip(const StripBand& band) override { band_ = band; }
  void hideStrip() override { band_.reset(); }
  void flush() override {}
  void keyWait(bool waiting, int col, int row) override;
  void setTitle(std::string_view cp1252) override { title_ = std::string(cp1252); }
  void bell() override { ++bells_; }
  bool nextEvent(FrontendEvent& event, int timeoutMs) override;
  void wake() override;
  bool inputExhausted() override;
  bool pacedInput() const override { return true; }
  bool setClipboardText(std::string_view utf8) override;
  std::optional<std::string> clipboardText() override;

  // In-process input.
  void pushEvent(FrontendEvent event);
  // A key press and release; letters, digits and Space without Ctrl or Alt
  // also type their character.
  void pressKey(KeyId key, uint8_t mods = 0);
  // One text event per character.
  void typeText(std::string_view utf8);
  // Script lines (see above). Returns false and sets *error for a bad line;
  // the lines before it are kept.
  bool feedScript(std::string_view lines, std::string* error = nullptr);
  // Clipboard that cannot be opened (copy does nothing, paste gives nothing).
  void setClipboardAvailable(bool available) { clipboardAvailable_ = available; }

  // Read-back.
  // 25 lines of 80 columns, UTF-8, each ending "\n": the grid as shown, with
  // the magnified strip's band (while one is shown) over its rows: the
  // characters in view on its first row, blanks on the others.
  std::string screenText() const;
  const std::optional<StripBand>& strip() const { return band_; }
  const std::string& title() const { return title_; }
  int bells() const { return bells_; }
  int scrolls() const { return scrolls_; }
  bool waiting() const { return waiting_; }
  int pendingEvents() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  const CellGrid* grid_ = nullptr;
  std::string title_;
  int bells_ = 0;
  int scrolls_ = 0;
  bool waiting_ = false;
  bool clipboardAvailable_ = true;
  std::string clipboard_;
  std::optional<StripBand> band_;
};

// Parses a key SPEC of the script ("ctrl+Up"); false when unknown.
bool parseKeySpec(std::string_view spec, KeyId& key, uint8_t& mods);

// The grid as text: 25 lines of 80 columns in UTF-8, each ending "\n". Bytes
// that would be control characters on a terminal (127 and the cp1252 holes)
// are shown as blanks. With a band, its rows show the band's characters on
// its first row and blanks on the others.
std::string gridToUtf8(const CellGrid& grid, const StripBand* band = nullptr);

// ONDARIA_FRONTEND ("sdl", "tty", "headless"); unset or unknown: the window
// when DISPLAY or WAYLAND_DISPLAY is set, else the terminal. The headless
// front-end reads its key script from standard input unless that is a
// terminal. The result is
// not yet opened; when opening the window fails the caller falls back to
// the terminal (see `openFrontend`).
std::unique_ptr<Frontend> chooseFrontend();
// chooseFrontend + open, falling back to the terminal when the window cannot
// be opened. Never null.
std::unique_ptr<Frontend> openFrontend(const CellGrid& grid, const FrontendOptions& options);

// A self-pipe for front-ends that wait with poll(): `signal` from any thread
// (and from signal handlers) makes the read end readable; `drain` empties it.
class WakePipe {
 public:
  WakePipe();
  ~WakePipe();
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;
  int readFd() const { return fds_[0]; }
  void signal();
  // True when at least one signal was pending.
  bool drain();

 private:
  int fds_[2] = {-1, -1};
};

}  // namespace platform
