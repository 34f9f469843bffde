#include "os/signal_safe_io.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace os {

int signalSafeCreate(const char* path, int& error) noexcept {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) error = errno;
  return fd;
}

bool signalSafeWrite(int fd, const void* data, std::size_t size, int& error) noexcept {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, next, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      return false;
    }
    if (n == 0) {
      error = ENOSPC;
      return false;
    }
    next += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool signalSafeCopy(const char* path, int fd, int& error) noexcept {
  int in;
  do {
    in = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (in < 0 && errno == EINTR);
  if (in < 0) {
    error = errno;
    return false;
  }
  char buffer[4096];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      ok = false;
    }
    if (n <= 0) break;
    if (!signalSafeWrite(fd, buffer, static_cast<std::size_t>(n), error)) {
      ok = false;
      break;
    }
  }
  ::close(in);
  return ok;
}

void signalSafeClose(int fd) noexcept { ::close(fd); }

}  // namespace os
