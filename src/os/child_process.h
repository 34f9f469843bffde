#pragma once
// Running another program to its end: what tests of whole-process behaviour
// (crash reports, exit codes) need.
#include <string>
#include <vector>

namespace os {

struct ChildStatus {
  bool signalled = false;  // ended by a signal rather than by exiting
  int signal = 0;          // when signalled
  int exitCode = 0;        // when not signalled
};

// Starts `program` with the arguments `args` (argv[0] is the program path),
// the parent's environment and working directory, and standard error sent to
// the file `stderrPath` (created or truncated); waits for it to end. Failing
// to start it throws error::ESystemError.
[[nodiscard]] ChildStatus runProgram(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::string& stderrPath);

}  // namespace os
