#include "os/fork.h"

#include <unistd.h>

#include <cerrno>

#include "error/system_error.h"

namespace os {

int forkProcess() {
  const pid_t pid = ::fork();
  if (pid < 0) error::throwSystemError("fork", errno);
  return static_cast<int>(pid);
}

}  // namespace os
