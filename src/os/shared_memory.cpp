#include "os/shared_memory.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "error/system_error.h"

namespace os {

OwnedFd createSharedMemory(std::size_t size) {
  // No MFD_CLOEXEC: children started with exec inherit the pool.
  OwnedFd fd(::memfd_create("halcyx-pool", 0));
  if (!fd.valid()) error::throwSystemError("memfd_create", errno);
  // A memory file is reachable through /proc by others of the same user
  // only; the mode makes the ownership explicit whatever the kernel's default.
  if (::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0) error::throwSystemError("fchmod", errno);
  if (::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
    error::throwSystemError("ftruncate", errno);
  }
  return fd;
}

MapResult mapShared(int fd, std::size_t size) noexcept {
  void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) return {nullptr, errno};
  return {address, 0};
}

void unmapShared(void* address, std::size_t size) noexcept {
  if (address != nullptr) ::munmap(address, size);
}

}  // namespace os
