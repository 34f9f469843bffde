#pragma once
// Other processes of the family: process descriptors (pidfds) that tell
// when a process ended, opening a descriptor that another process of the
// same user holds, and the private files and directories through which the
// processes find each other.
//
// Everything the family shares belongs to the owning user alone. Files and
// directories with rights for group or others, or with another owner, are
// refused: somebody else could read or replace what they carry.
#include <sys/types.h>

#include <string>

#include "os/owned_fd.h"

namespace os {

// The outcome of opening something: the descriptor, or the errno of the
// failed call (and an invalid descriptor).
struct OpenResult {
  OwnedFd fd;
  int error = 0;
};

// A process descriptor (pidfd_open) for `pid`, close-on-exec. It becomes
// readable once the process has ended, and keeps naming that process even
// when its number is used again.
[[nodiscard]] OpenResult openPidFd(int pid) noexcept;
// True once the process of `pidfd` has ended (exited, zombie included); asks
// without waiting.
[[nodiscard]] bool pidFdEnded(int pidfd) noexcept;

// Opens descriptor `fd` of process `pid` through /proc/pid/fd/fd, write-only,
// non-blocking and close-on-exec: for a pipe, a new writer of that pipe.
[[nodiscard]] OpenResult openOtherProcessFd(int pid, int fd) noexcept;
// True when `fd` is a pipe or FIFO.
[[nodiscard]] bool isPipe(int fd) noexcept;

// Creates the directory with mode 0700. An existing one is accepted when it
// is a directory owned by this user without rights for group or others;
// anything else throws error::ESystemError naming the path and the fault.
void createPrivateDirectory(const std::string& path);
// Throws error::ESystemError unless `path` is a directory owned by this user
// without rights for group or others.
void checkPrivateDirectory(const std::string& path);

// Writes `text` to a new file beside `path` and renames it into place, so
// that a reader sees the old content or the whole new one, never a part.
// Throws error::ESystemError naming the path and the failed step.
void writeFileAtomically(const std::string& path, const std::string& text, mode_t mode = 0600);

struct PrivateFileRead {
  std::string text;
  int error = 0;  // errno when the file could not be opened or read
};
// The content of a regular file that only this user can read or write.
// Opening or reading failures come back as errno; a file with wider rights,
// another owner or of another kind throws error::ESystemError naming it.
[[nodiscard]] PrivateFileRead readPrivateFile(const std::string& path);

// Throws error::ESystemError, naming `what` and the descriptor, unless the
// file behind `fd` is owned by this user and has no rights for group or
// others.
void checkPrivateDescriptor(int fd, const std::string& what);

}  // namespace os
