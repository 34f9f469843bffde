#pragma once
// Running another program alongside this one and talking to it through
// pipes on its standard input, output and error: what a tool needs to drive
// a process the way its sibling processes would.
#include <optional>
#include <string>
#include <vector>

#include "os/child_process.h"

namespace os {

// A started child and this process's ends of its three pipes. The ends
// close on exec and start out blocking; the caller owns and closes them.
struct SpawnedChild {
  int pid = -1;
  int stdinFd = -1;   // write end: what the child reads
  int stdoutFd = -1;  // read end: what the child writes to standard output
  int stderrFd = -1;  // read end: what the child writes to standard error
};

// Starts `program` with the arguments `args` (argv[0] is the program path),
// the parent's environment and working directory. Failing to start it (a
// missing or non-executable program included) throws error::ESystemError
// naming the program; no pipe end is left open then.
[[nodiscard]] SpawnedChild spawnWithPipes(const std::string& program,
                                          const std::vector<std::string>& args);

// Starts `program` with the arguments `args`, the parent's environment with
// `environment` added ("NAME=value" entries; a name given there replaces the
// parent's value), its standard streams and every descriptor of the parent
// that is not close-on-exec; its standard error is `standardError` instead
// when that is 0 or more. Returns the child's process id. Failing to start
// it throws error::ESystemError naming the program.
[[nodiscard]] int startProcess(const std::string& program, const std::vector<std::string>& args,
                               const std::vector<std::string>& environment, int standardError = -1);
// The child's exit status once it has ended (it is reaped then), or nothing
// while it still runs. Throws error::ESystemError when `pid` is not a child
// of this process.
[[nodiscard]] std::optional<ChildStatus> reapIfEnded(int pid);

// Waits for the child to end and reaps it.
[[nodiscard]] ChildStatus waitForExit(int pid);

// Sends `signal` to the process; a process that has already ended is not an
// error.
void sendSignal(int pid, int signal);

// "exit code 3", or "killed by signal 6 (Aborted)".
[[nodiscard]] std::string describeExit(const ChildStatus& status);

// A copy of this process (fork): 0 in the copy, the copy's process id in
// the original. For tests that need a process to die without a word.
[[nodiscard]] int forkProcess();
// Ends this process at once with `code`: no destructors, no exit handlers.
[[noreturn]] void exitAtOnce(int code) noexcept;
// Orphaned descendants of this process become its children, so that it can
// wait for them.
void becomeChildSubreaper();
// True when the path names a file that this process may execute.
[[nodiscard]] bool isExecutableFile(const std::string& path);

}  // namespace os
