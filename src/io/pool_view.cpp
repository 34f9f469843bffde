#include "io/pool_view.h"

#include <algorithm>
#include <string>

#include "error/check.h"

namespace io {

namespace {

std::uint64_t loadLittleEndian(const std::uint8_t* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

void storeLittleEndian(std::uint8_t* at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) {
    at[i] = static_cast<std::uint8_t>(value);
    value >>= 8;
  }
}

// No pool is this large: offsets travel in 32-bit words.
constexpr std::uint64_t kBeyondAnyPool = std::uint64_t{1} << 40;

}  // namespace

void PoolView::checkHeaderInPool(std::uint64_t off) const {
  HX_CHECK(off < mapsize_ && mapsize_ - off >= kBlockHeaderSize,
           "Offset out of range: " + std::to_string(off) + " !< " + std::to_string(mapsize_));
}

std::uint64_t PoolView::headerWord(std::uint64_t off) const {
  checkHeaderInPool(off);
  return loadLittleEndian(base_ + off);
}

std::uint64_t PoolView::len(std::uint64_t off) const {
  checkHeaderInPool(off);
  return loadLittleEndian(base_ + off + 8);
}

std::uint64_t PoolView::nextOffset(std::uint64_t off) const {
  const std::uint64_t word = headerWord(off);
  const std::uint64_t length = len(off);
  if (length >= kBeyondAnyPool) return kBeyondAnyPool;
  return align8(off + kBlockHeaderSize + length) + ((word & 2u) != 0 ? 8 : 0);
}

std::span<const std::uint8_t> PoolView::message(std::uint64_t off, std::uint64_t areaStart,
                                                std::uint64_t areaEnd) const {
  checkHeaderInPool(off);
  const std::uint64_t end = std::min(areaEnd, mapsize_);
  HX_CHECK(off >= areaStart && off % 8 == 0 && off + kBlockHeaderSize <= end,
           "Message offset " + std::to_string(off) + " is not a block of the write area " +
               std::to_string(areaStart) + " - " + std::to_string(areaEnd));
  const std::uint64_t length = len(off);
  HX_CHECK(isUsed(off) && length > 0, "Message at " + std::to_string(off) + " is not a used block");
  HX_CHECK(length <= end - off - kBlockHeaderSize,
           "Message at " + std::to_string(off) + " of length " + std::to_string(length) +
               " runs past the write area ending at " + std::to_string(areaEnd));
  return {data(off), static_cast<std::size_t>(length)};
}

void PoolView::setHeaderWord(std::uint64_t off, std::uint64_t word) {
  checkHeaderInPool(off);
  storeLittleEndian(base_ + off, word);
}

void PoolView::setLen(std::uint64_t off, std::uint64_t length) {
  checkHeaderInPool(off);
  storeLittleEndian(base_ + off + 8, length);
}

void PoolView::initUsed(std::uint64_t off, std::uint64_t prev, std::uint64_t next,
                        std::uint64_t length) {
  HX_CHECK(prev % 4 == 0, "Misaligned prev_offset: " + std::to_string(prev));
  HX_CHECK(length > 0, "Creating empty block");
  checkHeaderInPool(off);
  const std::uint64_t aligned = align8(off + kBlockHeaderSize + length);
  std::uint64_t word = prev | 1u;
  if (next == aligned + 8) {
    word |= 2u;
  } else {
    HX_CHECK(next == aligned, "Invalid next_offset: " + std::to_string(next) + ", align: " +
                                  std::to_string(aligned) + ", my: " + std::to_string(off) +
                                  ", len: " + std::to_string(length));
  }
  setHeaderWord(off, word);
  setLen(off, length);
  const std::uint64_t computed = nextOffset(off);
  HX_CHECK(computed == next, "initUsed next_offset is " + std::to_string(computed) +
                                 " but should be " + std::to_string(next));
}

void PoolView::initFree(std::uint64_t off, std::uint64_t prev, std::uint64_t next) {
  HX_CHECK(prev % 4 == 0, "Misaligned prev_offset: " + std::to_string(prev));
  // A span shorter than a header would make len wrap around.
  HX_CHECK(next >= off + kBlockHeaderSize, "initFree next_offset is " + std::to_string(next) +
                                               " but should be at least " +
                                               std::to_string(off + kBlockHeaderSize));
  setHeaderWord(off, prev);
  setLen(off, next - off - kBlockHeaderSize);
  const std::uint64_t computed = nextOffset(off);
  HX_CHECK(computed == next, "initFree next_offset is " + std::to_string(computed) +
                                 " but should be " + std::to_string(next));
}

void PoolView::setPrevOffset(std::uint64_t off, std::uint64_t prev) {
  HX_CHECK(prev % 4 == 0, "prev_offset misaligned");
  setHeaderWord(off, prev | (headerWord(off) & 3u));
}

}  // namespace io
