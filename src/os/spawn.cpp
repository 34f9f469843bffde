#include "os/spawn.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "error/system_error.h"
#include "os/fd.h"

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

  // The child gets `fd` as descriptor `target`. dup2 in the child clears
  // close-on-exec on the copy, so only the three standard descriptors pass.
  void redirect(int fd, int target) {
    if (const int rc = ::posix_spawn_file_actions_adddup2(&actions_, fd, target); rc != 0) {
      error::throwSystemError("posix_spawn_file_actions_adddup2", rc);
    }
  }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Starts `program` with `args` under `actions` and `env`; returns its
// process id.
pid_t start(const std::string& program, const std::vector<std::string>& args, FileActions& actions,
            char* const* env = environ) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (const int rc = ::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), env);
      rc != 0) {
    error::throwSystemError("Cannot start " + program, rc);
  }
  return pid;
}

// Pipe ends that close themselves unless handed over.
class PipeSet {
 public:
  PipeSet() {
    for (PipeEnds& p : pipes_) p = makePipe(false);
  }
  ~PipeSet() {
    for (int fd : open_) {
      if (fd >= 0) closeFdQuietly(fd);
    }
  }
  PipeSet(const PipeSet&) = delete;
  PipeSet& operator=(const PipeSet&) = delete;

  const PipeEnds& operator[](std::size_t i) const { return pipes_[i]; }
  // Keeps this end open beyond the set's life.
  int release(int fd) {
    for (int& open : open_) {
      if (open == fd) open = -1;
    }
    return fd;
  }
  void collect() {
    std::size_t i = 0;
    for (const PipeEnds& p : pipes_) {
      open_[i++] = p.readEnd;
      open_[i++] = p.writeEnd;
    }
  }

 private:
  std::array<PipeEnds, 3> pipes_;
  std::array<int, 6> open_{-1, -1, -1, -1, -1, -1};
};

ChildStatus decodeStatus(int status, const struct rusage& usage) {
  ChildStatus result;
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  if (WIFSIGNALED(status)) {
    result.signalled = true;
    result.signal = WTERMSIG(status);
  } else {
    result.exitCode = WEXITSTATUS(status);
  }
  return result;
}

}  // namespace

SpawnedChild spawnWithPipes(const std::string& program, const std::vector<std::string>& args) {
  PipeSet pipes;
  pipes.collect();
  FileActions actions;
  actions.redirect(pipes[0].readEnd, 0);
  actions.redirect(pipes[1].writeEnd, 1);
  actions.redirect(pipes[2].writeEnd, 2);
  const pid_t pid = start(program, args, actions);
  SpawnedChild child;
  child.pid = static_cast<int>(pid);
  child.stdinFd = pipes.release(pipes[0].writeEnd);
  child.stdoutFd = pipes.release(pipes[1].readEnd);
  child.stderrFd = pipes.release(pipes[2].readEnd);
  // The child's ends close with the set: the child holds its own copies.
  return child;
}

int startProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment, int standardError) {
  std::vector<char*> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view inherited(*entry);
    const std::string_view name = inherited.substr(0, inherited.find('='));
    const bool replaced = std::any_of(environment.begin(), environment.end(), [&](const auto& e) {
      return e.size() > name.size() && e.compare(0, name.size(), name) == 0 &&
             e[name.size()] == '=';
    });
    if (!replaced) env.push_back(*entry);
  }
  for (const std::string& entry : environment) env.push_back(const_cast<char*>(entry.c_str()));
  env.push_back(nullptr);
  FileActions actions;
  if (standardError >= 0) actions.redirect(standardError, 2);
  return static_cast<int>(start(program, args, actions, env.data()));
}

std::optional<ChildStatus> reapIfEnded(int pid) {
  int status = 0;
  struct rusage usage {};
  for (;;) {
    const pid_t r = ::wait4(static_cast<pid_t>(pid), &status, WNOHANG, &usage);
    if (r == 0) return std::nullopt;
    if (r > 0) return decodeStatus(status, usage);
    if (errno != EINTR) error::throwSystemError("wait4", errno);
  }
}

ChildStatus waitForExit(int pid) {
  int status = 0;
  struct rusage usage {};
  while (::wait4(static_cast<pid_t>(pid), &status, 0, &usage) < 0) {
    if (errno != EINTR) error::throwSystemError("wait4", errno);
  }
  return decodeStatus(status, usage);
}

void sendSignal(int pid, int signal) {
  if (::kill(static_cast<pid_t>(pid), signal) != 0 && errno != ESRCH) {
    error::throwSystemError("kill", errno);
  }
}

std::string describeExit(const ChildStatus& status) {
  if (!status.signalled) return "exit code " + std::to_string(status.exitCode);
  const char* name = ::strsignal(status.signal);
  return "killed by signal " + std::to_string(status.signal) +
         (name != nullptr ? " (" + std::string(name) + ")" : std::string());
}

int forkProcess() {
  const pid_t pid = ::fork();
  if (pid < 0) error::throwSystemError("fork", errno);
  return static_cast<int>(pid);
}

void exitAtOnce(int code) noexcept { ::_exit(code); }

void becomeChildSubreaper() {
  if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) error::throwSystemError("prctl", errno);
}

bool isExecutableFile(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

}  // namespace os
