#pragma once
// Test-only: runs another program to its end, for tests of whole-process
// behaviour (crash reports, exit codes). Never include from library code.
#include <string>
#include <vector>

#include "os/child_process.h"

namespace testkit {

// Starts `program` with the arguments `args` (argv[0] is the program path),
// the parent's environment and working directory, and standard error sent to
// the file `stderrPath` (created or truncated); waits for it to end. Failing
// to start it throws error::ESystemError.
os::ChildStatus runProgram(const std::string& program, const std::vector<std::string>& args,
                           const std::string& stderrPath);

}  // namespace testkit
