// The terminal front-end: the grid drawn with plain ANSI escape sequences, the
// keyboard read raw. For SSH sessions and text consoles.
//
// Output keeps a copy of what the terminal shows and rewrites only the cells
// of rows that differ from it. Colours are the 16 standard terminal colours,
// which every terminal (the Linux console included) has, one for each entry
// of the palette (terminalColour). The terminal's own cursor, a block, is
// shown at the console cursor while the program waits for a key, so that the
// terminal's screen reader follows it.
//
// The magnified strip's band is drawn in its rows with enlarged letters made
// of quadrant block characters (block_glyphs.h), so that it is really larger
// in any terminal; with factor 1, or without the font, it shows the plain
// characters in the strip's colours.
//
// A terminal smaller than the 80 x 25 grid cannot show it: the front-end then
// shows only what size is needed (and gives it as a notice to be spoken), and
// draws the grid again once the terminal is large enough.
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/block_glyphs.h"
#include "platform/codepage.h"
#include "platform/frontend.h"
#include "platform/terminal_keys.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Modes the front-end turns on when it opens and must turn off again however
// the program ends: on close, at exit, and on a signal that ends the process
// (a terminal left in the alternate screen, with its cursor hidden or with
// key or mouse reports on, is unusable to its user). Each entry is a pair of
// sequences, turned on in order and off in reverse order.
struct TerminalMode {
  const char* on;
  const char* off;
};
constexpr TerminalMode kTerminalModes[] = {
    {"\x1B[?1049h", "\x1B[?1049l"},  // alternate screen
    {"\x1B[?25l", "\x1B[?25h"},      // cursor hidden until a key is awaited
    {"\x1B[?2004h", "\x1B[?2004l"},  // bracketed paste: a paste arrives whole, not as keys
    {"\x1B[2 q", "\x1B[0 q"},        // a steady block cursor, easy to find
    {"\x1B[?1000h", "\x1B[?1000l"},  // mouse buttons and wheel reported (mouse keys)
    {"\x1B[?1006h", "\x1B[?1006l"},  // ... in the SGR form, for any window size
    {"\x1B[?1004h", "\x1B[?1004l"},  // focus in and out reported
};
// The Linux text console knows neither the alternate screen nor DECSCUSR
// (whose blank would end its parser early and print the "q"): a block
// cursor is its own "\e[?8c", and "\e[?0c" gives its default back. Its
// mouse (through gpm) reports in the X10 form only.
constexpr TerminalMode kLinuxConsoleModes[] = {
    {"\x1B[?25l", "\x1B[?25h"},
    {"\x1B[?8c", "\x1B[?0c"},
    {"\x1B[?1000h", "\x1B[?1000l"},
};

// A click that brings the terminal's window to the front is reported just
// after the focus report; a press this soon after one gained the focus.
constexpr auto kFocusClickWindow = std::chrono::milliseconds(150);

template <size_t N>
std::string modesOn(const TerminalMode (&modes)[N]) {
  std::string s;
  for (const TerminalMode& m : modes) s += m.on;
  return s;
}

template <size_t N>
std::string modesOff(const TerminalMode (&modes)[N]) {
  std::string s = "\x1B[0m";
  for (auto it = std::rbegin(modes); it != std::rend(modes); ++it) s += it->off;
  return s;
}

bool isLinuxConsole() {
  const char* term = std::getenv("TERM");
  return term && std::string_view(term).substr(0, 5) == "linux";
}

std::string base64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                       static_cast<uint8_t>(bytes[i + 2]);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// One cell as the terminal shows it.
struct ShownCell {
  char32_t character = U' ';
  uint8_t fg = 7;
  uint8_t bg = 0;
  bool operator==(const ShownCell&) const = default;
};

// What a signal handler writes to give the terminal back: prepared while the
// terminal is open, because a handler may neither allocate nor lock.
struct SignalRestore {
  char sequence[256] = {};
  size_t length = 0;
  int outFd = -1;
  int inFd = -1;
  bool restoreTermios = false;
  termios saved{};
};
SignalRestore g_signalRestore;
std::atomic<bool> g_signalRestoreArmed{false};

// Signals that end the process by default and can come from outside (the
// terminal hung up, a kill, a quit): restore the terminal, then let the
// signal take its default course.
constexpr int kRestoreSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

void restoreOnSignal(int sig) {
  if (g_signalRestoreArmed.exchange(false)) {
    const SignalRestore& r = g_signalRestore;
    size_t done = 0;
    while (done < r.length) {
      const ssize_t n = ::write(r.outFd, r.sequence + done, r.length - done);
      if (n <= 0 && errno != EINTR) break;
      if (n > 0) done += static_cast<size_t>(n);
    }
    if (r.restoreTermios) tcsetattr(r.inFd, TCSANOW, &r.saved);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

// The terminal front-end restores the terminal when the process ends by any
// path: close, exit, or one of the signals above. One terminal per process.
class TerminalFrontend;
std::atomic<TerminalFrontend*> g_openTerminal{nullptr};

class TerminalFrontend : public Frontend {
 public:
  TerminalFrontend(int in, int out) : in_(in), out_(out), linuxConsole_(isLinuxConsole()) {}
  ~TerminalFrontend() override { close(); }

  const char* name() const override { return "tty"; }

  bool open(const CellGrid& grid, const FrontendOptions& options) override {
    grid_ = &grid;
    if (isatty(in_) && tcgetattr(in_, &saved_) == 0) {
      termios raw = saved_;
      // Raw input: no echo, no line editing, no signals from Ctrl+C or Ctrl+Z
      // (Ctrl+C is the break key of the program), no flow control, no CR->NL.
      raw.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
      raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN | ISIG);
      raw.c_cflag |= CS8;
      raw.c_cc[VMIN] = 0;
      raw.c_cc[VTIME] = 0;
      if (tcsetattr(in_, TCSAFLUSH, &raw) == 0) rawMode_ = true;
    }
    open_ = true;
    TerminalFrontend* expected = nullptr;
    if (g_openTerminal.compare_exchange_strong(expected, this)) {
      static bool registered = false;
      if (!registered) {
        registered = true;
        std::atexit([] {
          if (TerminalFrontend* t = g_openTerminal.load()) t->close();
        });
      }
    }
    installResizeHandler();
    armSignalRestore();
    put(modesOn());
    put("\x1B[0m\x1B[2J");
    invalidateShadow();
    setTitle(options.title);
    checkSize();
    flush();
    return true;
  }

  void close() override {
    if (!open_) return;
    open_ = false;
    g_signalRestoreArmed.store(false);
    put(modesOff());
    writeOut();
    if (rawMode_) tcsetattr(in_, TCSAFLUSH, &saved_);
    rawMode_ = false;
    WakePipe* pipe = &wakePipe_;
    g_resizeWake.compare_exchange_strong(pipe, nullptr);
    TerminalFrontend* self = this;
    g_openTerminal.compare_exchange_strong(self, nullptr);
  }

  void cellsChanged(int, int, int) override {}  // flush compares with the copy
  void scrolled(bool) override {}
  void repaintAll() override { band_.reset(); }
  void showStrip(const StripBand& band) override { band_ = band; }
  void hideStrip() override { band_.reset(); }

  void flush() override {
    if (!open_ || !grid_) return;
    if (g_resized.exchange(false)) {
      put("\x1B[0m\x1B[2J");
      invalidateShadow();
      checkSize();
    }
    if (tooSmall_) {
      writeOut();
      return;
    }
    bool any = false;
    for (int row = 0; row < CellGrid::kRows; ++row) {
      ShownCell* wanted = &wanted_[static_cast<size_t>(row) * CellGrid::kColumns];
      composeRow(row, wanted);
      int first = -1, last = -1;
      for (int col = 0; col < CellGrid::kColumns; ++col) {
        const size_t i = static_cast<size_t>(row) * CellGrid::kColumns + col;
        if (!shadowValid_[i] || shown_[i] != wanted[col]) {
          if (first < 0) first = col;
          last = col;
        }
      }
      if (first < 0) continue;
      if (!any && cursorShown_) put("\x1B[?25l");
      any = true;
      drawRun(row, first, last + 1);
    }
    if (any && cursorShown_) placeCursor();
    writeOut();
  }

  void keyWait(bool waiting, int col, int row) override {
    caretCol_ = col;
    caretRow_ = row;
    cursorShown_ = waiting;
    if (waiting && !tooSmall_)
      placeCursor();
    else
      put("\x1B[?25l");
    writeOut();
  }

  void setTitle(std::string_view cp1252) override {
    // The Linux console would print an operating-system command as text.
    if (linuxConsole_) return;
    std::string t;
    for (unsigned char c : cp1252)
      if (c >= 32 && c != 127) t += static_cast<char>(c);
    // OSC 0 sets the window (and icon) title of terminal emulators; the text
    // has no control characters, so it cannot end the sequence early.
    put("\x1B]0;" + cp1252ToUtf8(t) + "\x07");
    writeOut();
  }

  void bell() override {
    put("\x07");
    writeOut();
  }

  bool nextEvent(FrontendEvent& event, int timeoutMs) override {
    const Clock::time_point deadline =
        timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (pendingOutput()) writeOut();
    for (;;) {
      if (wakePipe_.drain()) {
        event = FrontendEvent{};
        event.type = EventType::Wake;
        return true;
      }
      if (deferred_) {
        event = std::move(*deferred_);
        deferred_.reset();
        return true;
      }
      if (parser_.next(event)) {
        if (event.type == EventType::FocusGained) {
          focusGainedAt_ = Clock::now();
        } else if (event.type == EventType::MouseButton && focusGainedAt_ &&
                   Clock::now() - *focusGainedAt_ <= kFocusClickWindow) {
          // The focus arrived with this button down: say so before the click.
          focusGainedAt_.reset();
          deferred_ = std::move(event);
          event = FrontendEvent{};
          event.type = EventType::FocusGained;
          event.buttonsHeld = true;
        }
        return true;
      }
      if (g_resized.load()) flush();
      if (inputEnded_ && parser_.hasPending()) {
        // Nothing more can follow the held bytes.
        parser_.timeout();
        continue;
      }
      const Clock::time_point now = Clock::now();
      int waitMs = -1;
      if (timeoutMs >= 0) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        waitMs = left < 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX));
      }
      // Bytes that may begin a longer sequence: wait briefly for the rest.
      const bool escapeWait = parser_.hasPending();
      if (escapeWait && (waitMs < 0 || waitMs > TerminalKeyParser::kEscapeWaitMs))
        waitMs = TerminalKeyParser::kEscapeWaitMs;
      pollfd fds[2] = {{wakePipe_.readFd(), POLLIN, 0}, {inputEnded_ ? -1 : in_, POLLIN, 0}};
      const int n = poll(fds, 2, waitMs);
      if (n < 0 && errno != EINTR) return false;
      if (n > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
        char buffer[256];
        const ssize_t got = ::read(in_, buffer, sizeof buffer);
        if (got > 0) {
          parser_.feed(std::string_view(buffer, static_cast<size_t>(got)));
          continue;
        }
        if (got == 0 || (errno != EINTR && errno != EAGAIN)) inputEnded_ = true;
        continue;
      }
      if (n == 0 && escapeWait) parser_.timeout();
      if (n <= 0 && Clock::now() >= deadline) return parser_.next(event);
    }
  }

  void wake() override { wakePipe_.signal(); }

  bool inputExhausted() override { return inputEnded_ && !parser_.hasPending() && !deferred_; }

  // A terminal reports key presses only.
  bool seesKeyReleases() const override { return false; }

  // The program's own clipboard, and a copy sent to the terminal with OSC 52,
  // which terminal emulators (and tmux) hand to the desktop's clipboard, so
  // that a copy made over SSH reaches the user's own computer.
  bool setClipboardText(std::string_view utf8) override {
    clipboard_ = std::string(utf8);
    if (!linuxConsole_) {
      put("\x1B]52;c;" + base64(utf8) + "\x07");
      writeOut();
    }
    return true;
  }

  std::optional<std::string> clipboardText() override {
    return clipboard_;
  }

  std::string takeNotice() override {
    std::string notice;
    notice.swap(notice_);
    return notice;
  }

 private:
  static inline std::atomic<bool> g_resized{false};
  // The open terminal's wake pipe: a resize ends its wait at once, so the
  // wait needs no time-out of its own (no idle wakes while nothing happens).
  static inline std::atomic<WakePipe*> g_resizeWake{nullptr};

  static void onResize(int) {
    const int savedErrno = errno;
    g_resized.store(true);
    if (WakePipe* pipe = g_resizeWake.load()) pipe->signal();  // write(2) only
    errno = savedErrno;
  }

  std::string modesOn() const {
    return linuxConsole_ ? platform::modesOn(kLinuxConsoleModes) : platform::modesOn(kTerminalModes);
  }
  std::string modesOff() const {
    return linuxConsole_ ? platform::modesOff(kLinuxConsoleModes) : platform::modesOff(kTerminalModes);
  }

  // Prepares what restoreOnSignal writes, and installs it for the signals
  // whose disposition is still the default (a test harness or a parent that
  // chose otherwise keeps its choice).
  void armSignalRestore() {
    SignalRestore& r = g_signalRestore;
    const std::string off = modesOff();
    r.length = std::min(off.size(), sizeof r.sequence);
    std::copy_n(off.data(), r.length, r.sequence);
    r.outFd = out_;
    r.inFd = in_;
    r.restoreTermios = rawMode_;
    r.saved = saved_;
    g_signalRestoreArmed.store(true);
    for (int sig : kRestoreSignals) {
      struct sigaction current {};
      if (sigaction(sig, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction sa {};
      sa.sa_handler = &restoreOnSignal;
      sigemptyset(&sa.sa_mask);
      sa.sa_flags = SA_RESETHAND;
      sigaction(sig, &sa, nullptr);
    }
  }

  void installResizeHandler() {
    g_resizeWake.store(&wakePipe_);
    struct sigaction sa {};
    sa.sa_handler = &TerminalFrontend::onResize;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &sa, nullptr);
  }

  // Reads the terminal's size. Smaller than the grid, the terminal would wrap
  // and scroll the rows over each other: the user is told the size needed,
  // on the screen and by a notice, until it is large enough. A size the
  // terminal does not report (0, or not a terminal at all) is taken as large
  // enough.
  void checkSize() {
    winsize ws{};
    int columns = 0, rows = 0;
    if (ioctl(out_, TIOCGWINSZ, &ws) == 0) {
      columns = ws.ws_col;
      rows = ws.ws_row;
    }
    const bool small = columns > 0 && rows > 0 && (columns < CellGrid::kColumns || rows < CellGrid::kRows);
    if (!small) {
      if (tooSmall_) {
        tooSmall_ = false;
        put("\x1B[0m\x1B[2J");
        invalidateShadow();
      }
      return;
    }
    const bool changed = !tooSmall_ || columns != smallColumns_ || rows != smallRows_;
    tooSmall_ = true;
    smallColumns_ = columns;
    smallRows_ = rows;
    const std::string size = std::to_string(columns) + " x " + std::to_string(rows);
    const std::string lines[] = {
        "Terminal pequeno demais: " + size + ".",
        "O Ondaria precisa de 80 colunas e 25 linhas.",
        "Aumente a janela ou diminua a letra.",
    };
    put("\x1B[0m\x1B[2J");
    for (int i = 0; i < 3 && i < rows; ++i) {
      put("\x1B[" + std::to_string(i + 1) + ";1H");
      put(cp1252ToUtf8(std::string_view(lines[i]).substr(0, static_cast<size_t>(columns))));
    }
    put("\x1B[?25l");
    invalidateShadow();
    if (changed)
      notice_ = "Terminal pequeno demais: tem " + std::to_string(columns) + " colunas e " +
                std::to_string(rows) + " linhas; o Ondaria precisa de 80 colunas e 25 linhas.";
  }

  void invalidateShadow() {
    shadowValid_.fill(false);
    currentFg_ = currentBg_ = -1;
  }

  ShownCell gridCell(int row, int col) const {
    const size_t i = static_cast<size_t>(row) * CellGrid::kColumns + col;
    const uint8_t attr = grid_->attrs[i];
    return ShownCell{shownCodePoint(grid_->chars[i]), static_cast<uint8_t>(terminalColour(*grid_, attr & 15)),
                     static_cast<uint8_t>(terminalColour(*grid_, attr >> 4))};
  }

  // What one row of the terminal should show: the grid's cells, or the band
  // over the rows it covers.
  void composeRow(int row, ShownCell* out) {
    const bool underBand = band_ && band_->factor > 0 && row >= band_->row && row < band_->row + band_->factor;
    if (!underBand) {
      for (int col = 0; col < CellGrid::kColumns; ++col) out[col] = gridCell(row, col);
      return;
    }
    const StripBand& b = *band_;
    const uint8_t bg = static_cast<uint8_t>(terminalColour(*grid_, b.backColour));
    const uint8_t fg = static_cast<uint8_t>(terminalColour(*grid_, b.textColour));
    const uint8_t marked = static_cast<uint8_t>(terminalColour(*grid_, b.cursorColour));
    for (int col = 0; col < CellGrid::kColumns; ++col) out[col] = ShownCell{U' ', fg, bg};
    const int bandLine = row - b.row;
    const bool enlarged = b.factor >= 2 && glyphs_.available();
    if (!enlarged) {
      if (bandLine != 0) return;
      for (int i = 0; i < static_cast<int>(b.text.size()) && i < CellGrid::kColumns; ++i)
        out[i] = ShownCell{shownCodePoint(static_cast<uint8_t>(b.text[static_cast<size_t>(i)])),
                           i == b.marked ? marked : fg, bg};
      return;
    }
    for (int i = 0; i < static_cast<int>(b.text.size()); ++i) {
      const std::vector<uint8_t>& cells = glyphs_.cells(static_cast<uint8_t>(b.text[static_cast<size_t>(i)]), b.factor);
      if (cells.empty()) continue;
      for (int x = 0; x < b.factor; ++x) {
        const int col = i * b.factor + x;
        if (col >= CellGrid::kColumns) break;
        const uint8_t mask = cells[static_cast<size_t>(bandLine) * b.factor + x];
        out[col] = ShownCell{quadrantCharacter(mask), i == b.marked ? marked : fg, bg};
      }
    }
  }

  void drawRun(int row, int colBegin, int colEnd) {
    put("\x1B[" + std::to_string(row + 1) + ";" + std::to_string(colBegin + 1) + "H");
    const ShownCell* wanted = &wanted_[static_cast<size_t>(row) * CellGrid::kColumns];
    for (int col = colBegin; col < colEnd; ++col) {
      const size_t i = static_cast<size_t>(row) * CellGrid::kColumns + col;
      const ShownCell& cell = wanted[col];
      if (cell.fg != currentFg_ || cell.bg != currentBg_) {
        put("\x1B[0;" + std::to_string(cell.fg < 8 ? 30 + cell.fg : 90 + cell.fg - 8) + ";" +
            std::to_string(cell.bg < 8 ? 40 + cell.bg : 100 + cell.bg - 8) + "m");
        currentFg_ = cell.fg;
        currentBg_ = cell.bg;
      }
      appendUtf8(out_buffer_, cell.character);
      shown_[i] = cell;
      shadowValid_[i] = true;
    }
  }

  void placeCursor() {
    const int col = caretCol_ >= CellGrid::kColumns ? CellGrid::kColumns - 1 : caretCol_;
    put("\x1B[" + std::to_string(caretRow_ + 1) + ";" + std::to_string(col + 1) + "H\x1B[?25h");
  }

  void put(std::string_view s) { out_buffer_.append(s); }
  bool pendingOutput() const { return !out_buffer_.empty(); }

  void writeOut() {
    size_t done = 0;
    while (done < out_buffer_.size()) {
      const ssize_t n = ::write(out_, out_buffer_.data() + done, out_buffer_.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        pollfd p{out_, POLLOUT, 0};
        poll(&p, 1, 100);
        continue;
      }
      break;  // the terminal is gone; drop the output
    }
    out_buffer_.clear();
  }

  static constexpr size_t kCells = static_cast<size_t>(CellGrid::kColumns) * CellGrid::kRows;

  int in_, out_;
  const bool linuxConsole_;
  const CellGrid* grid_ = nullptr;
  bool open_ = false;
  bool rawMode_ = false;
  termios saved_{};
  std::array<ShownCell, kCells> shown_{};   // what the terminal shows
  std::array<ShownCell, kCells> wanted_{};  // what it should show
  std::array<bool, kCells> shadowValid_{};
  int currentFg_ = -1, currentBg_ = -1;
  std::string out_buffer_;
  bool cursorShown_ = false;
  int caretCol_ = 0, caretRow_ = 0;
  TerminalKeyParser parser_;
  std::optional<FrontendEvent> deferred_;  // the click after a focus report
  std::optional<Clock::time_point> focusGainedAt_;
  WakePipe wakePipe_;
  bool inputEnded_ = false;
  std::string clipboard_;
  std::optional<StripBand> band_;
  BlockGlyphs glyphs_;
  bool tooSmall_ = false;
  int smallColumns_ = 0, smallRows_ = 0;
  std::string notice_;
};

}  // namespace

std::unique_ptr<Frontend> makeTerminalFrontend(int inputFd, int outputFd) {
  return std::make_unique<TerminalFrontend>(inputFd, outputFd);
}

}  // namespace platform
