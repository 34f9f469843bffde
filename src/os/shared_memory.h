#pragma once
// Shared memory between the processes of the family: an anonymous memory
// file that children inherit, and mapping it into this process.
#include <cstddef>

#include "os/owned_fd.h"

namespace os {

// A new anonymous shared-memory file of `size` bytes, all zero, readable and
// writable by the owning user only. The descriptor stays open across exec so
// that a started child inherits it. Throws error::ESystemError naming the
// failed call.
[[nodiscard]] OwnedFd createSharedMemory(std::size_t size);

struct MapResult {
  void* address = nullptr;  // the mapped view, or nullptr when mapping failed
  int error = 0;            // errno of the failed call, 0 otherwise
};

// Maps `size` bytes of `fd` from offset 0, readable, writable and shared
// with every other process that maps it. Reports failure instead of
// throwing, so that the caller can say what the mapping was for.
[[nodiscard]] MapResult mapShared(int fd, std::size_t size) noexcept;

// Removes a mapping made by mapShared; errors are ignored (for destructors).
void unmapShared(void* address, std::size_t size) noexcept;

}  // namespace os
