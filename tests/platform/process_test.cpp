#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct TempFile {
  std::string path;
  int fd = -1;
  TempFile() {
    char name[] = "/tmp/ondaria-process-XXXXXX";
    fd = mkstemp(name);
    path = name;
  }
  ~TempFile() {
    if (fd >= 0) close(fd);
    unlink(path.c_str());
  }
};

TEST(Process, ArgumentsReachTheProgramLiterallyWithoutAShell) {
  TempFile out;
  SpawnOptions options;
  options.stdoutFd = out.fd;
  SpawnResult r = spawnProcess({"printf", "%s|", "a b", "$(touch x);*", "'\"", "-n"}, options);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(waitProcess(r.pid), 0);
  EXPECT_EQ(readAll(out.path), "a b|$(touch x);*|'\"|-n|");
}

TEST(Process, ReportsMissingProgramsAndExitCodes) {
  SpawnResult missing = spawnProcess({"/nonexistent/program"});
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_FALSE(spawnProcess({"no-such-program-ondaria"}).ok());
  EXPECT_EQ(spawnProcess({}).error, EINVAL);

  SpawnResult f = spawnProcess({"false"});
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(waitProcess(f.pid), 1);
  SpawnResult t = spawnProcess({"true"});
  ASSERT_TRUE(t.ok());
  int code = -5;
  while (!processEnded(t.pid, &code)) usleep(1000);
  EXPECT_EQ(code, 0);
}

TEST(Process, WorkingDirectoryAndNullStreams) {
  TempFile out;
  SpawnOptions options;
  options.stdoutFd = out.fd;
  options.stdinFd = kNullDevice;
  options.workingDirectory = "/";
  SpawnResult r = spawnProcess({"pwd"}, options);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(waitProcess(r.pid), 0);
  EXPECT_EQ(readAll(out.path), "/\n");

  // stdin from /dev/null: cat ends at once instead of waiting on our input.
  TempFile cat;
  SpawnOptions catOptions;
  catOptions.stdinFd = kNullDevice;
  catOptions.stdoutFd = cat.fd;
  SpawnResult c = spawnProcess({"cat"}, catOptions);
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(waitProcess(c.pid), 0);
  EXPECT_EQ(readAll(cat.path), "");
}

// Children of this process that exist, ended or not (an ended child that was
// never reaped stays listed as a zombie).
std::string childrenFile() { return "/proc/self/task/" + std::to_string(getpid()) + "/children"; }

TEST(Process, DetachedChildrenAreReaped) {
  ASSERT_EQ(access(childrenFile().c_str(), R_OK), 0);
  ASSERT_EQ(readAll(childrenFile()), "");
  EXPECT_FALSE(spawnDetached({"/nonexistent/opener", "x"}));
  ASSERT_TRUE(spawnDetached({"true"}));
  for (int i = 0; i < 5000; ++i) {
    reapDetached();
    if (readAll(childrenFile()).empty()) return;
    usleep(1000);
  }
  FAIL() << "detached child was never reaped";
}

}  // namespace
}  // namespace platform
