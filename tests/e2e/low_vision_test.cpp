// Whole-program runs of the low-vision and review aids: the magnified strip
// as the settings ask for it, screen review from a menu, the band in a real
// terminal (tmux) and in a real window (Xvfb, checked by its pixels), and a
// terminal too small for the grid.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/program_run.h"

extern char** environ;

namespace ondaria::test {
namespace {

using Clock = std::chrono::steady_clock;

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

// The band takes the bottom `factor` rows; the menus keep them free. The
// second item of the option list is in view on the band's first row.
TEST(LowVisionRuns, StripRowsFollowTheZoomSetting) {
  const std::string item = "F - folhear as r\xC3\xA1" "dios por categorias";
  struct Row {
    const char* zoom;
    int bandRow;  // 0: no band
  };
  const Row table[] = {{"", 0}, {"abc", 23}, {"-1", 23}, {"999", 23}, {"4", 22}, {"10", 16}};
  for (const Row& r : table) {
    ProgramRun program;
    program.writeSettings(settingsWithZoom(r.zoom));
    const ProgramResult result = program.run("key Down\nkey Down\n");
    ASSERT_FALSE(result.timedOut) << result.stderrText;
    if (r.bandRow == 0) {
      EXPECT_EQ(result.screen.find("folhear as r\xC3\xA1" "dios por categorias   "), result.screen.find("folhear"))
          << r.zoom << "\n" << result.screen;
      EXPECT_EQ(rowOf(result.screen, 25).find("F - folhear"), std::string::npos) << r.zoom;
      continue;
    }
    const int factor = 26 - r.bandRow;
    const int inView = 80 / factor;
    // Characters in view: UTF-8 "á" is two bytes.
    std::string want;
    int chars = 0;
    for (size_t i = 0; i < item.size() && chars < inView; ++i) {
      want += item[i];
      if ((static_cast<unsigned char>(item[i]) & 0xC0) != 0x80) ++chars;
      if (i + 1 < item.size() && (static_cast<unsigned char>(item[i + 1]) & 0xC0) == 0x80) want += item[++i];
    }
    EXPECT_EQ(rowOf(result.screen, r.bandRow).substr(0, want.size()), want) << r.zoom << "\n" << result.screen;
    for (int row = r.bandRow + 1; row <= 25; ++row)
      EXPECT_EQ(rowOf(result.screen, row), std::string(80, ' ')) << r.zoom << " row " << row;
  }
}

TEST(LowVisionRuns, ScreenReviewFromTheOptionListAndBack) {
  ProgramRun program;
  program.writeSettings(settingsWithZoom("3"));
  // Down opens the list; review reads the current row (TL), then the row
  // number; Esc leaves review, Down goes on in the list, Enter picks P.
  const ProgramResult r = program.run(
      "key Down\nkey ctrl+alt+F9\ntext t\ntext l\nkey ctrl+k\nkey Esc\nkey Down\nkey Up\nkey Esc\n");
  ASSERT_FALSE(r.timedOut) << r.stderrText;
  EXPECT_EQ(r.exitStatus, 0) << r.stderrText;
  int folhear = -1, position = -1, leave = -1, preferidas = -1;
  for (size_t i = 0; i < r.speech.size(); ++i) {
    const SpeechLine& l = r.speech[i];
    if (l.kind == "text" && l.text == "radios" && folhear < 0) folhear = static_cast<int>(i);
    if (l.kind == "text" && l.text.find(' ') != std::string::npos && l.text.size() <= 5 &&
        l.text.find_first_not_of("0123456789 ") == std::string::npos)
      position = static_cast<int>(i);
    if (position >= 0 && leave < 0 && l.kind == "beep" && i + 1 < r.speech.size() &&
        r.speech[i + 1].kind == "beep")
      leave = static_cast<int>(i);
    if (leave >= 0 && l.text.find("F - folhear") != std::string::npos && preferidas < 0)
      preferidas = static_cast<int>(i);
  }
  EXPECT_GE(folhear, 0);         // TL read the row of item "P - radios preferidas"
  EXPECT_GT(position, folhear);  // Ctrl+K: row and column
  EXPECT_GT(leave, position);    // two beeps on leaving
  EXPECT_GT(preferidas, leave);  // the list goes on: Down speaks the next item
  EXPECT_TRUE(r.heard("text", "Fim do Ondaria."));
}

// ---- Real terminals and windows ----------------------------------------------

// Runs a command line (no shell), returns its standard output.
std::string capture(const std::vector<std::string>& args, int* status = nullptr) {
  int out[2];
  if (pipe(out) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buffer[65536];
  ssize_t n;
  while (rc == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int st = -1;
  if (rc == 0) waitpid(pid, &st, 0);
  if (status) *status = st;
  return text;
}

bool commandExists(const std::string& name) {
  int status = -1;
  capture({"sh", "-c", "command -v " + name}, &status);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The environment of a run of the real program outside the headless
// front-end, as `env` arguments.
std::vector<std::string> programCommand(const ProgramRun& program, const std::string& frontend,
                                        const std::string& speechLog) {
  const std::string root = program.settingsDir().substr(0, program.settingsDir().rfind("/config/"));
  return {"env",
          "ONDARIA_FRONTEND=" + frontend,
          "ONDARIA_SPEECH_LOG=" + speechLog,
          "XDG_CONFIG_HOME=" + root + "/config",
          "LUMARE_SYSTEM_DIR=" + root + "/system",
          "SDL_AUDIODRIVER=dummy",
          programPath()};
}

class Tmux {
 public:
  Tmux(const std::string& socket, int columns, int rows, const std::vector<std::string>& command)
      : socket_(socket) {
    std::vector<std::string> args = {"tmux", "-S", socket_, "-f", "/dev/null", "new-session", "-d",
                                     "-x", std::to_string(columns), "-y", std::to_string(rows)};
    args.insert(args.end(), command.begin(), command.end());
    int status = -1;
    capture(args, &status);
    started_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  ~Tmux() { capture({"tmux", "-S", socket_, "kill-server"}); }
  bool started() const { return started_; }
  std::string pane(bool colours = false) {
    std::vector<std::string> args = {"tmux", "-S", socket_, "capture-pane", "-p"};
    if (colours) args.push_back("-e");
    return capture(args);
  }
  void keys(const std::string& k) { capture({"tmux", "-S", socket_, "send-keys", k}); }
  void resize(int columns, int rows) {
    capture({"tmux", "-S", socket_, "resize-window", "-x", std::to_string(columns), "-y", std::to_string(rows)});
  }

 private:
  std::string socket_;
  bool started_ = false;
};

TEST(LowVisionTerminal, BandOfBlockLettersInTmux) {
  ASSERT_TRUE(commandExists("tmux")) << "tmux is installed by scripts/setup-debian.sh";
  ProgramRun program;
  program.writeSettings(settingsWithZoom("3"));
  const std::string log = program.workDir() + "/speech.log";
  Tmux tmux(program.workDir() + "/tmux.sock", 80, 25, programCommand(program, "tty", log));
  ASSERT_TRUE(tmux.started());
  ASSERT_TRUE(waitFor([&] { return tmux.pane().find("Que deseja?") != std::string::npos; })) << tmux.pane();
  tmux.keys("Down");
  // The option list's first item, enlarged, in the bottom three rows.
  const auto bandRows = [&] {
    const std::string p = tmux.pane();
    std::istringstream in(p);
    std::string line, bottom;
    for (int r = 1; std::getline(in, line); ++r)
      if (r >= 23) bottom += line + "\n";
    return bottom;
  };
  ASSERT_TRUE(waitFor([&] { return bandRows().find("\u2588") != std::string::npos; })) << tmux.pane();
  const std::string bottom = bandRows();
  EXPECT_EQ(bottom.find("radios"), std::string::npos);  // letters of blocks, not characters
  int quadrants = 0;
  for (size_t i = 0; i + 2 < bottom.size(); ++i)
    if (bottom.compare(i, 2, "\xE2\x96") == 0 && static_cast<unsigned char>(bottom[i + 2]) >= 0x80 &&
        static_cast<unsigned char>(bottom[i + 2]) <= 0x9F)
      ++quadrants;
  EXPECT_GT(quadrants, 30);
  // In the strip's colours: yellow (bright, 93) on brown (43).
  const std::string coloured = tmux.pane(true);
  EXPECT_NE(coloured.find("43m"), std::string::npos) << coloured;
  EXPECT_NE(coloured.find("93"), std::string::npos) << coloured;
  tmux.keys("Escape");
  EXPECT_TRUE(waitFor([&] { return readFile(log).find("Fim do Ondaria.") != std::string::npos; }));
}

TEST(LowVisionTerminal, TooSmallTerminalIsToldAndRedrawnWhenItGrows) {
  ASSERT_TRUE(commandExists("tmux")) << "tmux is installed by scripts/setup-debian.sh";
  ProgramRun program;
  program.writeSettings("[TRADUTOR]\r\nSAPI=N\r\n");
  const std::string log = program.workDir() + "/speech.log";
  Tmux tmux(program.workDir() + "/tmux.sock", 60, 20, programCommand(program, "tty", log));
  ASSERT_TRUE(tmux.started());
  ASSERT_TRUE(waitFor([&] { return tmux.pane().find("Terminal pequeno demais: 60 x 20.") != std::string::npos; }))
      << tmux.pane();
  EXPECT_NE(tmux.pane().find("80 colunas e 25 linhas"), std::string::npos);
  EXPECT_TRUE(waitFor([&] { return readFile(log).find("Terminal pequeno demais") != std::string::npos; }))
      << readFile(log);
  tmux.resize(80, 25);
  EXPECT_TRUE(waitFor([&] { return tmux.pane().find("Ondaria - Que deseja?") != std::string::npos; }))
      << tmux.pane();
  EXPECT_EQ(tmux.pane().find("pequeno demais"), std::string::npos);
  tmux.keys("Escape");
  EXPECT_TRUE(waitFor([&] { return readFile(log).find("Fim do Ondaria.") != std::string::npos; }));
}

// ---- The window under Xvfb ---------------------------------------------------

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  bool is(int x, int y, uint8_t r, uint8_t g, uint8_t b) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return rgb[i] == r && rgb[i + 1] == g && rgb[i + 2] == b;
  }
};

// A binary PPM (P6, maxval 255), as ImageMagick writes it.
bool readPpm(const std::string& path, Image& image) {
  const std::string data = readFile(path);
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

class Process {
 public:
  Process(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp, argv;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() { stop(); }
  bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// An X server of its own on a free display number, with a window manager
// (openbox) so that the window has a frame and can be maximised.
class VirtualDisplay {
 public:
  VirtualDisplay(int width, int height) {
    for (int n = 90 + static_cast<int>(getpid() % 50); n < 250; ++n) {
      const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      if (access(lock.c_str(), F_OK) == 0 || access(socket.c_str(), F_OK) == 0) continue;
      display_ = ":" + std::to_string(n);
      server_ = std::make_unique<Process>(std::vector<std::string>{
          "Xvfb", display_, "-screen", "0", std::to_string(width) + "x" + std::to_string(height) + "x24",
          "-nolisten", "tcp", "-noreset"});
      if (waitFor([&] { return access(socket.c_str(), F_OK) == 0; }, 10)) break;
      server_.reset();
      display_.clear();
    }
    if (display_.empty()) return;
    setenv("DISPLAY", display_.c_str(), 1);
    wm_ = std::make_unique<Process>(std::vector<std::string>{"openbox", "--sm-disable"});
    // The window manager is up once it owns the screen's EWMH check window.
    waitFor([] { return capture({"wmctrl", "-m"}).find("Openbox") != std::string::npos; }, 10);
  }
  ~VirtualDisplay() {
    wm_.reset();
    server_.reset();
    unsetenv("DISPLAY");
  }
  bool ok() const { return !display_.empty(); }
  const std::string& name() const { return display_; }

  bool screenshot(const std::string& path, Image& image) {
    capture({"import", "-window", "root", "-depth", "8", "ppm:" + path});
    return readPpm(path, image);
  }

 private:
  std::string display_;
  std::unique_ptr<Process> server_, wm_;
};

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

Geometry windowGeometry(const std::string& id) {
  Geometry g;
  std::istringstream in(capture({"xdotool", "getwindowgeometry", "--shell", id}));
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string k = line.substr(0, eq);
    const int v = std::atoi(line.c_str() + eq + 1);
    if (k == "X") g.x = v;
    if (k == "Y") g.y = v;
    if (k == "WIDTH") g.width = v;
    if (k == "HEIGHT") g.height = v;
  }
  return g;
}

// Rows of the window whose pixels include the strip's brown, and whether
// the band holds yellow and cyan pixels.
struct BandSeen {
  int top = -1, bottom = -1;
  bool yellow = false, cyan = false;
};

BandSeen findBand(const Image& shot, const Geometry& g) {
  BandSeen b;
  for (int y = std::max(g.y, 0); y < std::min(g.y + g.height, shot.height); ++y)
    for (int x = std::max(g.x, 0); x < std::min(g.x + g.width, shot.width); ++x)
      if (shot.is(x, y, 68, 34, 34)) {
        if (b.top < 0) b.top = y;
        b.bottom = y;
        break;
      }
  if (b.top < 0) return b;
  for (int y = b.top; y <= b.bottom; ++y)
    for (int x = std::max(g.x, 0); x < std::min(g.x + g.width, shot.width); ++x) {
      b.yellow = b.yellow || shot.is(x, y, 255, 255, 0);
      b.cyan = b.cyan || shot.is(x, y, 0, 255, 255);
    }
  return b;
}

void checkWindowOnScreen(int screenWidth, int screenHeight) {
  for (const char* tool : {"Xvfb", "xdotool", "import", "openbox", "wmctrl"})
    ASSERT_TRUE(commandExists(tool)) << tool << " is installed by scripts/setup-debian.sh";
  VirtualDisplay display(screenWidth, screenHeight);
  ASSERT_TRUE(display.ok());
  ProgramRun program;
  program.writeSettings(settingsWithZoom("3"));
  const std::string log = program.workDir() + "/speech.log";
  std::vector<std::string> command = programCommand(program, "sdl", log);
  Process ondaria(command);
  std::string id;
  ASSERT_TRUE(waitFor([&] {
    id = capture({"xdotool", "search", "--onlyvisible", "--name", "Ondaria"});
    if (const size_t nl = id.find('\n'); nl != std::string::npos) id.resize(nl);
    return !id.empty() && readFile(log).find("Que deseja") != std::string::npos;
  })) << readFile(log);
  capture({"xdotool", "windowactivate", "--sync", id});
  // Search by name: a field, so the strip highlights the character under
  // the cursor ("c" of "rock" after two Left keys).
  capture({"xdotool", "type", "--delay", "50", "b"});
  ASSERT_TRUE(waitFor([&] { return readFile(log).find("ODNOMBUS") != std::string::npos; })) << readFile(log);
  capture({"xdotool", "type", "--delay", "50", "rock"});
  capture({"xdotool", "key", "--delay", "100", "Left", "Left"});
  ASSERT_TRUE(waitFor([&] {
    const std::string l = readFile(log);
    return l.rfind("char\tc") != std::string::npos && l.rfind("char\tc") > l.find("char\tk");
  })) << readFile(log);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  const Geometry before = windowGeometry(id);
  EXPECT_GE(before.x, 0);
  EXPECT_GE(before.y, 0);
  EXPECT_LE(before.x + before.width, screenWidth);
  EXPECT_LE(before.y + before.height, screenHeight);
  Image shot;
  ASSERT_TRUE(display.screenshot(program.workDir() + "/before.ppm", shot));
  const BandSeen band = findBand(shot, before);
  ASSERT_GE(band.top, 0) << "no band in the window";
  // At the bottom: the band's lowest row is the grid's last, and it covers
  // three of the 25 rows.
  EXPECT_GT(band.top, before.y + before.height * 3 / 4);
  EXPECT_GE(band.bottom, before.y + before.height * 22 / 25);
  EXPECT_TRUE(band.yellow);
  EXPECT_TRUE(band.cyan);  // the highlighted character

  // Maximised, the letters (and so the band) grow.
  capture({"wmctrl", "-i", "-r", id, "-b", "add,maximized_vert,maximized_horz"});
  Geometry after;
  ASSERT_TRUE(waitFor([&] {
    after = windowGeometry(id);
    return after.width > before.width + 50;
  }, 10)) << "the window was not maximised";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  // The band goes with the repaint; the next key brings it back.
  capture({"xdotool", "key", "Right"});
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  ASSERT_TRUE(display.screenshot(program.workDir() + "/after.ppm", shot));
  EXPECT_LE(after.x + after.width, screenWidth);
  EXPECT_LE(after.y + after.height, screenHeight);
  const BandSeen grown = findBand(shot, after);
  ASSERT_GE(grown.top, 0) << "no band after maximising";
  EXPECT_GT(grown.bottom - grown.top, (band.bottom - band.top) * 11 / 10);
  capture({"xdotool", "key", "Escape"});
  capture({"xdotool", "key", "Escape"});
  waitFor([&] { return readFile(log).find("Fim do Ondaria.") != std::string::npos; }, 10);
}

TEST(LowVisionWindow, FitsA1280x1024ScreenWithTheBandAndGrowsWhenMaximised) {
  checkWindowOnScreen(1280, 1024);
}

TEST(LowVisionWindow, FitsA4KScreenWithTheBandAndGrowsWhenMaximised) {
  checkWindowOnScreen(3840, 2160);
}

}  // namespace
}  // namespace ondaria::test
