// Starting other programs: always with an argument vector through posix_spawn,
// never through a shell, so no character of an argument is ever interpreted.
//
// Small and general on purpose: the external player extends it with pipes by
// passing its own descriptors for the child's standard streams.
#pragma once

#include <sys/types.h>

#include <string>
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
};
constexpr int kNullDevice = -2;

struct SpawnResult {
  pid_t pid = -1;
  int error = 0;  // errno value when the program could not be started
  bool ok() const { return pid > 0; }
};

// Starts argv[0] with the arguments argv[1..]. An empty argv fails with EINVAL.
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

}  // namespace platform
