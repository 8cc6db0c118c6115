// The terminal front-end on a pseudo-terminal: raw keys in, escape sequences
// and UTF-8 out, only changed rows redrawn, the terminal given back on close.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <set>
#include <string>

#include "platform/frontend.h"

namespace platform {
namespace {

class TerminalFrontendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    grid.chars.fill(' ');
    grid.attrs.fill(0x0F);
    terminal = makeTerminalFrontend(slave, slave);
    ASSERT_TRUE(terminal->open(grid, FrontendOptions{}));
  }
  void TearDown() override {
    terminal.reset();
    close(master);
    close(slave);
  }
  // Everything the front-end wrote so far.
  std::string output() {
    std::string out;
    char buffer[4096];
    for (;;) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) break;
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    return out;
  }
  void type(const std::string& bytes) {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  int master = -1, slave = -1;
  CellGrid grid;
  std::unique_ptr<Frontend> terminal;
};

TEST_F(TerminalFrontendTest, RawKeysArriveAsEvents) {
  // Ctrl+C reaches the program as a key, not as a signal.
  type("\x03\x1B[1;5A\xC3\xA7");
  FrontendEvent e;
  ASSERT_TRUE(terminal->nextEvent(e, 1000));
  EXPECT_EQ(e.key, KeyId::Pause);
  EXPECT_EQ(e.mods, kModCtrl);
  ASSERT_TRUE(terminal->nextEvent(e, 1000));
  EXPECT_EQ(e.key, KeyId::Up);
  EXPECT_EQ(e.mods, kModCtrl);
  ASSERT_TRUE(terminal->nextEvent(e, 1000));
  EXPECT_EQ(e.type, EventType::Text);
  EXPECT_EQ(e.text, "ç");
  // A lone ESC comes after the short wait.
  type("\x1B");
  ASSERT_TRUE(terminal->nextEvent(e, 1000));
  EXPECT_EQ(e.key, KeyId::Escape);
  EXPECT_FALSE(terminal->nextEvent(e, 0));
}

TEST_F(TerminalFrontendTest, OnlyChangedCellsAreRedrawnInUtf8) {
  terminal->flush();
  const std::string first = output();
  EXPECT_NE(first.find("\x1B[?1049h"), std::string::npos);  // alternate screen
  const std::string text = "S\xE3o Paulo \x1B[2J";  // an ESC in the grid must not reach the terminal
  for (size_t i = 0; i < text.size(); ++i) grid.chars[2 * 80 + 10 + i] = static_cast<uint8_t>(text[i]);
  grid.attrs[2 * 80 + 10] = 0x1E;  // yellow on blue
  terminal->cellsChanged(2, 10, 10 + static_cast<int>(text.size()));
  terminal->flush();
  const std::string out = output();
  EXPECT_NE(out.find("\x1B[3;11H"), std::string::npos);  // row 3, column 11
  EXPECT_NE(out.find("ão Paulo"), std::string::npos);
  EXPECT_EQ(out.find("\x1B[2J"), std::string::npos);
  EXPECT_NE(out.find("\x1B[0;93;44m"), std::string::npos);
  // Nothing changed: nothing is written.
  terminal->flush();
  EXPECT_EQ(output(), "");
}

TEST_F(TerminalFrontendTest, CursorShownWhileWaitingAndTerminalRestoredOnClose) {
  terminal->flush();
  output();
  terminal->keyWait(true, 4, 6);
  EXPECT_EQ(output(), "\x1B[7;5H\x1B[?25h");
  terminal->keyWait(false, 4, 6);
  EXPECT_EQ(output(), "\x1B[?25l");
  termios raw{};
  tcgetattr(slave, &raw);
  EXPECT_EQ(raw.c_lflag & ICANON, 0u);
  terminal->close();
  const std::string off = output();
  EXPECT_FALSE(terminal->seesKeyReleases());  // no chord typing here
  // Alternate screen, mouse buttons, SGR reports and focus reports all off.
  for (const char* mode : {"\x1B[?1049l", "\x1B[?1000l", "\x1B[?1006l", "\x1B[?1004l"})
    EXPECT_NE(off.find(mode), std::string::npos) << mode + 1;
  termios after{};
  tcgetattr(slave, &after);
  EXPECT_NE(after.c_lflag & ICANON, 0u);
}

// A child process that has taken the terminal of a pseudo-terminal, for the
// signal tests; its output is read from `master`.
struct TerminalChild {
  int master = -1, slave = -1;
  pid_t pid = -1;
  std::string out;

  TerminalChild() {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
    pid = fork();
    if (pid == 0) {
      CellGrid grid;
      auto terminal = makeTerminalFrontend(slave, slave);
      terminal->open(grid, FrontendOptions{});
      terminal->flush();
      for (;;) pause();
    }
  }
  ~TerminalChild() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(master);
    close(slave);
  }
  // Reads until `text` has come (true) or nothing more comes for a while.
  bool readUntil(const std::string& text, int quietMs = 2000) {
    char buffer[4096];
    while (out.find(text) == std::string::npos) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, quietMs) <= 0) return false;
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) return false;
      out.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }
  bool lineMode() {
    termios t{};
    tcgetattr(slave, &t);
    return (t.c_lflag & ICANON) != 0;
  }
};

// A signal ends the program without its close: the terminal must still be
// given back (main screen, cursor shown, mouse reports off, line mode) for
// every signal that ends a program from outside.
TEST(TerminalSignals, FatalSignalsGiveTheTerminalBack) {
  for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) {
    TerminalChild child;
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(child.readUntil("\x1B[2J")) << "signal " << sig;  // the terminal is taken
    child.out.clear();
    kill(child.pid, sig);
    int status = 0;
    ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
    child.pid = -1;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig;
    child.readUntil("\x1B[?1049l", 200);
    for (const char* mode : {"\x1B[?1049l", "\x1B[?25h", "\x1B[?2004l", "\x1B[?1000l", "\x1B[?1004l"})
      EXPECT_NE(child.out.find(mode), std::string::npos) << "signal " << sig << " " << mode + 1;
    EXPECT_TRUE(child.lineMode()) << "signal " << sig;
  }
}

TEST_F(TerminalFrontendTest, PastesArriveWholeAndBracketedPasteEndsWithTheProgram) {
  terminal->flush();
  EXPECT_NE(output().find("\x1B[?2004h"), std::string::npos);
  // A paste of a line and a half, then a key: one Paste event, then Enter.
  type("\x1B[200~http://radio/ao-vivo\r\nsegunda\x1B[201~\r");
  FrontendEvent e;
  ASSERT_TRUE(terminal->nextEvent(e, 1000));
  EXPECT_EQ(e.type, EventType::Paste);
  EXPECT_EQ(e.text, "http://radio/ao-vivo\r\nsegunda");
  ASSERT_TRUE(terminal->nextEvent(e, 1000));
  EXPECT_EQ(e.key, KeyId::Enter);
  terminal->close();
  EXPECT_NE(output().find("\x1B[?2004l"), std::string::npos);
}

// The Linux text console prints sequences it does not know as text: it gets
// neither the alternate screen, the title nor the cursor shape, and its own
// block cursor is given back on close.
TEST(TerminalLinuxConsole, OnlySequencesTheConsoleKnows) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const char* saved = getenv("TERM");
  const std::string before = saved ? saved : "";
  setenv("TERM", "linux", 1);
  CellGrid grid;
  grid.chars.fill(' ');
  grid.attrs.fill(0x0F);
  auto terminal = makeTerminalFrontend(slave, slave);
  ASSERT_TRUE(terminal->open(grid, FrontendOptions{}));
  terminal->setTitle("Ondaria");
  terminal->flush();
  terminal->close();
  if (saved) setenv("TERM", before.c_str(), 1); else unsetenv("TERM");
  std::string out;
  char buffer[4096];
  pollfd p{master, POLLIN, 0};
  while (poll(&p, 1, 50) > 0) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<size_t>(n));
  }
  close(master);
  close(slave);
  EXPECT_NE(out.find("\x1B[?8c"), std::string::npos);
  EXPECT_NE(out.find("\x1B[?0c"), std::string::npos);
  for (const char* unknown : {"\x1B]", "\x1B[2 q", "\x1B[?1049h"}) EXPECT_EQ(out.find(unknown), std::string::npos) << unknown;
}

TEST_F(TerminalFrontendTest, EndOfInputIsReported) {
  EXPECT_FALSE(terminal->inputExhausted());
  close(master);
  master = -1;
  FrontendEvent e;
  terminal->nextEvent(e, 200);
  EXPECT_TRUE(terminal->inputExhausted());
}

TEST_F(TerminalFrontendTest, TitleHasNoControlCharacters) {
  output();
  terminal->setTitle("R\xE1" "dio\x07\x1B]x");
  EXPECT_EQ(output(), "\x1B]0;Rádio]x\x07");
}


// The magnified strip's band in the terminal: enlarged letters of quadrant
// blocks, factor rows high, in the strip's colours; a changed key rewrites
// only what differs, well under 4 KB. Factor 1 shows plain characters.
TEST_F(TerminalFrontendTest, BandIsDrawnWithBlockLetters) {
  terminal->flush();
  output();
  const auto show = [&](int row, int factor, const std::string& text, int marked) {
    terminal->showStrip(StripBand{row, factor, text, marked, 14, 6, 3});
    terminal->flush();
    return output();
  };
  const std::string out = show(22, 3, "Hi" + std::string(24, ' '), 1);  // "i" highlighted
  EXPECT_NE(out.find("\x1B[23;1H"), std::string::npos);
  EXPECT_NE(out.find("\x1B[25;1H"), std::string::npos);
  EXPECT_EQ(out.find("\x1B[22;1H"), std::string::npos);  // the row above stays
  // Yellow letters on brown, the highlighted one cyan on brown.
  EXPECT_NE(out.find("\x1B[0;93;43m"), std::string::npos);
  EXPECT_NE(out.find("\x1B[0;36;43m"), std::string::npos);
  int blocks = 0;  // U+2580…U+259F: E2 96 80…9F
  for (size_t at = out.find("\xE2\x96"); at != std::string::npos; at = out.find("\xE2\x96", at + 1))
    blocks += static_cast<unsigned char>(out[at + 2]) <= 0x9F;
  EXPECT_GT(blocks, 6);
  // The next key moves the highlight: a few cells change, not the band.
  const std::string next = show(22, 3, "Ha" + std::string(24, ' '), 1);
  EXPECT_FALSE(next.empty());
  EXPECT_LT(next.size(), 4096u);
  EXPECT_EQ(next.find("\x1B[0;93;43m"), std::string::npos);  // "H" is drawn already
  // Gone again: the grid's own blanks, white on black.
  terminal->hideStrip();
  terminal->flush();
  const std::string gone = output();
  EXPECT_NE(gone.find("\x1B[0;97;40m"), std::string::npos);
  EXPECT_EQ(gone.find("\u2588"), std::string::npos);
  EXPECT_NE(show(24, 1, "Rock", 0).find("\x1B[25;1H\x1B[0;36;43mR\x1B[0;93;43mock"), std::string::npos);
}

TEST(TerminalColours, EveryPaletteEntryHasATerminalColourOfItsOwn) {
  CellGrid grid;
  std::set<int> seen;
  for (int i = 0; i < 16; ++i) seen.insert(terminalColour(grid, i));
  EXPECT_EQ(seen.size(), 16u);
  // The entries that used to fall together (dark brown and dark grey on
  // black, light green and light red on grey) are apart.
  EXPECT_EQ(terminalColour(grid, 6), 3);
  EXPECT_EQ(terminalColour(grid, 8), 8);
  EXPECT_EQ(terminalColour(grid, 10), 10);
  EXPECT_EQ(terminalColour(grid, 12), 9);
  grid.colourMap[2] = 200;  // beyond the palette: black
  EXPECT_EQ(terminalColour(grid, 2), 0);
}

TEST_F(TerminalFrontendTest, CopiesAlsoReachTheTerminalsClipboard) {
  output();
  ASSERT_TRUE(terminal->setClipboardText("ol\xC3\xA1"));
  EXPECT_NE(output().find("\x1B]52;c;b2zDoQ==\x07"), std::string::npos);
  EXPECT_EQ(terminal->clipboardText(), "ol\xC3\xA1");
}

TEST_F(TerminalFrontendTest, AClickRightAfterTheFocusCameWithTheFocus) {
  FrontendEvent e;
  type("\x1B[I\x1B[<0;4;4M");
  ASSERT_TRUE(terminal->nextEvent(e, 1000));
  EXPECT_EQ(e.type, EventType::FocusGained);
  ASSERT_TRUE(terminal->nextEvent(e, 1000));
  ASSERT_EQ(e.type, EventType::FocusGained);
  EXPECT_TRUE(e.buttonsHeld);
  ASSERT_TRUE(terminal->nextEvent(e, 1000));
  EXPECT_EQ(e.type, EventType::MouseButton);
  // A later click is a click.
  usleep(300000);
  type("\x1B[<0;4;4M");
  ASSERT_TRUE(terminal->nextEvent(e, 1000));
  EXPECT_EQ(e.type, EventType::MouseButton);
}

}  // namespace
}  // namespace platform
