// Whole-program runs of the low-vision and review aids: the magnified strip
// as the settings ask for it, screen review from a menu, the band in a real
// terminal (tmux) and in a real window (Xvfb, checked by its pixels), and a
// terminal too small for the grid.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/frontend.h"
#include "support/program_run.h"
#include "support/stream_peers.h"

namespace ondaria::test {
namespace {

using Clock = std::chrono::steady_clock;
using platform::Rgb;

std::string rowOf(const std::string& screen, int row) {  // 1-based, UTF-8
  std::istringstream in(screen);
  std::string line;
  for (int r = 1; std::getline(in, line); ++r)
    if (r == row) return line;
  return {};
}

std::string settingsWithZoom(const std::string& zoom) {
  return "[TRADUTOR]\r\nSAPI=N\r\n[BAIXAVISAO]\r\nAMPLIACAO=" + zoom + "\r\n";
}

// The band takes the bottom `factor` rows and shows the current item of the
// option list, 80 / factor characters of it, on its first row; bad values
// give factor 3, an empty one no band at all.
TEST(LowVisionRuns, StripRowsFollowTheZoomSetting) {
  struct Row {
    const char* zoom;
    int bandRow;  // 0: no band
    const char* inView;
  };
  const Row table[] = {
      {"", 0, ""},
      {"999", 23, "F - folhear as rádios por "},
      {"4", 22, "F - folhear as rádio"},
      {"10", 16, "F - folh"},
  };
  for (const Row& r : table) {
    ProgramRun program;
    program.writeSettings(settingsWithZoom(r.zoom));
    const ProgramResult result = program.run("key Down\nkey Down\n");
    ASSERT_FALSE(result.timedOut) << result.stderrText;
    if (r.bandRow == 0) {
      for (int row = 1; row <= 25; ++row) EXPECT_NE(rowOf(result.screen, row).rfind("F - ", 0), 0u) << row;
      continue;
    }
    EXPECT_EQ(rowOf(result.screen, r.bandRow).rfind(r.inView, 0), 0u) << r.zoom << "\n" << result.screen;
    for (int row = r.bandRow + 1; row <= 25; ++row)
      EXPECT_EQ(rowOf(result.screen, row), std::string(80, ' ')) << r.zoom << " row " << row;
  }
}

TEST(LowVisionRuns, ScreenReviewFromTheOptionListAndBack) {
  ProgramRun program;
  program.writeSettings(settingsWithZoom("3"));
  // Down opens the list; review reads the current row (TL), then the row
  // and column; Esc leaves review, Down goes on in the list.
  const ProgramResult r = program.run(
      "key Down\nkey ctrl+alt+F9\ntext t\ntext l\nkey ctrl+k\nkey Esc\nkey Down\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  int row = -1, position = -1, leave = -1, next = -1;
  for (size_t i = 0; i < r.speech.size(); ++i) {
    const SpeechLine& l = r.speech[i];
    const int at = static_cast<int>(i);
    if (row < 0 && l.kind == "text" && l.text == "radios") row = at;
    // Diphone speech says numbers with its recorded number words.
    if (row >= 0 && position < 0 && l.kind == "recording" && l.text == "_tres") position = at;
    if (position >= 0 && leave < 0 && l.kind == "beep" && i + 1 < r.speech.size() && r.speech[i + 1].kind == "beep")
      leave = at;
    if (leave >= 0 && next < 0 && l.text.find("folhear") != std::string::npos) next = at;
  }
  EXPECT_GE(row, 0);             // TL read the row of "P - radios preferidas"
  EXPECT_GT(position, row);      // Ctrl+K: row 3 and the column
  EXPECT_GT(leave, position);    // two beeps on leaving
  EXPECT_GT(next, leave);        // the list goes on: Down speaks the next item
  EXPECT_TRUE(r.heard("text", "Fim do Ondaria"));
}

// ---- Real terminals and windows ----------------------------------------------

bool installed(const std::string& tool) { return runProgram({"sh", "-c", "command -v " + tool}) == 0; }

// Standard output of a command (no shell).
std::string outputOf(const ProgramRun& program, const std::vector<std::string>& args) {
  const std::string file = program.workDir() + "/command.out";
  runProgram(args, true, file);
  return readWholeFile(file);
}

// Polls `check` every 100 ms for at most `seconds`.
bool waitFor(const std::function<bool()>& check, int seconds = 30) {
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < end) {
    if (check()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return check();
}

// The real program with another front-end than the headless one, as `env`
// arguments, its speech logged to <work>/speech.log.
std::vector<std::string> programCommand(const ProgramRun& program, const std::string& frontend) {
  const std::string root = program.settingsDir().substr(0, program.settingsDir().rfind("/config/"));
  return {"env", "ONDARIA_FRONTEND=" + frontend, "ONDARIA_SPEECH_LOG=" + program.workDir() + "/speech.log",
          "XDG_CONFIG_HOME=" + root + "/config", "LUMARE_SYSTEM_DIR=" + root + "/system",
          "SDL_AUDIODRIVER=dummy", "SDL_VIDEODRIVER=x11", programPath()};
}

std::string speechLog(const ProgramRun& program) { return readWholeFile(program.workDir() + "/speech.log"); }

class Tmux {
 public:
  Tmux(const ProgramRun& program, int columns, int rows)
      : program_(program), socket_(program.workDir() + "/tmux.sock") {
    std::vector<std::string> args = {"tmux", "-S", socket_, "-f", "/dev/null", "new-session", "-d",
                                     "-x", std::to_string(columns), "-y", std::to_string(rows)};
    const std::vector<std::string> command = programCommand(program, "tty");
    args.insert(args.end(), command.begin(), command.end());
    started_ = runProgram(args) == 0;
  }
  ~Tmux() { runProgram({"tmux", "-S", socket_, "kill-server"}); }
  bool started() const { return started_; }
  std::string pane(bool colours = false) const {
    std::vector<std::string> args = {"tmux", "-S", socket_, "capture-pane", "-p"};
    if (colours) args.push_back("-e");
    return outputOf(program_, args);
  }
  void keys(const std::string& k) { runProgram({"tmux", "-S", socket_, "send-keys", k}); }
  void resize(int columns, int rows) {
    runProgram({"tmux", "-S", socket_, "resize-window", "-x", std::to_string(columns), "-y", std::to_string(rows)});
  }

 private:
  const ProgramRun& program_;
  std::string socket_;
  bool started_ = false;
};

// A terminal too small for the grid is told the size needed, on the screen
// and aloud; grown, it shows the menu, and the band is made of enlarged
// letters of block characters in the strip's colours.
TEST(LowVisionTerminal, TooSmallThenGrownWithTheBandOfBlockLetters) {
  ASSERT_TRUE(installed("tmux")) << "tmux is installed by scripts/setup-debian.sh";
  ProgramRun program;
  program.writeSettings(settingsWithZoom("3"));
  Tmux tmux(program, 60, 20);
  ASSERT_TRUE(tmux.started());
  ASSERT_TRUE(waitFor([&] { return tmux.pane().find("Terminal pequeno demais: 60 x 20.") != std::string::npos; }))
      << tmux.pane();
  EXPECT_NE(tmux.pane().find("80 colunas e 25 linhas"), std::string::npos);
  EXPECT_TRUE(waitFor([&] { return speechLog(program).find("Terminal pequeno demais") != std::string::npos; }))
      << speechLog(program);
  tmux.resize(80, 25);
  ASSERT_TRUE(waitFor([&] { return tmux.pane().find("Ondaria - Que deseja?") != std::string::npos; })) << tmux.pane();
  EXPECT_EQ(tmux.pane().find("pequeno demais"), std::string::npos);
  tmux.keys("Down");
  // The option list's first item, enlarged, in the bottom three rows.
  const auto band = [&] {
    const std::string p = tmux.pane();
    return rowOf(p, 23) + rowOf(p, 24) + rowOf(p, 25);
  };
  ASSERT_TRUE(waitFor([&] { return band().find("\u2588") != std::string::npos; })) << tmux.pane();
  const std::string bottom = band();
  EXPECT_EQ(bottom.find("radios"), std::string::npos);  // letters of blocks, not characters
  int blocks = 0;  // U+2580…U+259F: E2 96 80…9F
  for (size_t i = 0; i + 2 < bottom.size(); ++i)
    if (bottom.compare(i, 2, "\xE2\x96") == 0 && static_cast<unsigned char>(bottom[i + 2]) <= 0x9F) ++blocks;
  EXPECT_GT(blocks, 30);
  // In the strip's colours: bright yellow (93) on brown (43).
  const std::string coloured = tmux.pane(true);
  EXPECT_NE(coloured.find("93"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("43m"), std::string::npos) << coloured;
  tmux.keys("Escape");
  EXPECT_TRUE(waitFor([&] { return speechLog(program).find("Fim do Ondaria") != std::string::npos; }));
}

// ---- The window under Xvfb ---------------------------------------------------

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  bool is(int x, int y, Rgb c) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return rgb[i] == c.r && rgb[i + 1] == c.g && rgb[i + 2] == c.b;
  }
};

// A binary PPM (P6, maxval 255), as ImageMagick writes it.
bool readPpm(const std::string& path, Image& image) {
  const std::string data = readWholeFile(path);
  std::istringstream in(data);
  std::string magic;
  int maxval = 0;
  in >> magic >> image.width >> image.height >> maxval;
  if (magic != "P6" || maxval != 255 || image.width <= 0) return false;
  in.get();
  const size_t size = static_cast<size_t>(image.width) * image.height * 3;
  const size_t at = static_cast<size_t>(in.tellg());
  if (data.size() < at + size) return false;
  image.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + size));
  return true;
}

// An X server of its own on a free display number, with a window manager
// (openbox) so that the window has a frame and can be maximised.
class VirtualDisplay {
 public:
  VirtualDisplay(const ProgramRun& program, int width, int height) : program_(program) {
    for (int n = 90 + static_cast<int>(getpid() % 50); n < 250 && display_.empty(); ++n) {
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0 || access(socket.c_str(), F_OK) == 0)
        continue;
      server_.start({"Xvfb", ":" + std::to_string(n), "-screen", "0",
                     std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp", "-noreset"});
      if (waitFor([&] { return access(socket.c_str(), F_OK) == 0; }, 10))
        display_ = ":" + std::to_string(n);
      else
        server_.stop();
    }
    if (display_.empty()) return;
    setenv("DISPLAY", display_.c_str(), 1);
    windowManager_.start({"openbox", "--sm-disable"});
    waitFor([&] { return outputOf(program_, {"wmctrl", "-m"}).find("Openbox") != std::string::npos; }, 10);
  }
  ~VirtualDisplay() {
    windowManager_.stop();
    server_.stop();
    unsetenv("DISPLAY");
  }
  bool ok() const { return !display_.empty(); }
  bool screenshot(const std::string& name, Image& image) {
    const std::string path = program_.workDir() + "/" + name + ".ppm";
    runProgram({"import", "-window", "root", "-depth", "8", "ppm:" + path});
    return readPpm(path, image);
  }

 private:
  const ProgramRun& program_;
  std::string display_;
  BackgroundProgram server_, windowManager_;
};

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

// The window's place and size on the screen, without its frame (xdotool
// counts the frame's offset twice once the window manager has reparented it).
Geometry windowGeometry(const ProgramRun& program, const std::string& id) {
  Geometry g;
  std::istringstream in(outputOf(program, {"xwininfo", "-id", id}));
  std::string line;
  while (std::getline(in, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string k = line.substr(0, colon);
    const int v = std::atoi(line.c_str() + colon + 1);
    if (k == "  Absolute upper-left X") g.x = v;
    if (k == "  Absolute upper-left Y") g.y = v;
    if (k == "  Width") g.width = v;
    if (k == "  Height") g.height = v;
  }
  return g;
}

// Screen rows inside the window that hold the strip's brown, and whether
// the band holds yellow letters and the cyan highlighted one.
struct BandSeen {
  int top = -1, bottom = -1;
  bool yellow = false, cyan = false;
};

BandSeen findBand(const Image& shot, const Geometry& g) {
  BandSeen b;
  const int x0 = std::max(g.x, 0), x1 = std::min(g.x + g.width, shot.width);
  for (int y = std::max(g.y, 0); y < std::min(g.y + g.height, shot.height); ++y)
    for (int x = x0; x < x1; ++x) {
      if (!shot.is(x, y, Rgb{68, 34, 34})) continue;
      if (b.top < 0) b.top = y;
      b.bottom = y;
      break;
    }
  for (int y = b.top; b.top >= 0 && y <= b.bottom; ++y)
    for (int x = x0; x < x1; ++x) {
      b.yellow = b.yellow || shot.is(x, y, Rgb{255, 255, 0});
      b.cyan = b.cyan || shot.is(x, y, Rgb{0, 255, 255});
    }
  return b;
}

// The window opens on a screen of that size with the letters the settings
// ask for (ALTURALETRA x LARGURALETRA pixels), and maximised makes its
// letters at least `growth` times as high.
void checkWindowOnScreen(int screenWidth, int screenHeight, int fontHeight, int fontWidth, double growth) {
  for (const char* tool : {"Xvfb", "xdotool", "xwininfo", "import", "openbox", "wmctrl"})
    ASSERT_TRUE(installed(tool)) << tool << " is installed by scripts/setup-debian.sh";
  ProgramRun program;
  program.writeSettings(settingsWithZoom("3") + "[VIDEO]\r\nALTURALETRA=" + std::to_string(fontHeight) +
                        "\r\nLARGURALETRA=" + std::to_string(fontWidth) + "\r\n");
  VirtualDisplay display(program, screenWidth, screenHeight);
  ASSERT_TRUE(display.ok());
  BackgroundProgram ondaria;
  ASSERT_TRUE(ondaria.start(programCommand(program, "sdl"), program.workDir() + "/ondaria.err"));
  std::string id;
  ASSERT_TRUE(waitFor([&] {
    id = outputOf(program, {"xdotool", "search", "--onlyvisible", "--name", "Ondaria"});
    id = id.substr(0, id.find('\n'));
    return !id.empty() && speechLog(program).find("Que deseja") != std::string::npos;
  })) << speechLog(program) << readWholeFile(program.workDir() + "/ondaria.err");
  runProgram({"xdotool", "windowactivate", "--sync", id});
  // Search by name: a field, whose strip highlights the character under the
  // cursor ("c" of "rock" after two Left keys).
  runProgram({"xdotool", "type", "--delay", "50", "b"});
  ASSERT_TRUE(waitFor([&] { return speechLog(program).find("parte do nome") != std::string::npos; }))
      << speechLog(program);
  runProgram({"xdotool", "type", "--delay", "50", "rock"});
  runProgram({"xdotool", "key", "--delay", "100", "Left", "Left"});
  ASSERT_TRUE(waitFor([&] {
    const std::string l = speechLog(program);
    return l.find("char\tk") != std::string::npos && l.rfind("char\tc") > l.find("char\tk");
  })) << speechLog(program);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  const Geometry before = windowGeometry(program, id);
  EXPECT_GE(before.x, 0);
  EXPECT_GE(before.y, 0);
  EXPECT_LE(before.x + before.width, screenWidth);
  EXPECT_LE(before.y + before.height, screenHeight);
  Image shot;
  // Letters wider than the screen allows are made smaller, and the user is told.
  EXPECT_EQ(speechLog(program).find("letra menor") != std::string::npos, 80 * fontWidth > screenWidth);
  ASSERT_TRUE(display.screenshot("before", shot));
  const BandSeen band = findBand(shot, before);
  ASSERT_GE(band.top, 0) << "no band in the window";
  // At the bottom: the band covers the grid's last three of 25 rows.
  EXPECT_GT(band.top, before.y + before.height * 3 / 4);
  EXPECT_GE(band.bottom, before.y + before.height * 22 / 25);
  EXPECT_TRUE(band.yellow);
  EXPECT_TRUE(band.cyan);

  // Maximised, the letters (and so the band) grow.
  runProgram({"wmctrl", "-i", "-r", id, "-b", "add,maximized_vert,maximized_horz"});
  Geometry after;
  ASSERT_TRUE(waitFor([&] {
    after = windowGeometry(program, id);
    return after.width > before.width + 50 && after.x + after.width <= screenWidth &&
           after.y + after.height <= screenHeight;
  }, 10)) << "the window was not maximised on the screen: " << after.x << "," << after.y << " " << after.width << "x"
          << after.height;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  runProgram({"xdotool", "key", "Right"});  // the field shows itself in the strip again
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  // The window manager may resize a window before it moves it: its place is
  // read again once the maximised window has settled.
  after = windowGeometry(program, id);
  ASSERT_TRUE(display.screenshot("after", shot));
  EXPECT_LE(after.x + after.width, screenWidth);
  EXPECT_LE(after.y + after.height, screenHeight);
  const BandSeen grown = findBand(shot, after);
  ASSERT_GE(grown.top, 0) << "no band after maximising";
  EXPECT_GT(grown.bottom - grown.top, band.bottom - band.top);
  EXPECT_GE(grown.bottom - grown.top, (band.bottom - band.top) * growth);
  runProgram({"xdotool", "key", "Escape"});
  runProgram({"xdotool", "key", "Escape"});
  EXPECT_TRUE(waitFor([&] { return speechLog(program).find("Fim do Ondaria") != std::string::npos; }, 10));
}

// Letters asked for twice the width of the screen are made smaller, and the
// user is told; maximised, the window gains the little room that is left.
TEST(LowVisionWindow, FitsA1280x1024ScreenWithTheBandAndGrowsWhenMaximised) {
  checkWindowOnScreen(1280, 1024, 60, 30, 1.0);
}

TEST(LowVisionWindow, FitsA4KScreenWithTheBandAndGrowsWhenMaximised) { checkWindowOnScreen(3840, 2160, 24, 12, 3.0); }

}  // namespace
}  // namespace ondaria::test
