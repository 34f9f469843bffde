#include "os/process_fd.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "error/system_error.h"
#include "os/fd.h"

namespace os {

namespace {

std::string octalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// What is wrong with the rights of a file we rely on being private; empty
// when nothing is.
std::string privacyFault(const struct stat& st) {
  if (st.st_uid != ::geteuid()) {
    return "owned by user " + std::to_string(st.st_uid) + ", not by user " +
           std::to_string(::geteuid());
  }
  if ((st.st_mode & 077) != 0) {
    return "mode " + octalMode(st.st_mode) + " gives rights to group or others (0600/0700 needed)";
  }
  return {};
}

int openRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

OpenResult openPidFd(int pid) noexcept {
  const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
  if (fd < 0) return {OwnedFd(), errno};
  // pidfd_open gives close-on-exec descriptors.
  return {OwnedFd(static_cast<int>(fd)), 0};
}

bool pidFdEnded(int pidfd) noexcept {
  ::pollfd slot{pidfd, POLLIN, 0};
  int n;
  do {
    n = ::poll(&slot, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n > 0 && (slot.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

OpenResult openOtherProcessFd(int pid, int fd) noexcept {
  const std::string path = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
  const int opened = openRetrying(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (opened < 0) return {OwnedFd(), errno};
  return {OwnedFd(opened), 0};
}

bool isPipe(int fd) noexcept {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

void checkPrivateDirectory(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    error::throwSystemError("Cannot examine directory " + path, errno);
  if (!S_ISDIR(st.st_mode))
    error::throwSystemError("Directory " + path + " refused: not a directory");
  if (const std::string fault = privacyFault(st); !fault.empty()) {
    error::throwSystemError("Directory " + path + " refused: " + fault);
  }
}

void createPrivateDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) {
    // The umask may have taken bits away, never added any: 0700 or less.
    if (::chmod(path.c_str(), 0700) != 0) error::throwSystemError("Cannot chmod " + path, errno);
    return;
  }
  if (errno != EEXIST) error::throwSystemError("Cannot create directory " + path, errno);
  checkPrivateDirectory(path);
}

void writeFileAtomically(const std::string& path, const std::string& text, mode_t mode) {
  const std::string temporary = path + ".tmp" + std::to_string(::getpid());
  OwnedFd fd(
      openRetrying(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode));
  if (!fd.valid()) error::throwSystemError("Cannot open file " + temporary, errno);
  // The umask could have left fewer rights than asked for; never more.
  if (::fchmod(fd.get(), mode) != 0) {
    const int failed = errno;
    ::unlink(temporary.c_str());
    error::throwSystemError("Cannot chmod " + temporary, failed);
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const IoResult r = writeSome(
        fd.get(), reinterpret_cast<const std::uint8_t*>(text.data()) + done, text.size() - done);
    if (r.error != 0 || r.bytes == 0) {
      ::unlink(temporary.c_str());
      error::throwSystemError("Cannot write " + temporary, r.error != 0 ? r.error : EIO);
    }
    done += r.bytes;
  }
  if (::close(fd.release()) != 0) {
    const int failed = errno;
    ::unlink(temporary.c_str());
    error::throwSystemError("Cannot write " + temporary, failed);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int failed = errno;
    ::unlink(temporary.c_str());
    error::throwSystemError("Cannot rename " + temporary + " to " + path, failed);
  }
}

PrivateFileRead readPrivateFile(const std::string& path) {
  OwnedFd fd(openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.valid()) return {{}, errno};
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return {{}, errno};
  if (!S_ISREG(st.st_mode))
    error::throwSystemError("File " + path + " refused: not a regular file");
  if (const std::string fault = privacyFault(st); !fault.empty()) {
    error::throwSystemError("File " + path + " refused: " + fault);
  }
  PrivateFileRead result;
  std::uint8_t buffer[4096];
  for (;;) {
    const IoResult r = readSome(fd.get(), buffer, sizeof buffer);
    if (r.error != 0) return {{}, r.error};
    if (r.bytes == 0) break;
    result.text.append(reinterpret_cast<const char*>(buffer), r.bytes);
  }
  return result;
}

void checkPrivateDescriptor(int fd, const std::string& what) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error::throwSystemError("Cannot examine " + what + " descriptor " + std::to_string(fd), errno);
  }
  if (const std::string fault = privacyFault(st); !fault.empty()) {
    error::throwSystemError(what + " descriptor " + std::to_string(fd) + " refused: " + fault);
  }
}

}  // namespace os
