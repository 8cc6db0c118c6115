// Start-up time of the real program: from starting the process to the
// greeting drawn on the screen, in the headless and the terminal front-ends.
//
// The greeting is written immediately before it is voiced, so the first
// "text" line of the speech log marks it for the headless front-end; the
// terminal front-end is also watched on its pseudo-terminal for the drawn text.
// Usage: bench_startup_bench [runs] (the program is taken from beside this one
// or from $ONDARIA_BUILD_DIR).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string programPath(const char* argv0) {
  if (const char* dir = std::getenv("ONDARIA_BUILD_DIR")) return std::string(dir) + "/ondaria";
  return (fs::absolute(argv0).parent_path() / "ondaria").string();
}

bool logHasGreeting(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("text\tOndaria - vers", 0) == 0) return true;
  return false;
}

struct Folders {
  std::string root;
  Folders() {
    char pattern[] = "/tmp/ondaria-bench-XXXXXX";
    root = mkdtemp(pattern);
    fs::create_directories(root + "/config/lumare");
    fs::create_directories(root + "/system");
  }
  ~Folders() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

void setCommonEnv(const Folders& f, const std::string& log) {
  setenv("ONDARIA_SPEECH_LOG", log.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (f.root + "/config").c_str(), 1);
  setenv("LUMARE_SYSTEM_DIR", (f.root + "/system").c_str(), 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
}

// Milliseconds until the greeting is logged; -1 when it never comes.
double headlessRun(const std::string& program, const Folders& f) {
  const std::string log = f.root + "/speech.log";
  fs::remove(log);
  setCommonEnv(f, log);
  setenv("ONDARIA_FRONTEND", "headless", 1);
  std::vector<char*> argv = {const_cast<char*>(program.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const auto start = Clock::now();
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return -1;
  posix_spawn_file_actions_destroy(&actions);
  double ms = -1;
  while (Clock::now() - start < std::chrono::seconds(10)) {
    if (logHasGreeting(log)) {
      ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      break;
    }
    usleep(500);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return ms;
}

// Milliseconds until the terminal shows the greeting; -1 when it never does.
double terminalRun(const std::string& program, const Folders& f) {
  const std::string log = f.root + "/speech.log";
  fs::remove(log);
  setCommonEnv(f, log);
  setenv("ONDARIA_FRONTEND", "tty", 1);
  setenv("TERM", "xterm-256color", 1);
  struct winsize size = {25, 80, 0, 0};
  int master = -1;
  const auto start = Clock::now();
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) return -1;
  if (pid == 0) {
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  double ms = -1;
  while (Clock::now() - start < std::chrono::seconds(10)) {
    pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      char buf[4096];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      seen.append(buf, static_cast<size_t>(n));
      if (seen.find("Ondaria - vers") != std::string::npos) {
        ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        break;
      }
    }
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(master);
  return ms;
}

void report(const char* what, std::vector<double> ms) {
  ms.erase(std::remove(ms.begin(), ms.end(), -1.0), ms.end());
  if (ms.empty()) {
    std::printf("%-34s no greeting seen\n", what);
    return;
  }
  std::sort(ms.begin(), ms.end());
  const double median = ms[ms.size() / 2];
  const double p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
  std::printf("%-34s median %7.1f ms   p95 %7.1f ms   (%zu runs)\n", what, median, p95, ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const std::string program = programPath(argv[0]);
  if (!fs::exists(program)) {
    std::fprintf(stderr, "program not found: %s\n", program.c_str());
    return 1;
  }
  Folders folders;
  // The shipped defaults, as a fresh installation has them.
  const fs::path shipped = fs::path(program).parent_path() / "data" / "Lumare.ini";
  if (fs::exists(shipped)) fs::copy_file(shipped, folders.root + "/config/lumare/Lumare.ini");

  std::vector<double> headless, terminal;
  for (int i = 0; i < runs; ++i) headless.push_back(headlessRun(program, folders));
  for (int i = 0; i < runs; ++i) terminal.push_back(terminalRun(program, folders));
  std::printf("start-up to the drawn greeting (%s)\n", program.c_str());
  report("headless front-end", headless);
  report("terminal front-end", terminal);
  return 0;
}
