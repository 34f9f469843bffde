// Drives the write-area allocator with a sequence of writes and
// acknowledgements taken from the input, over a small area, and checks the
// area after every step: its blocks tile it without gaps, every block links
// back to its predecessor, free blocks are merged, the used blocks are
// exactly the messages announced and not yet acknowledged, each still holds
// the bytes written into it, readiness matches the free space, and the pool
// outside the area is untouched.
//
// Input: byte 0 sets the area size (24 to 264 bytes: the smallest area
// that holds a message has 8 bytes behind the header); then each step is an
// opcode byte followed by its arguments:
//   0 s n  write one message of n bytes for stream s (n >= 250: the whole
//          block less (n - 250) * 8 bytes, to hit the split boundaries)
//   1 s n  the same message written in two parts (a first commit of 0)
//   2 i    acknowledge the i-th outstanding message (in offset order)
//   3      acknowledge the oldest announced message
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "io/write_area.h"

namespace {

constexpr std::uint64_t kStart = 64;
constexpr std::uint8_t kGuard = 0xEE;

[[noreturn]] void fail() { std::abort(); }

void require(bool condition) {
  if (!condition) fail();
}

class Listener : public io::WriteAreaListener {
 public:
  void announce(int destination, std::uint64_t offset) override {
    announced.push_back({destination, offset});
  }
  void setStreamsReady(bool on) override { ready = on; }
  std::vector<std::pair<int, std::uint64_t>> announced;
  bool ready = false;
};

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  bool more() const { return at < size; }
  std::uint8_t next() { return at < size ? data[at++] : 0; }
};

class Harness {
 public:
  explicit Harness(std::uint64_t masize)
      : pool_(kStart + masize + 32, kGuard),
        area_(io::PoolView(pool_.data(), pool_.size()), kStart, masize, listener_) {
    check();
  }

  void write(int stream, std::uint8_t wanted, bool inParts) {
    if (area_.searchOff() == io::WriteArea::kNone) return;  // owner waits for room
    std::uint8_t* data = nullptr;
    std::size_t room = area_.writeBegin(stream, data);
    require(room > 0);
    if (inParts) {
      area_.writeCommit(stream, 0);
      require(listener_.announced.size() == announcedBefore_);
      std::uint8_t* again = nullptr;
      require(area_.writeBegin(stream, again) == room && again == data);
    }
    std::size_t n = wanted;
    if (wanted >= 250) {
      const std::size_t less = std::size_t{wanted - 250u} * 8;
      n = room > less ? room - less : 1;
    }
    n = std::clamp<std::size_t>(n, 1, room);
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(serial_ * 31 + i);
    ++serial_;
    std::memcpy(data, bytes.data(), n);
    area_.writeCommit(stream, n);
    require(listener_.announced.size() == announcedBefore_ + 1);
    const auto [to, off] = listener_.announced.back();
    announcedBefore_ = listener_.announced.size();
    require(to == stream);
    require(contents_.emplace(off, std::move(bytes)).second);
    order_.push_back(off);
  }

  void acknowledge(std::size_t index) {
    if (contents_.empty()) return;
    auto it = contents_.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(index % contents_.size()));
    ackAt(it->first);
  }

  void acknowledgeOldest() {
    if (!order_.empty()) ackAt(order_.front());
  }

  // The whole area and the pool around it.
  void check() {
    for (std::uint64_t i = 0; i < kStart; ++i) require(pool_[i] == kGuard);
    const std::uint64_t end = area_.mastart() + area_.masize();
    for (std::uint64_t i = end; i < pool_.size(); ++i) require(pool_[i] == kGuard);
    const io::PoolView view(pool_.data(), pool_.size());
    std::uint64_t off = area_.mastart(), prev = 0;
    bool prevUsed = true, room = false, searchSeen = false;
    std::vector<std::uint64_t> used;
    while (off != end) {
      require(off + io::kBlockHeaderSize <= end && off % 8 == 0);
      require(view.prevOffset(off) == prev);
      const std::uint64_t next = view.nextOffset(off);
      require(next > off && next <= end);
      if (view.isUsed(off)) {
        used.push_back(off);
        const auto found = contents_.find(off);
        require(found != contents_.end());
        require(view.len(off) == found->second.size());
        require(std::memcmp(view.data(off), found->second.data(), found->second.size()) == 0);
      } else {
        require(!view.isPadded(off));
        require(prevUsed);  // free neighbours are merged
        room |= view.len(off) > 0;
        searchSeen |= off == area_.searchOff() && view.len(off) > 0;
      }
      prevUsed = view.isUsed(off);
      prev = off;
      off = next;
    }
    std::vector<std::uint64_t> outstanding;
    for (const auto& [o, to] : area_.outstanding()) outstanding.push_back(o);
    require(used == outstanding);
    require(used.size() == contents_.size());
    const bool ready = area_.searchOff() != io::WriteArea::kNone;
    require(ready == listener_.ready);
    require(ready == room);
    require(!ready || searchSeen);
  }

 private:
  void ackAt(std::uint64_t off) {
    area_.acknowledge(off, 1);
    contents_.erase(off);
    order_.erase(std::find(order_.begin(), order_.end(), off));
  }

  std::vector<std::uint8_t> pool_;
  Listener listener_;
  io::WriteArea area_;
  std::map<std::uint64_t, std::vector<std::uint8_t>> contents_;  // what each message holds
  std::deque<std::uint64_t> order_;                              // announcement order
  std::size_t announcedBefore_ = 0;
  unsigned serial_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Input in{data, size};
  Harness harness(24 + 8 * std::uint64_t{in.next() % 31u});
  for (int steps = 0; in.more() && steps < 4096; ++steps) {
    const std::uint8_t op = in.next() % 4;
    if (op <= 1) {
      const int stream = in.next() % 4;
      harness.write(stream, in.next(), op == 1);
    } else if (op == 2) {
      harness.acknowledge(in.next());
    } else {
      harness.acknowledgeOldest();
    }
    harness.check();
  }
  return 0;
}
