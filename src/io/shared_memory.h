#pragma once
// The shared memory pool of the process family, mapped into this process.
// The main process creates the pool (createSharedMemoryPool) and its
// children inherit the descriptor; every process maps the whole pool
// read-write and shared. The pool opens with a 4-byte magic; the write areas
// follow wherever the main process lays them out.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "io/pool_view.h"
#include "os/owned_fd.h"

namespace io {

inline constexpr std::uint32_t kPoolMagic = 0x71178228;

class SharedMemory {
 public:
  // Maps `mapsize` bytes of the pool `fd` (not owned) and checks the magic.
  // A failed mapping throws error::ESystemError "Cannot map view for sibling
  // messenger: " and the system's reason; a pool without the magic is an
  // internal failure "Wrong header of shared memory pool". A pool that is
  // not owned by this user or has rights for group or others throws
  // error::ESystemError "Shared memory pool descriptor N refused: " + why.
  SharedMemory(int fd, std::uint64_t mapsize);

  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] std::uint8_t* address() const { return view_.get(); }
  [[nodiscard]] std::uint64_t mapsize() const { return mapsize_; }
  [[nodiscard]] PoolView view() const { return PoolView(view_.get(), mapsize_); }

 private:
  struct Unmap {
    std::size_t size = 0;
    void operator()(std::uint8_t* address) const noexcept;
  };

  int fd_;
  std::uint64_t mapsize_;
  std::unique_ptr<std::uint8_t, Unmap> view_;
};

// A fresh pool of `mapsize` bytes with the magic written, owned by this
// user and inherited by children. Offsets travel in 32-bit words, so a pool
// larger than 4 GiB, or one too small for the magic, throws error::EFatal.
[[nodiscard]] os::OwnedFd createSharedMemoryPool(std::uint64_t mapsize);

}  // namespace io
