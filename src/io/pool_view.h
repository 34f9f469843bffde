#pragma once
// The block format of the shared-memory pool. Every write area is tiled,
// without gaps, by blocks that start on an 8-byte boundary and open with a
// 16-byte header:
//   bytes 0-7   header word, little-endian: bits 2-63 prev_offset (the pool
//               offset of the previous block of the area, 0 for the first),
//               bit 0 used, bit 1 padded
//   bytes 8-15  len, little-endian: the message bytes of a used block, or the
//               whole span less the header of a free block
// A block's next_offset is align8(off + 16 + len), plus 8 when padded: the
// padded flag lets a used block absorb an 8-byte remainder that could not
// hold a block of its own.
//
// The pool is shared with other processes, so nothing read from it is
// trusted: every header access checks that the header lies inside the pool
// before touching it.
#include <cstdint>
#include <span>

namespace io {

inline constexpr std::uint64_t kBlockHeaderSize = 16;

[[nodiscard]] constexpr std::uint64_t align8(std::uint64_t value) {
  return (value + 7) & ~std::uint64_t{7};
}

class PoolView {
 public:
  PoolView(std::uint8_t* base, std::uint64_t mapsize) : base_(base), mapsize_(mapsize) {}

  [[nodiscard]] std::uint8_t* base() const { return base_; }
  [[nodiscard]] std::uint64_t mapsize() const { return mapsize_; }

  // Fails "Offset out of range: " unless a whole block header fits at `off`.
  void checkHeaderInPool(std::uint64_t off) const;

  [[nodiscard]] std::uint64_t headerWord(std::uint64_t off) const;
  [[nodiscard]] std::uint64_t len(std::uint64_t off) const;
  [[nodiscard]] std::uint64_t prevOffset(std::uint64_t off) const {
    return headerWord(off) & ~std::uint64_t{3};
  }
  [[nodiscard]] bool isUsed(std::uint64_t off) const { return (headerWord(off) & 1u) != 0; }
  [[nodiscard]] bool isPadded(std::uint64_t off) const { return (headerWord(off) & 2u) != 0; }
  // A length too large for any pool gives a next_offset far beyond it, so
  // that the caller's bounds check fails instead of the sum wrapping.
  [[nodiscard]] std::uint64_t nextOffset(std::uint64_t off) const;
  // Where the block's bytes begin.
  [[nodiscard]] std::uint8_t* data(std::uint64_t off) const {
    return base_ + off + kBlockHeaderSize;
  }

  // The message bytes of the used block at `off`, which a sibling announced
  // in its write area [areaStart, areaEnd). The offset and the block's
  // length both come from the peer, so they are checked against its area
  // (and the pool) before the message is handed out.
  [[nodiscard]] std::span<const std::uint8_t> message(std::uint64_t off, std::uint64_t areaStart,
                                                      std::uint64_t areaEnd) const;

  // Writes a used block of `len` message bytes at `off` whose next_offset is
  // `next`: align8(off + 16 + len), or 8 more with the padded flag.
  void initUsed(std::uint64_t off, std::uint64_t prev, std::uint64_t next, std::uint64_t len);
  // Writes a free block at `off` spanning up to `next`.
  void initFree(std::uint64_t off, std::uint64_t prev, std::uint64_t next);
  // Relinks the block at `off` to a new predecessor, keeping its flags.
  void setPrevOffset(std::uint64_t off, std::uint64_t prev);

 private:
  void setHeaderWord(std::uint64_t off, std::uint64_t word);
  void setLen(std::uint64_t off, std::uint64_t len);

  std::uint8_t* base_;
  std::uint64_t mapsize_;
};

}  // namespace io
