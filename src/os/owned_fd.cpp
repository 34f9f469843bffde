#include "os/owned_fd.h"

#include "os/fd.h"

namespace os {

void OwnedFd::reset(int fd) noexcept {
  if (fd_ >= 0) closeFdQuietly(fd_);
  fd_ = fd;
}

}  // namespace os
