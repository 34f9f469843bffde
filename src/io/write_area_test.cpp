#include "io/write_area.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <vector>

namespace io {
namespace {

class Recorder : public WriteAreaListener {
 public:
  void announce(int to, std::uint64_t offset) override { announced.push_back({to, offset}); }
  void setStreamsReady(bool on) override { ready = on; }
  std::vector<std::pair<int, std::uint64_t>> announced;
  bool ready = false;
};

// A pool with one write area at kStart; the bytes around it must stay as
// they are.
class WriteAreaTest : public ::testing::Test {
 protected:
  static constexpr std::uint64_t kStart = 64;

  void setUp(std::uint64_t masize) {
    pool.assign(kStart + masize + 32, 0xEE);
    area = std::make_unique<WriteArea>(view(), kStart, masize, events);
  }
  PoolView view() { return PoolView(pool.data(), pool.size()); }
  std::uint64_t write(int stream, std::size_t size) {
    std::uint8_t* data = nullptr;
    size = std::min(size, area->writeBegin(stream, data));
    area->writeCommit(stream, size);
    return events.announced.back().second;
  }

  std::vector<std::uint8_t> pool;
  Recorder events;
  std::unique_ptr<WriteArea> area;
};

// Walks the area and checks the block chain, search_off and readiness
// against the area's bookkeeping; returns the number of blocks.
std::size_t checkArea(const PoolView& pool, const WriteArea& area, bool ready) {
  const std::uint64_t end = area.mastart() + area.masize();
  std::uint64_t off = area.mastart(), prev = 0;
  bool prevUsed = true, roomLeft = false, searchOffSeen = false;
  std::vector<std::uint64_t> used;
  std::size_t blocks = 0;
  for (; off != end && off + 16 <= end; ++blocks) {
    const std::uint64_t next = pool.nextOffset(off);
    EXPECT_EQ(pool.prevOffset(off), prev) << "block at " << off;
    EXPECT_TRUE(next == end || next + 16 <= end) << "block at " << off;
    if (pool.isUsed(off)) {
      EXPECT_GT(pool.len(off), 0u);
      used.push_back(off);
    } else {
      EXPECT_FALSE(pool.isPadded(off)) << "free block at " << off;
      EXPECT_TRUE(prevUsed) << "unmerged free blocks at " << off;
      roomLeft |= pool.len(off) > 0;
      searchOffSeen |= off == area.searchOff() && pool.len(off) > 0;
    }
    prevUsed = pool.isUsed(off);
    prev = std::exchange(off, next);
  }
  EXPECT_EQ(off, end) << "blocks do not tile the area";
  std::vector<std::uint64_t> outstanding;
  for (const auto& [o, to] : area.outstanding()) outstanding.push_back(o);
  EXPECT_EQ(used, outstanding);
  EXPECT_EQ(ready, area.searchOff() != WriteArea::kNone);
  EXPECT_EQ(roomLeft, ready);
  EXPECT_TRUE(searchOffSeen || !ready) << "search_off " << area.searchOff();
  return blocks;
}

// Random message sizes (favouring a whole block, 8 and 16 bytes to spare)
// and random acknowledgement orders over small areas.
TEST_F(WriteAreaTest, RandomWritesAndAcknowledgementsKeepTheAreaConsistent) {
  int padded = 0, wholeArea = 0, mergedBoth = 0, secondParts = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    const std::uint64_t masize = 32 + 8 * (rng() % 40);
    setUp(masize);
    std::map<std::uint64_t, std::vector<std::uint8_t>> sent;  // block offset -> bytes
    for (int step = 0; step < 400; ++step) {
      if (events.ready && (sent.empty() || rng() % 3 != 0)) {
        const int stream = static_cast<int>(rng() % 4);
        std::uint8_t* data = nullptr;
        std::size_t room = area->writeBegin(stream, data);
        if (rng() % 8 == 0) {  // commit nothing, then ask again: the same space
          area->writeCommit(stream, 0);
          std::uint8_t* again = nullptr;
          ASSERT_EQ(area->writeBegin(stream, again), room);
          ASSERT_EQ(again, data);
          ++secondParts;
        }
        const unsigned pick = rng() % 6;
        std::size_t size = pick == 0 ? room : 1 + rng() % room;
        if (pick == 1 && room > 8) size = room - 8 - rng() % 8;
        if (pick == 2 && room > 16) size = room - 16;
        std::vector<std::uint8_t> bytes(size);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        std::memcpy(data, bytes.data(), size);
        area->writeCommit(stream, size);
        ASSERT_EQ(events.announced.back().first, stream);
        const std::uint64_t off = events.announced.back().second;
        ASSERT_EQ(view().len(off), size);
        padded += view().isPadded(off);
        wholeArea += off == kStart && view().nextOffset(off) == kStart + masize;
        sent[off] = std::move(bytes);
      } else {
        auto it = std::next(sent.begin(), static_cast<long>(rng() % sent.size()));
        const std::uint64_t off = it->first;
        ASSERT_EQ(std::memcmp(view().data(off), it->second.data(), it->second.size()), 0)
            << "message at " << off << " was overwritten";
        const std::uint64_t prev = view().prevOffset(off), next = view().nextOffset(off);
        mergedBoth +=
            prev != 0 && !view().isUsed(prev) && next < kStart + masize && !view().isUsed(next);
        area->acknowledge(off, 1);
        sent.erase(it);
      }
      checkArea(view(), *area, events.ready);
      if (HasFailure()) FAIL() << "seed " << seed << " step " << step;
    }
    for (const auto& [off, bytes] : sent) area->acknowledge(off, 1);
    EXPECT_EQ(checkArea(view(), *area, events.ready), 1u);
    EXPECT_EQ(area->searchOff(), kStart);
    EXPECT_TRUE(std::all_of(pool.begin(), pool.begin() + kStart, [](auto b) { return b == 0xEE; }));
    EXPECT_TRUE(
        std::all_of(pool.begin() + kStart + masize, pool.end(), [](auto b) { return b == 0xEE; }));
  }
  EXPECT_GT(padded, 0);
  EXPECT_GT(wholeArea, 0);
  EXPECT_GT(mergedBoth, 0);
  EXPECT_GT(secondParts, 0);
}

using WriteAreaDeathTest = WriteAreaTest;

TEST_F(WriteAreaDeathTest, PeersCannotMakeItFreeOrReadWhatItDoesNotOwn) {
  setUp(256);
  const std::uint64_t a = write(1, 20);
  const std::uint64_t b = write(1, 20);
  EXPECT_DEATH(area->acknowledge(a + 8, 1),
               "Assertion failed: Not one of my messages: AckMessageAt\\(72\\) \\[from:1\\]");
  EXPECT_DEATH(area->acknowledge(1u << 20, 4), "Not one of my messages: AckMessageAt\\(1048576\\)");
  EXPECT_DEATH((void)view().len(pool.size() - 8),
               "Assertion failed: Offset out of range: 344 !< 352");
  // Another process scribbles a length into a used block that runs past the area.
  std::memset(pool.data() + b + 8, 0x7F, 8);
  EXPECT_DEATH(area->acknowledge(b, 1), "Assertion failed: Bad new_free_next_offset: ");
  std::memset(pool.data() + b + 8, 0, 8);
  pool[b + 8] = static_cast<std::uint8_t>(kStart + 256 - b - 16 + 1);
  EXPECT_DEATH(area->acknowledge(b, 1), "Bad new_free_next_offset: 328 area end is 320");
  EXPECT_DEATH(write(2, 300), "Assertion failed: next_off \\(328 is beyond our area");
  // A reader of the area, given offsets and lengths by the writer, checks both.
  EXPECT_EQ(view().message(a, kStart, kStart + 256).size(), 20u);
  EXPECT_DEATH((void)view().message(a + 8, kStart, kStart + 256), "is not a used block");
  EXPECT_DEATH((void)view().message(a, a + 8, kStart + 256), "is not a block of the write area");
  EXPECT_DEATH((void)view().message(b, kStart, kStart + 256),
               "Message at 104 of length 201 runs past the write area ending at 320");
  area->acknowledge(a, 1);
  EXPECT_DEATH(area->acknowledge(a, 1), "Not one of my messages");
}

TEST_F(WriteAreaDeathTest, MisuseOfTheAreaEndsInAnAssertion) {
  setUp(128);
  std::uint8_t* data = nullptr;
  const std::uint64_t first = write(3, 8);
  EXPECT_DEATH(area->writeCommit(1, 4), "Assertion failed: Commit without an OStream writing");
  (void)area->writeBegin(1, data);
  EXPECT_DEATH(area->acknowledge(first, 3), "Acknowledgement of 64 while a write is in progress");
  EXPECT_DEATH((void)area->writeBegin(2, data), "Assertion failed: Multiple OStreams writing");
  EXPECT_DEATH(area->writeCommit(1, 89),
               "Assertion failed: write offset 89 above current block size 88 after adding 89");
  area->writeCommit(1, 0);
  EXPECT_DEATH((void)area->writeBegin(2, data), "Assertion failed: Creating empty block");
  Recorder other;
  EXPECT_DEATH(WriteArea(view(), 256, 200, other), "Assertion failed: block_header init error");
  EXPECT_DEATH(WriteArea(view(), 64, kBlockHeaderSize, other),
               "Assertion failed: block_header init error");
}

}  // namespace
}  // namespace io
