#pragma once
// The allocator of one sibling's write area in the shared pool. The area's
// owner is its only writer: every outgoing message, whatever its
// destination, is written as a block here, announced to the receiver by its
// offset and freed when the receiver acknowledges it. Allocation is next-fit
// in a ring: messages follow one another through the area, the writer wraps
// to the start at the end, and space comes back in whatever order the
// receivers acknowledge, merged with free neighbours.
//
// Output streams are identified by their destination sibling id. A stream
// asks for space with writeBegin, fills some and commits it with
// writeCommit; a committed message stays "unnotified" until the next flush
// turns it into a used block and announces it. Readiness of the streams
// (whether there is a free block to write into) and the announcements go
// out through WriteAreaListener. Whether a stream may write at all (ready,
// destination alive, no shutdown) is its owner's to check before
// writeBegin.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "io/pool_view.h"

namespace io {

class WriteAreaListener {
 public:
  virtual ~WriteAreaListener() = default;
  // The message in the block at `offset` is complete: send MessageAt(offset)
  // to `destination`.
  virtual void announce(int destination, std::uint64_t offset) = 0;
  // Make every output stream ready (a free block exists) or not ready (the
  // whole area awaits acknowledgements).
  virtual void setStreamsReady(bool ready) = 0;
};

class WriteArea {
 public:
  // search_off when the area holds no free block with room.
  static constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

  // Sets up the area [mastart, mastart + masize) of the pool as one free
  // block and makes every output stream ready.
  WriteArea(PoolView pool, std::uint64_t mastart, std::uint64_t masize,
            WriteAreaListener& listener);
  WriteArea(const WriteArea&) = delete;
  WriteArea& operator=(const WriteArea&) = delete;

  // Points `data` at the space for `stream`'s message and returns its size.
  // Flushes another stream's committed message first.
  [[nodiscard]] std::size_t writeBegin(int stream, std::uint8_t*& data);
  // Commits n bytes of what writeBegin gave; n > 0 flushes the message.
  void writeCommit(int stream, std::size_t n);
  // Turns the unnotified message into a used block and announces it.
  void flush();
  // The receiver `from` has consumed the message at `off`: free its block
  // and merge it with free neighbours.
  void acknowledge(std::uint64_t off, int from);

  [[nodiscard]] std::uint64_t mastart() const { return mastart_; }
  [[nodiscard]] std::uint64_t masize() const { return masize_; }
  [[nodiscard]] std::uint64_t searchOff() const { return search_off_; }
  [[nodiscard]] std::optional<int> unnotifiedSibling() const { return unnotified_sibling_; }
  // Announced and not yet acknowledged: block offset to destination.
  [[nodiscard]] const std::map<std::uint64_t, int>& outstanding() const { return outstanding_; }
  [[nodiscard]] std::vector<std::uint64_t> outstandingTo(int destination) const;

 private:
  [[nodiscard]] std::uint64_t areaEnd() const { return mastart_ + masize_; }
  // True when `next` is the area end or leaves room for another header.
  [[nodiscard]] bool endsWell(std::uint64_t next) const;
  void searchFreeBlock();

  PoolView pool_;
  std::uint64_t mastart_;
  std::uint64_t masize_;
  WriteAreaListener& listener_;
  std::uint64_t search_off_ = kNone;
  std::uint64_t capacity_ = 0;
  std::uint64_t written_ = 0;
  std::set<int> writing_;
  std::optional<int> unnotified_sibling_;
  std::map<std::uint64_t, int> outstanding_;
};

}  // namespace io
