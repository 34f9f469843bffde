#include "io/shared_memory.h"

#include <string>

#include "error/check.h"
#include "error/exception.h"
#include "error/system_error.h"
#include "os/process_fd.h"
#include "os/shared_memory.h"

namespace io {

namespace {

constexpr std::uint64_t kLargestPool = std::uint64_t{1} << 32;

std::uint32_t readMagic(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void writeMagic(std::uint8_t* at) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(kPoolMagic >> (8 * i));
}

}  // namespace

void SharedMemory::Unmap::operator()(std::uint8_t* address) const noexcept {
  os::unmapShared(address, size);
}

SharedMemory::SharedMemory(int fd, std::uint64_t mapsize)
    : fd_(fd), mapsize_(mapsize), view_(nullptr, Unmap{mapsize}) {
  if (mapsize_ > kLargestPool) {
    throw error::EFatal("Shared memory pool of " + std::to_string(mapsize_) +
                        " bytes is too large for 32-bit offsets");
  }
  const os::MapResult mapped = os::mapShared(fd_, mapsize_);
  if (mapped.address == nullptr) {
    error::throwSystemError("Cannot map view for sibling messenger", mapped.error);
  }
  view_.reset(static_cast<std::uint8_t*>(mapped.address));
  // Every process of the family writes into the pool: one that others
  // could open is refused before anything in it is trusted.
  os::checkPrivateDescriptor(fd_, "Shared memory pool");
  HX_CHECK(mapsize_ >= 4 && readMagic(view_.get()) == kPoolMagic,
           "Wrong header of shared memory pool");
}

os::OwnedFd createSharedMemoryPool(std::uint64_t mapsize) {
  if (mapsize < 8 || mapsize > kLargestPool) {
    throw error::EFatal("Shared memory pool size " + std::to_string(mapsize) +
                        " is not between 8 bytes and 4 GiB");
  }
  os::OwnedFd fd = os::createSharedMemory(mapsize);
  const os::MapResult mapped = os::mapShared(fd.get(), mapsize);
  if (mapped.address == nullptr) {
    error::throwSystemError("Cannot map view for sibling messenger", mapped.error);
  }
  writeMagic(static_cast<std::uint8_t*>(mapped.address));
  os::unmapShared(mapped.address, mapsize);
  return fd;
}

}  // namespace io
