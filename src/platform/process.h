// Starting other programs: always with an argument vector through posix_spawn,
// never through a shell, so no character of an argument is ever interpreted.
//
// Small and general on purpose: the external player extends it with pipes by
// passing its own descriptors for the child's standard streams.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct SpawnOptions {
  // Descriptors that become the child's stdin, stdout and stderr; -1 inherits
  // ours, kNullDevice gives /dev/null.
  int stdinFd = -1;
  int stdoutFd = -1;
  int stderrFd = -1;
  // Descriptors the child must not keep (e.g. the parent's ends of pipes).
  std::vector<int> closeInChild;
  std::string workingDirectory;  // empty: ours
  bool searchPath = true;        // argv[0] without "/" is looked up in PATH
  // The child leads a process group of its own, so that it and whatever it
  // starts can be ended together (stopProcess) and keys typed at our terminal
  // never reach it as signals.
  bool newProcessGroup = false;
};
constexpr int kNullDevice = -2;

struct SpawnResult {
  pid_t pid = -1;
  int error = 0;  // errno value when the program could not be started
  bool ok() const { return pid > 0; }
};

// Starts argv[0] with the arguments argv[1..]. An empty argv fails with EINVAL.
// The child starts with every signal at its default action and none blocked,
// whatever this program ignores (SIGPIPE) or blocks.
SpawnResult spawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options = {});

// Waits for the child to end; its exit code, 128 + signal number when killed,
// or -1 when it cannot be waited for.
int waitProcess(pid_t pid);
// Without blocking: true when the child has ended (exit code as waitProcess).
bool processEnded(pid_t pid, int* exitCode = nullptr);

// Starts a program nobody waits for (a document opener): its standard streams
// are /dev/null so it cannot disturb the terminal, and it is reaped later by
// this module. True when it started.
bool spawnDetached(const std::vector<std::string>& argv, const std::string& workingDirectory = {});
// Reaps detached children that have ended; called by spawnDetached too.
void reapDetached();

// ---- A child on three pipes ------------------------------------------------

// A child whose standard input, output and error are pipes to us. The three
// descriptors are our ends: non-blocking and closed on exec (no later child
// inherits them). -1 once closed.
struct PipedChild {
  pid_t pid = -1;
  int input = -1;   // write end of the child's standard input
  int output = -1;  // read end of the child's standard output
  int error = -1;   // read end of the child's standard error
  bool running() const { return pid > 0; }
};

// Starts argv with three pipes, in a process group of its own. On failure
// nothing is left open and `child` stays empty; the result says why.
SpawnResult spawnPiped(const std::vector<std::string>& argv, PipedChild& child);

// What waits on a non-blocking descriptor, at most maxBytes; empty when nothing
// waits, at the end of the data, or on an error. Never blocks. `ended` (when
// given) is set true at the end of the data or on an error: nothing more will
// come, and the descriptor stays readable for poll.
std::string readAvailable(int fd, size_t maxBytes, bool* ended = nullptr);

// Waits up to timeoutMs (0: just looks) for one of the descriptors (-1 ones
// are skipped) to have data or reach its end; true when one has.
bool waitReadable(const std::vector<int>& fds, int timeoutMs);

// Ends a child and reaps it, so no zombie remains: SIGTERM to its process
// group (or to it alone when it leads none), then SIGKILL when it is still
// there after graceMs. Returns its exit code as waitProcess does.
int stopProcess(pid_t pid, int graceMs);

// Closes our three pipe ends and ends the child (stopProcess); `child` is
// empty afterwards. Safe on an empty or already stopped child.
void stopPiped(PipedChild& child, int graceMs);

// Splits a command text into arguments: blanks and tabs separate them, double
// quotes group (a blank inside quotes belongs to the argument; the quotes
// themselves are dropped; "" gives an empty argument). Nothing else is special:
// no variables, globs, escapes or other quoting.
std::vector<std::string> splitCommandLine(std::string_view text);

}  // namespace platform
