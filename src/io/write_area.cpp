#include "io/write_area.h"

#include <string>

#include "error/check.h"

namespace io {

namespace {

std::string str(std::uint64_t value) { return std::to_string(value); }

}  // namespace

WriteArea::WriteArea(PoolView pool, std::uint64_t mastart, std::uint64_t masize,
                     WriteAreaListener& listener)
    : pool_(pool), mastart_(mastart), masize_(masize), listener_(listener) {
  // The area comes from the parent: it must be a whole number of 8-byte
  // units inside the pool, behind the magic and large enough for a header
  // and at least one unit of message. An area that is only a header would
  // say its streams are ready while no message could ever be written.
  HX_CHECK(mastart_ >= 8 && mastart_ % 8 == 0 && masize_ % 8 == 0 && masize_ > kBlockHeaderSize &&
               mastart_ <= pool_.mapsize() && masize_ <= pool_.mapsize() - mastart_,
           "block_header init error");
  pool_.initFree(mastart_, 0, areaEnd());
  HX_CHECK(pool_.nextOffset(mastart_) == areaEnd(), "block_header init error");
  search_off_ = mastart_;
  listener_.setStreamsReady(true);
}

bool WriteArea::endsWell(std::uint64_t next) const {
  return next == areaEnd() || next + kBlockHeaderSize <= areaEnd();
}

std::size_t WriteArea::writeBegin(int stream, std::uint8_t*& data) {
  if (unnotified_sibling_ && *unnotified_sibling_ != stream) {
    flush();
    HX_CHECK(!unnotified_sibling_, "Even after flush, our unnotified sibling still exist");
  }
  // One block is written at a time: a second stream writing now would be
  // handed the same free block.
  HX_CHECK(writing_.empty(), "Multiple OStreams writing");
  writing_.insert(stream);
  HX_CHECK(search_off_ != kNone, "SiblingOStream::writeBegin(), ready but no free blocks");
  HX_CHECK(search_off_ >= mastart_ && search_off_ + kBlockHeaderSize <= areaEnd(),
           "SiblingOStream::writeBegin(): Invalid block_off: " + str(search_off_) +
               " mastart: " + str(mastart_) + " masize: " + str(masize_) + " bsize: 16");
  if (unnotified_sibling_) {
    // A further part of this stream's own committed message.
    data = pool_.data(search_off_) + written_;
    return capacity_ - written_;
  }
  const std::uint64_t next = pool_.nextOffset(search_off_);
  HX_CHECK(next > mastart_ && next <= areaEnd(),
           "writeBegin(): next_offset out of bounds " + str(next));
  capacity_ = next - search_off_ - kBlockHeaderSize;
  written_ = 0;
  HX_CHECK(capacity_ > 0, "No space available in SiblingOStream::writeBegin()");
  data = pool_.data(search_off_);
  return capacity_;
}

void WriteArea::writeCommit(int stream, std::size_t n) {
  HX_CHECK(writing_.erase(stream) == 1, "Commit without an OStream writing");
  HX_CHECK(!unnotified_sibling_ || *unnotified_sibling_ == stream,
           "writeCommit found a completely different unnotified_sibling");
  unnotified_sibling_ = stream;
  if (n == 0) return;
  const bool fits = n <= capacity_ - written_;
  written_ += n;
  HX_CHECK(fits, "write offset " + str(written_) + " above current block size " + str(capacity_) +
                     " after adding " + str(n));
  flush();
}

void WriteArea::flush() {
  if (!unnotified_sibling_) return;
  const int destination = *unnotified_sibling_;
  HX_CHECK(!writing_.contains(destination), "Flush called with write in progress!");
  const std::uint64_t off = search_off_;
  const std::uint64_t next = pool_.nextOffset(off);
  HX_CHECK(next > mastart_ && next <= areaEnd(),
           "writeCommit(): next_offset out of bounds " + str(next));
  const std::uint64_t w = written_;
  HX_CHECK(w <= next - off - kBlockHeaderSize, "Overcommit in SiblingOStream");
  const std::uint64_t prev = pool_.prevOffset(off);
  if (w + 2 * kBlockHeaderSize > next - off) {
    // The remainder (0 or 8 bytes) cannot hold a block: the message takes
    // the whole free block, padded when 8 bytes are left over.
    pool_.initUsed(off, prev, next, w);
    search_off_ = next;
    const std::uint64_t got = pool_.nextOffset(off);
    HX_CHECK(endsWell(got), "(nosplit) Next Offset of block is at " + str(got) +
                                " and the end of our area is at " + str(areaEnd()));
  } else {
    const std::uint64_t split = align8(off + kBlockHeaderSize + w);
    HX_CHECK(split >= mastart_ && split + kBlockHeaderSize <= areaEnd(),
             "new_offset " + str(split) + " out of bounds; mastart: " + str(mastart_) +
                 " masize: " + str(masize_));
    pool_.initUsed(off, prev, split, w);
    pool_.initFree(split, off, next);
    const std::uint64_t got = pool_.nextOffset(split);
    HX_CHECK(got == next,
             "Bad next_offset - block header has " + str(got) + " and we expected " + str(next));
    HX_CHECK(endsWell(got), "(split) Next Offset of new block is at " + str(got) +
                                " and the end of our area is at " + str(areaEnd()));
    if (next < areaEnd()) pool_.setPrevOffset(next, split);
    search_off_ = split;
  }
  searchFreeBlock();
  unnotified_sibling_.reset();
  outstanding_.emplace(off, destination);
  listener_.announce(destination, off);
}

void WriteArea::searchFreeBlock() {
  std::uint64_t start = search_off_;
  if (start + kBlockHeaderSize > areaEnd()) {
    HX_CHECK(start == areaEnd(),
             "search_off at " + str(start) + " with end of area at " + str(areaEnd()));
    start = mastart_;
  }
  std::uint64_t s = start;
  bool wrapped = false;
  while (true) {
    const std::uint64_t next = pool_.nextOffset(s);
    HX_CHECK(next <= areaEnd(), "next_off (" + str(next) + " is beyond our area");
    if (!pool_.isUsed(s) && next != s + kBlockHeaderSize) {
      search_off_ = s;
      return;
    }
    if (wrapped && s < start && next > start) {
      // The walk jumps over where it began: the chain of blocks is broken.
      error::assertionFailed("search_off at " + str(start) + " is not on the chain of blocks");
    }
    s = next;
    if (s + kBlockHeaderSize > areaEnd()) {
      HX_CHECK(s == areaEnd(),
               "search_off at " + str(s) + " with end of area at " + str(areaEnd()));
      s = mastart_;
      wrapped = true;
    }
    if (s == start) {
      // Every block is in use: writers wait for acknowledgements.
      search_off_ = kNone;
      listener_.setStreamsReady(false);
      return;
    }
  }
}

void WriteArea::acknowledge(std::uint64_t off, int from) {
  const auto found = outstanding_.find(off);
  HX_CHECK(found != outstanding_.end(), "Not one of my messages: AckMessageAt(" + str(off) +
                                            ") [from:" + std::to_string(from) + "]");
  outstanding_.erase(found);
  // Merging may move the free block being written into; acknowledgements
  // are handled between writes, never inside one.
  HX_CHECK(writing_.empty(), "Acknowledgement of " + str(off) + " while a write is in progress");

  std::uint64_t start = off;
  const std::uint64_t prev = pool_.prevOffset(off);
  if (prev != 0) {
    HX_CHECK(prev >= mastart_ && prev < off && pool_.nextOffset(prev) == off,
             "prev_offset " + str(prev) + " of block at " + str(off) + " does not lead back to it");
    if (!pool_.isUsed(prev)) start = prev;
  }
  if (search_off_ == off) search_off_ = start;

  std::uint64_t end = pool_.nextOffset(off);
  HX_CHECK(endsWell(end) && end <= areaEnd(),
           "Bad new_free_next_offset: " + str(end) + " area end is " + str(areaEnd()));
  if (end < areaEnd() && !pool_.isUsed(end)) {
    const std::uint64_t following = end;
    end = pool_.nextOffset(following);
    HX_CHECK(endsWell(end) && end <= areaEnd(),
             "Bad2 new_free_next_offset: " + str(end) + " area end is " + str(areaEnd()));
    if (search_off_ == following) search_off_ = start;
  }
  HX_CHECK(end > mastart_ && endsWell(end) && end <= areaEnd(),
           "new_free_next_offset out of bounds " + str(end) + " end of area is " + str(areaEnd()));
  pool_.initFree(start, pool_.prevOffset(start), end);
  if (end < areaEnd()) pool_.setPrevOffset(end, start);

  if (search_off_ != kNone) {
    HX_CHECK(search_off_ <= start || search_off_ >= end,
             "Search offset got coalesced... at: " + str(search_off_) +
                 " with new free block from " + str(start) + " - " + str(end));
  } else {
    search_off_ = start;
    listener_.setStreamsReady(true);
  }
}

std::vector<std::uint64_t> WriteArea::outstandingTo(int destination) const {
  std::vector<std::uint64_t> offsets;
  for (const auto& [off, to] : outstanding_) {
    if (to == destination) offsets.push_back(off);
  }
  return offsets;
}

}  // namespace io
