// The terminal front-end: the grid drawn with plain ANSI escape sequences, the
// keyboard read raw. For SSH sessions and text consoles.
//
// Output keeps a copy of what the terminal shows and rewrites only the cells
// of rows that differ from it. Colours are the nearest of the 16 standard
// terminal colours, which every terminal (the Linux console included) has.
// The terminal's own cursor is shown at the console cursor while the program
// waits for a key, so that the terminal's screen reader follows it.
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

#include "platform/codepage.h"
#include "platform/frontend.h"
#include "platform/terminal_keys.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// The 16 colours of xterm's default palette, in SGR order (30-37, then 90-97).
constexpr Rgb kAnsiColours[16] = {
    {0, 0, 0},       {205, 0, 0},     {0, 205, 0},     {205, 205, 0},
    {0, 0, 238},     {205, 0, 205},   {0, 205, 205},   {229, 229, 229},
    {127, 127, 127}, {255, 0, 0},     {0, 255, 0},     {255, 255, 0},
    {92, 92, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

int nearestAnsi(Rgb c) {
  int best = 0;
  long bestDistance = LONG_MAX;
  for (int i = 0; i < 16; ++i) {
    const long dr = c.r - kAnsiColours[i].r, dg = c.g - kAnsiColours[i].g,
               db = c.b - kAnsiColours[i].b;
    const long d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

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
};

std::string modesOn() {
  std::string s;
  for (const TerminalMode& m : kTerminalModes) s += m.on;
  return s;
}

std::string modesOff() {
  std::string s = "\x1B[0m";
  for (auto it = std::rbegin(kTerminalModes); it != std::rend(kTerminalModes); ++it) s += it->off;
  return s;
}

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
  TerminalFrontend(int in, int out) : in_(in), out_(out) {}
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
  void repaintAll() override {}

  void flush() override {
    if (!open_ || !grid_) return;
    if (g_resized.exchange(false)) {
      put("\x1B[0m\x1B[2J");
      invalidateShadow();
    }
    bool any = false;
    for (int row = 0; row < CellGrid::kRows; ++row) {
      int first = -1, last = -1;
      for (int col = 0; col < CellGrid::kColumns; ++col) {
        const int i = row * CellGrid::kColumns + col;
        if (!shadowValid_[i] || shadowChars_[i] != grid_->chars[i] ||
            shadowAttrs_[i] != grid_->attrs[i]) {
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
    if (waiting)
      placeCursor();
    else
      put("\x1B[?25l");
    writeOut();
  }

  void setTitle(std::string_view cp1252) override {
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
      if (parser_.next(event)) return true;
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

  bool inputExhausted() override { return inputEnded_ && !parser_.hasPending(); }

  // The terminal cannot reach the desktop's clipboard: an in-process one.
  bool setClipboardText(std::string_view utf8) override {
    clipboard_ = std::string(utf8);
    return true;
  }

  std::optional<std::string> clipboardText() override {
    return clipboard_;
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

  void invalidateShadow() {
    shadowValid_.fill(false);
    currentAttr_ = -1;
  }

  void drawRun(int row, int colBegin, int colEnd) {
    put("\x1B[" + std::to_string(row + 1) + ";" + std::to_string(colBegin + 1) + "H");
    for (int col = colBegin; col < colEnd; ++col) {
      const int i = row * CellGrid::kColumns + col;
      const uint8_t attr = grid_->attrs[i];
      if (attr != currentAttr_) {
        const int fg = nearestAnsi(mappedColour(*grid_, attr & 15));
        const int bg = nearestAnsi(mappedColour(*grid_, attr >> 4));
        put("\x1B[0;" + std::to_string(fg < 8 ? 30 + fg : 90 + fg - 8) + ";" +
            std::to_string(bg < 8 ? 40 + bg : 100 + bg - 8) + "m");
        currentAttr_ = attr;
      }
      const uint8_t c = grid_->chars[i];
      const char32_t cp = cp1252ToCodePoint(c);
      // Never send a control character to the terminal.
      if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0))
        out_buffer_ += ' ';
      else
        appendUtf8(out_buffer_, cp);
      shadowChars_[i] = c;
      shadowAttrs_[i] = attr;
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

  int in_, out_;
  const CellGrid* grid_ = nullptr;
  bool open_ = false;
  bool rawMode_ = false;
  termios saved_{};
  std::array<uint8_t, CellGrid::kColumns * CellGrid::kRows> shadowChars_{};
  std::array<uint8_t, CellGrid::kColumns * CellGrid::kRows> shadowAttrs_{};
  std::array<bool, CellGrid::kColumns * CellGrid::kRows> shadowValid_{};
  int currentAttr_ = -1;
  std::string out_buffer_;
  bool cursorShown_ = false;
  int caretCol_ = 0, caretRow_ = 0;
  TerminalKeyParser parser_;
  WakePipe wakePipe_;
  bool inputEnded_ = false;
  std::string clipboard_;
};

}  // namespace

std::unique_ptr<Frontend> makeTerminalFrontend(int inputFd, int outputFd) {
  return std::make_unique<TerminalFrontend>(inputFd, outputFd);
}

}  // namespace platform
