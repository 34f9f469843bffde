#include "os/fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "error/system_error.h"

namespace os {

namespace {

IoResult outcome(ssize_t n) {
  if (n >= 0) return {static_cast<std::size_t>(n), false, 0};
  if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, true, 0};
  return {0, false, errno};
}

}  // namespace

IoResult readSome(int fd, std::uint8_t* into, std::size_t size) noexcept {
  ssize_t n;
  do {
    n = ::read(fd, into, size);
  } while (n < 0 && errno == EINTR);
  return outcome(n);
}

IoResult writeSome(int fd, const std::uint8_t* from, std::size_t size) noexcept {
  ssize_t n;
  do {
    n = ::write(fd, from, size);
  } while (n < 0 && errno == EINTR);
  return outcome(n);
}

void closeFd(int fd) {
  // On Linux the descriptor is gone even when close reports EINTR: never
  // retry, another thread's new descriptor could have the number by now.
  if (::close(fd) != 0 && errno != EINTR) error::throwSystemError("close", errno);
}

void closeFdQuietly(int fd) noexcept { ::close(fd); }

PipeEnds makePipe(bool inheritable) {
  int fds[2];
  if (::pipe2(fds, inheritable ? 0 : O_CLOEXEC) != 0) error::throwSystemError("pipe", errno);
  return {fds[0], fds[1]};
}

int setPipeBufferSize(int fd, int bytes) {
  const int size = ::fcntl(fd, F_SETPIPE_SZ, bytes);
  if (size < 0) error::throwSystemError("fcntl(F_SETPIPE_SZ)", errno);
  return size;
}

int statusFlags(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) error::throwSystemError("fcntl(F_GETFL)", errno);
  return flags;
}

void setStatusFlags(int fd, int flags) {
  if (::fcntl(fd, F_SETFL, flags) != 0) error::throwSystemError("fcntl(F_SETFL)", errno);
}

void setNonblocking(int fd, bool on) {
  const int flags = statusFlags(fd);
  const int wanted = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  if (wanted != flags) setStatusFlags(fd, wanted);
}

bool isNonblocking(int fd) { return (statusFlags(fd) & O_NONBLOCK) != 0; }

int reopenPrivately(int fd, bool forWriting) noexcept {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) return -1;
  // Opening the descriptor's /proc entry opens the pipe or device anew,
  // which gives a description of its own; dup() would share the flags.
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const int flags = (forWriting ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
  int reopened;
  do {
    reopened = ::open(path.c_str(), flags);
  } while (reopened < 0 && errno == EINTR);
  return reopened;
}

bool isRegularFile(int fd) noexcept {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

void ignoreBrokenPipeSignal() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  if (::sigaction(SIGPIPE, &action, nullptr) != 0)
    error::throwSystemError("sigaction(SIGPIPE)", errno);
}

}  // namespace os
