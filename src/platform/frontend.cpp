#include "platform/frontend.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"

namespace platform {

KeyId keyLetter(char upperCaseLetter) {
  if (upperCaseLetter < 'A' || upperCaseLetter > 'Z') return KeyId::Unknown;
  return static_cast<KeyId>(static_cast<int>(KeyId::A) + (upperCaseLetter - 'A'));
}

KeyId keyDigit(int digit) {
  if (digit < 0 || digit > 9) return KeyId::Unknown;
  return static_cast<KeyId>(static_cast<int>(KeyId::Digit0) + digit);
}

KeyId keyFunction(int n) {
  if (n < 1 || n > 12) return KeyId::Unknown;
  return static_cast<KeyId>(static_cast<int>(KeyId::F1) + n - 1);
}

bool isLetterKey(KeyId key) { return key >= KeyId::A && key <= KeyId::Z; }
bool isDigitKey(KeyId key) { return key >= KeyId::Digit0 && key <= KeyId::Digit9; }

int letterIndex(KeyId key) {
  return isLetterKey(key) ? static_cast<int>(key) - static_cast<int>(KeyId::A) : -1;
}

int digitValue(KeyId key) {
  return isDigitKey(key) ? static_cast<int>(key) - static_cast<int>(KeyId::Digit0) : -1;
}

FrontendEvent keyDownEvent(KeyId key, uint8_t mods) {
  FrontendEvent e;
  e.type = EventType::KeyDown;
  e.key = key;
  e.mods = mods;
  return e;
}

FrontendEvent keyUpEvent(KeyId key, uint8_t mods) {
  FrontendEvent e = keyDownEvent(key, mods);
  e.type = EventType::KeyUp;
  return e;
}

FrontendEvent textEvent(std::string_view utf8) {
  FrontendEvent e;
  e.type = EventType::Text;
  e.text = std::string(utf8);
  return e;
}

const std::array<Rgb, 16> kPalette = {{
    {0, 0, 0},
    {0, 0, 255},
    {0, 255, 0},
    {0, 255, 255},
    {255, 0, 0},
    {142, 0, 142},
    {68, 34, 34},
    {192, 192, 192},
    // Dark grey: the background of selected text, so it must stand out from
    // black for a user with low vision (an almost black 40, 40, 40 did not).
    {100, 100, 100},
    {128, 128, 255},
    {128, 255, 128},
    {128, 255, 255},
    {255, 128, 128},
    {255, 128, 255},
    {255, 255, 0},
    {255, 255, 255},
}};

Rgb mappedColour(const CellGrid& grid, int colourIndex) {
  const uint8_t mapped = grid.colourMap[colourIndex & 15];
  if (mapped > 15) return Rgb{0, 0, 0};
  return kPalette[mapped];
}

int terminalColour(const CellGrid& grid, int colourIndex) {
  // The palette follows the PC's colour order (blue is bit 0, red bit 2);
  // SGR's order has red at bit 0 and blue at bit 2.
  static constexpr uint8_t kPaletteToSgr[16] = {0, 4, 2, 6, 1, 5, 3, 7, 8, 12, 10, 14, 9, 13, 11, 15};
  const uint8_t mapped = grid.colourMap[colourIndex & 15];
  return mapped > 15 ? 0 : kPaletteToSgr[mapped];
}

char32_t shownCodePoint(uint8_t byte) {
  const char32_t cp = cp1252ToCodePoint(byte);
  // Control characters never reach a terminal or a dump file.
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return U' ';
  return cp;
}

std::string gridToUtf8(const CellGrid& grid, const StripBand* band) {
  std::string out;
  out.reserve(CellGrid::kRows * (CellGrid::kColumns + 1));
  const int bandEnd = band ? std::min(band->row + std::max(band->factor, 1), CellGrid::kRows) : -1;
  for (int row = 0; row < CellGrid::kRows; ++row) {
    const bool underBand = band && row >= band->row && row < bandEnd;
    for (int col = 0; col < CellGrid::kColumns; ++col) {
      uint8_t c = grid.charAt(col, row);
      if (underBand) {
        c = ' ';
        if (row == band->row && col < static_cast<int>(band->text.size()))
          c = static_cast<uint8_t>(band->text[static_cast<size_t>(col)]);
      }
      appendUtf8(out, shownCodePoint(c));
    }
    out += '\n';
  }
  return out;
}

namespace {

bool displayAvailable() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

}  // namespace

std::unique_ptr<Frontend> chooseFrontend() {
  const char* choice = std::getenv("ONDARIA_FRONTEND");
  const std::string_view name = choice ? choice : "";
  // The key script comes from standard input when that is a file or a pipe; a
  // terminal there (a test started by hand) gives no script.
  if (name == "headless")
    return std::make_unique<HeadlessFrontend>(isatty(STDIN_FILENO) ? -1 : STDIN_FILENO);
  if (name == "tty") return makeTerminalFrontend(STDIN_FILENO, STDOUT_FILENO);
  if (name == "sdl" || displayAvailable()) return makeSdlFrontend();
  return makeTerminalFrontend(STDIN_FILENO, STDOUT_FILENO);
}

std::unique_ptr<Frontend> openFrontend(const CellGrid& grid, const FrontendOptions& options) {
  std::unique_ptr<Frontend> frontend = chooseFrontend();
  if (frontend->open(grid, options)) return frontend;
  // No window could be made (no display, SDL failed): the terminal still works,
  // even on a pipe.
  frontend = makeTerminalFrontend(STDIN_FILENO, STDOUT_FILENO);
  frontend->open(grid, options);
  return frontend;
}

WakePipe::WakePipe() {
  if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
}

WakePipe::~WakePipe() {
  if (fds_[0] >= 0) ::close(fds_[0]);
  if (fds_[1] >= 0) ::close(fds_[1]);
}

void WakePipe::signal() {
  if (fds_[1] < 0) return;
  const char byte = 1;
  // A full pipe already wakes the reader; the write may then fail harmlessly.
  ssize_t ignored = ::write(fds_[1], &byte, 1);
  (void)ignored;
}

bool WakePipe::drain() {
  if (fds_[0] < 0) return false;
  bool any = false;
  char buffer[64];
  for (;;) {
    const ssize_t n = ::read(fds_[0], buffer, sizeof buffer);
    if (n > 0) {
      any = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  return any;
}

}  // namespace platform
