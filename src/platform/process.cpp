#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

extern char** environ;

namespace platform {

namespace {

std::mutex& detachedLock() {
  static std::mutex m;
  return m;
}
std::vector<pid_t>& detached() {
  static std::vector<pid_t> pids;
  return pids;
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Adds the redirection of one standard stream to the file actions.
int redirect(posix_spawn_file_actions_t* actions, int fd, int target) {
  if (fd == -1) return 0;
  if (fd == kNullDevice)
    return posix_spawn_file_actions_addopen(actions, target, "/dev/null",
                                            target == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  return posix_spawn_file_actions_adddup2(actions, fd, target);
}

}  // namespace

SpawnResult spawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options) {
  SpawnResult result;
  if (argv.empty() || argv[0].empty()) {
    result.error = EINVAL;
    return result;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int rc = redirect(&actions, options.stdinFd, STDIN_FILENO);
  if (rc == 0) rc = redirect(&actions, options.stdoutFd, STDOUT_FILENO);
  if (rc == 0) rc = redirect(&actions, options.stderrFd, STDERR_FILENO);
  for (int fd : options.closeInChild)
    if (rc == 0 && fd > STDERR_FILENO) rc = posix_spawn_file_actions_addclose(&actions, fd);
  if (rc == 0 && !options.workingDirectory.empty())
    rc = posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
  if (rc == 0) {
    pid_t pid = -1;
    bool path = options.searchPath && argv[0].find('/') == std::string::npos;
    rc = path ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ)
              : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    if (rc == 0) result.pid = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  result.error = rc;
  return result;
}

int waitProcess(pid_t pid) {
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  return r == pid ? exitCodeOf(status) : -1;
}

bool processEnded(pid_t pid, int* exitCode) {
  int status = 0;
  pid_t r = waitpid(pid, &status, WNOHANG);
  if (r == pid) {
    if (exitCode) *exitCode = exitCodeOf(status);
    return true;
  }
  if (r < 0) {  // not our child (any more): nothing left to wait for
    if (exitCode) *exitCode = -1;
    return true;
  }
  return false;
}

void reapDetached() {
  std::lock_guard<std::mutex> guard(detachedLock());
  auto& pids = detached();
  std::erase_if(pids, [](pid_t pid) { return processEnded(pid); });
}

bool spawnDetached(const std::vector<std::string>& argv, const std::string& workingDirectory) {
  reapDetached();
  SpawnOptions options;
  options.stdinFd = kNullDevice;
  options.stdoutFd = kNullDevice;
  options.stderrFd = kNullDevice;
  options.workingDirectory = workingDirectory;
  SpawnResult r = spawnProcess(argv, options);
  if (!r.ok()) return false;
  std::lock_guard<std::mutex> guard(detachedLock());
  detached().push_back(r.pid);
  return true;
}

}  // namespace platform
