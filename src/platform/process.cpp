#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
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

  // Ignored signals stay ignored across exec: the child gets the defaults
  // back (we ignore SIGPIPE, and a player that ignored it would never notice
  // that we stopped reading), and no blocked signals.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigemptyset(&none);
  for (int sig = 1; sig < 32; ++sig) {
    struct sigaction current {};
    if (sig != SIGKILL && sig != SIGSTOP && sigaction(sig, nullptr, &current) == 0 &&
        current.sa_handler == SIG_IGN)
      sigaddset(&defaults, sig);
  }
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (options.newProcessGroup) flags |= POSIX_SPAWN_SETPGROUP;
  if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &defaults);
  if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &none);
  if (rc == 0 && options.newProcessGroup) rc = posix_spawnattr_setpgroup(&attr, 0);
  if (rc == 0) rc = posix_spawnattr_setflags(&attr, flags);

  if (rc == 0) {
    pid_t pid = -1;
    bool path = options.searchPath && argv[0].find('/') == std::string::npos;
    rc = path ? posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ)
              : posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    if (rc == 0) result.pid = pid;
  }
  posix_spawnattr_destroy(&attr);
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

// ---- A child on three pipes ------------------------------------------------

namespace {

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

long long monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

SpawnResult spawnPiped(const std::vector<std::string>& argv, PipedChild& child) {
  child = PipedChild{};
  // [0] read end, [1] write end of: the child's stdin, stdout, stderr.
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  SpawnResult result;
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    result.error = errno;
    for (int* p : {in, out, err}) {
      closeFd(p[0]);
      closeFd(p[1]);
    }
    return result;
  }
  SpawnOptions options;
  options.stdinFd = in[0];
  options.stdoutFd = out[1];
  options.stderrFd = err[1];
  options.newProcessGroup = true;
  // dup2 onto 0, 1 and 2 clears close-on-exec there; every other copy closes.
  result = spawnProcess(argv, options);
  // The child's ends belong to the child alone: with our copies closed, the
  // child sees the end of its input when we close ours, and we see the end of
  // its output when it goes.
  closeFd(in[0]);
  closeFd(out[1]);
  closeFd(err[1]);
  if (!result.ok()) {
    closeFd(in[1]);
    closeFd(out[0]);
    closeFd(err[0]);
    return result;
  }
  for (int fd : {in[1], out[0], err[0]}) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  child.pid = result.pid;
  child.input = in[1];
  child.output = out[0];
  child.error = err[0];
  return result;
}

std::string readAvailable(int fd, size_t maxBytes, bool* ended) {
  std::string text;
  if (ended) *ended = fd < 0;
  if (fd < 0 || maxBytes == 0) return text;
  text.resize(maxBytes);
  ssize_t got;
  do {
    got = ::read(fd, text.data(), maxBytes);
  } while (got < 0 && errno == EINTR);
  if (ended && (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK))) *ended = true;
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

bool waitReadable(const std::vector<int>& fds, int timeoutMs) {
  std::vector<pollfd> polled;
  for (int fd : fds)
    if (fd >= 0) polled.push_back({fd, POLLIN, 0});
  if (polled.empty()) {
    if (timeoutMs > 0) poll(nullptr, 0, timeoutMs);
    return false;
  }
  int n;
  do {
    n = poll(polled.data(), polled.size(), timeoutMs);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

int stopProcess(pid_t pid, int graceMs) {
  if (pid <= 0) return -1;
  int code = -1;
  if (processEnded(pid, &code)) return code;
  // A group led by the child: ends what it started as well. getpgid fails
  // only when the child is gone meanwhile; kill then fails harmlessly.
  const bool leadsGroup = getpgid(pid) == pid;
  auto signalIt = [&](int sig) { leadsGroup ? ::kill(-pid, sig) : ::kill(pid, sig); };
  signalIt(SIGTERM);
  const long long deadline = monotonicMs() + (graceMs > 0 ? graceMs : 0);
  while (monotonicMs() < deadline) {
    if (processEnded(pid, &code)) return code;
    // Polling: 10 ms steps keep the wait short for a child that ends at once.
    poll(nullptr, 0, 10);
  }
  if (processEnded(pid, &code)) return code;
  signalIt(SIGKILL);
  return waitProcess(pid);
}

void stopPiped(PipedChild& child, int graceMs) {
  closeFd(child.input);
  closeFd(child.output);
  closeFd(child.error);
  if (child.pid > 0) stopProcess(child.pid, graceMs);
  child.pid = -1;
}

std::vector<std::string> splitCommandLine(std::string_view text) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inArgument = true;  // "" stands for an empty argument
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inArgument) args.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) args.push_back(current);
  return args;
}

}  // namespace platform
