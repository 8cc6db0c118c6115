// Children on three pipes: splitting a command text, reading without
// blocking, and ending a child (and what it started) so that nothing lingers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/process.h"

namespace platform {
namespace {

// Reads everything the child writes on one pipe until it closes it.
std::string readToEnd(int fd) {
  std::string all;
  for (int i = 0; i < 500; ++i) {
    bool ended = false;
    all += readAvailable(fd, 4096, &ended);
    if (ended) return all;
    waitReadable({fd}, 20);
  }
  ADD_FAILURE() << "the pipe did not close";
  return all;
}

TEST(CommandLine, BlanksSeparateAndDoubleQuotesGroup) {
  struct Case {
    const char* text;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"ffplay -nodisp", {"ffplay", "-nodisp"}},
      {"  a\t b  ", {"a", "b"}},
      {"\"/opt/my player/p\" -q", {"/opt/my player/p", "-q"}},
      {"a \"\" b", {"a", "", "b"}},
      {"x\"y z\"w", {"xy zw"}},
      {"\"unclosed quote", {"unclosed quote"}},
      {"$(id) ; `id` | * 'a b'", {"$(id)", ";", "`id`", "|", "*", "'a", "b'"}},
      {"c:\\tools\\player.exe", {"c:\\tools\\player.exe"}},
      {"", {}},
      {"   ", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(splitCommandLine(c.text), c.args) << c.text;
}

TEST(PipedChild, OutputErrorAndInputAreSeparatePipes) {
  PipedChild child;
  SpawnResult r = spawnPiped({"python3", "-c",
                              "import sys\n"
                              "line = sys.stdin.readline()\n"
                              "sys.stdout.write('saida:' + line)\n"
                              "sys.stderr.write('erro:' + line)\n"},
                             child);
  ASSERT_TRUE(r.ok()) << r.error;
  ASSERT_TRUE(child.running());
  // Nothing written yet: reading does not block.
  EXPECT_EQ(readAvailable(child.output, 4096), "");
  ASSERT_EQ(write(child.input, "ola\n", 4), 4);
  EXPECT_EQ(readToEnd(child.output), "saida:ola\n");
  EXPECT_EQ(readToEnd(child.error), "erro:ola\n");
  stopPiped(child, 1000);
  EXPECT_FALSE(child.running());
  EXPECT_EQ(child.input, -1);
  EXPECT_EQ(child.output, -1);
  EXPECT_EQ(child.error, -1);
}

TEST(PipedChild, AMissingProgramLeavesNothingOpen) {
  auto openDescriptors = [] {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd) n += fcntl(fd, F_GETFD) != -1;
    return n;
  };
  const int before = openDescriptors();
  PipedChild child;
  SpawnResult r = spawnPiped({"/nonexistent/tocador", "x"}, child);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.error, ENOENT);
  EXPECT_FALSE(child.running());
  EXPECT_EQ(openDescriptors(), before);
}

TEST(PipedChild, SignalsWeIgnoreAreNotIgnoredByTheChild) {
  // This program ignores SIGPIPE (so does the stream engine); the child must
  // not inherit that, or it would never notice that nobody reads its output.
  signal(SIGPIPE, SIG_IGN);
  PipedChild child;
  ASSERT_TRUE(spawnPiped({"cat", "/proc/self/status"}, child).ok());
  const std::string status = readToEnd(child.output);
  stopPiped(child, 1000);
  const size_t at = status.find("SigIgn:");
  ASSERT_NE(at, std::string::npos) << status;
  const unsigned long long ignored = std::stoull(status.substr(at + 7), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << status.substr(at, 30);
}

TEST(PipedChild, StopEndsAStubbornChildAndItsGroupAndReapsIt) {
  PipedChild child;
  // Ignores the terminate signal and starts a grandchild in its group.
  ASSERT_TRUE(spawnPiped({"python3", "-c",
                          "import signal, subprocess, sys, time\n"
                          "signal.signal(signal.SIGTERM, signal.SIG_IGN)\n"
                          "p = subprocess.Popen(['sleep', '60'])\n"
                          "print(p.pid, flush=True)\n"
                          "time.sleep(60)\n"},
                         child)
                  .ok());
  std::string line;
  for (int i = 0; i < 250 && line.find('\n') == std::string::npos; ++i) {
    line += readAvailable(child.output, 64);
    waitReadable({child.output}, 20);
  }
  const pid_t grandchild = std::atoi(line.c_str());
  ASSERT_GT(grandchild, 0) << line;
  EXPECT_EQ(getpgid(child.pid), child.pid);  // it leads a group of its own

  const pid_t pid = child.pid;
  stopPiped(child, 200);
  // Reaped: not even a zombie remains.
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  // The grandchild got the signal too; whoever adopted it reaps it.
  bool dead = false;
  for (int i = 0; i < 100 && !dead; ++i) {
    std::ifstream stat("/proc/" + std::to_string(grandchild) + "/stat");
    std::string text;
    dead = !std::getline(stat, text) || text.find(") Z") != std::string::npos;
    if (!dead) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(dead);
  // Stopping again, or an empty child, is harmless.
  stopPiped(child, 200);
  EXPECT_EQ(stopProcess(-1, 10), -1);
}

TEST(PipedChild, StopGivesTheExitCodeOfAChildThatHasAlreadyEnded) {
  PipedChild child;
  ASSERT_TRUE(spawnPiped({"python3", "-c", "import sys; sys.exit(7)"}, child).ok());
  readToEnd(child.output);  // closed when it exits
  EXPECT_EQ(stopProcess(child.pid, 1000), 7);
  EXPECT_EQ(kill(child.pid, 0), -1);
}

}  // namespace
}  // namespace platform
