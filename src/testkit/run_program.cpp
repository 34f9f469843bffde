#include "testkit/run_program.h"

#include <fcntl.h>
#include <spawn.h>

#include "error/system_error.h"
#include "os/spawn.h"

extern char** environ;

namespace testkit {

os::ChildStatus runProgram(const std::string& program, const std::vector<std::string>& args,
                           const std::string& stderrPath) {
  posix_spawn_file_actions_t actions;
  if (const int rc = ::posix_spawn_file_actions_init(&actions); rc != 0)
    error::throwSystemError("posix_spawn_file_actions_init", rc);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int rc = ::posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(),
                                              O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (rc == 0) rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) error::throwSystemError("Cannot start " + program, rc);
  return os::waitForExit(static_cast<int>(pid));
}

}  // namespace testkit
