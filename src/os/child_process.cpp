#include "os/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "error/system_error.h"

extern char** environ;

namespace os {

namespace {

// posix_spawn's file actions, released on every path out.
class FileActions {
 public:
  FileActions() {
    if (const int rc = ::posix_spawn_file_actions_init(&actions_); rc != 0) {
      error::throwSystemError("posix_spawn_file_actions_init", rc);
    }
  }
  ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

}  // namespace

ChildStatus runProgram(const std::string& program, const std::vector<std::string>& args,
                       const std::string& stderrPath) {
  FileActions actions;
  if (const int rc = ::posix_spawn_file_actions_addopen(actions.get(), 2, stderrPath.c_str(),
                                                        O_WRONLY | O_CREAT | O_TRUNC, 0644);
      rc != 0) {
    error::throwSystemError("posix_spawn_file_actions_addopen " + stderrPath, rc);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (const int rc =
          ::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
      rc != 0) {
    error::throwSystemError("posix_spawn " + program, rc);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) error::throwSystemError("waitpid", errno);
  }
  ChildStatus result;
  if (WIFSIGNALED(status)) {
    result.signalled = true;
    result.signal = WTERMSIG(status);
  } else {
    result.exitCode = WEXITSTATUS(status);
  }
  return result;
}

}  // namespace os
