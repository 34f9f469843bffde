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
  void announce(int destination, std::uint64_t offset) override {
    announced.push_back({destination, offset});
  }
  void setStreamsReady(bool on) override { ready = on; }

  std::vector<std::pair<int, std::uint64_t>> announced;
  bool ready = false;
};

// A pool with one write area at kStart; the bytes before it stand for the
// pool header.
class WriteAreaTest : public ::testing::Test {
 protected:
  static constexpr std::uint64_t kStart = 64;

  void setUp(std::uint64_t masize) {
    pool.assign(kStart + masize + 32, 0xEE);
    area = std::make_unique<WriteArea>(PoolView(pool.data(), pool.size()), kStart, masize, events);
  }
  PoolView view() { return PoolView(pool.data(), pool.size()); }

  // Writes one message of `size` bytes (at most what writeBegin offers) for
  // `stream`, filled with `fill`; returns its block offset.
  std::uint64_t write(int stream, std::size_t size, std::uint8_t fill = 0x5A) {
    std::uint8_t* data = nullptr;
    const std::size_t room = area->writeBegin(stream, data);
    size = std::min(size, room);
    std::memset(data, fill, size);
    area->writeCommit(stream, size);
    return events.announced.back().second;
  }

  std::vector<std::uint8_t> pool;
  Recorder events;
  std::unique_ptr<WriteArea> area;
};

struct Block {
  std::uint64_t off, next, len;
  bool used, padded;
};

// Walks the area and checks every invariant of the block chain, of
// search_off and of readiness against the area's bookkeeping.
std::vector<Block> checkArea(const PoolView& pool, const WriteArea& area, bool ready) {
  std::vector<Block> blocks;
  const std::uint64_t end = area.mastart() + area.masize();
  std::uint64_t off = area.mastart(), prev = 0;
  while (off != end) {
    EXPECT_EQ(off % 8, 0u);
    EXPECT_LE(off + 16, end) << "block at " << off;
    if (off + 16 > end) break;
    const Block b{off, pool.nextOffset(off), pool.len(off), pool.isUsed(off), pool.isPadded(off)};
    EXPECT_EQ(pool.prevOffset(off), prev) << "block at " << off;
    EXPECT_TRUE(b.next == end || b.next + 16 <= end) << "block at " << off;
    if (b.used) {
      EXPECT_GT(b.len, 0u);
    } else {
      EXPECT_FALSE(b.padded) << "free block at " << off;
      const bool afterUsed = blocks.empty() || blocks.back().used;
      EXPECT_TRUE(afterUsed) << "unmerged free blocks at " << off;
    }
    blocks.push_back(b);
    prev = off;
    off = b.next;
  }
  std::vector<std::uint64_t> used;
  bool roomLeft = false;
  for (const Block& b : blocks) {
    if (b.used) used.push_back(b.off);
    if (!b.used && b.len > 0) roomLeft = true;
  }
  std::vector<std::uint64_t> outstanding;
  for (const auto& [o, to] : area.outstanding()) outstanding.push_back(o);
  EXPECT_EQ(used, outstanding);
  if (area.searchOff() == WriteArea::kNone) {
    EXPECT_FALSE(roomLeft);
    EXPECT_FALSE(ready);
  } else {
    EXPECT_TRUE(ready);
    const auto at = std::find_if(blocks.begin(), blocks.end(),
                                 [&](const Block& b) { return b.off == area.searchOff(); });
    EXPECT_NE(at, blocks.end()) << "search_off " << area.searchOff() << " is not a block";
    if (at != blocks.end()) {
      EXPECT_TRUE(!at->used && at->len > 0);
    }
  }
  return blocks;
}

TEST_F(WriteAreaTest, RandomWritesAndAcknowledgementsKeepTheAreaConsistent) {
  int padded = 0, filledAll = 0, mergedBoth = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    const std::uint64_t masize = 64 + 8 * (rng() % 40);
    setUp(masize);
    std::map<std::uint64_t, std::vector<std::uint8_t>> sent;  // block offset -> bytes
    for (int step = 0; step < 400; ++step) {
      const bool writeNow = events.ready && (sent.empty() || rng() % 3 != 0);
      if (writeNow) {
        std::uint8_t* data = nullptr;
        const int stream = static_cast<int>(rng() % 4);
        const std::size_t room = area->writeBegin(stream, data);
        // Favour the sizes at the edges: all of it, 8 spare, 16 spare.
        std::size_t size = 1 + rng() % room;
        const unsigned pick = rng() % 6;
        if (pick == 0) size = room;
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
        filledAll += area->searchOff() == WriteArea::kNone;
        sent[off] = std::move(bytes);
      } else {
        auto it = sent.begin();
        std::advance(it, rng() % sent.size());
        const std::uint64_t off = it->first;
        ASSERT_EQ(view().len(off), it->second.size());
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
    // Everything acknowledged: one free block again.
    while (!sent.empty()) {
      area->acknowledge(sent.begin()->first, 1);
      sent.erase(sent.begin());
    }
    const auto blocks = checkArea(view(), *area, events.ready);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(area->searchOff(), kStart);
    // Nothing outside the area was touched.
    EXPECT_TRUE(std::all_of(pool.begin(), pool.begin() + kStart, [](auto b) { return b == 0xEE; }));
    EXPECT_TRUE(
        std::all_of(pool.begin() + kStart + masize, pool.end(), [](auto b) { return b == 0xEE; }));
  }
  EXPECT_GT(padded, 0);
  EXPECT_GT(filledAll, 0);
  EXPECT_GT(mergedBoth, 0);
}

TEST_F(WriteAreaTest, OneMessageFillsAnAreaOfOneBlockUntilAcknowledged) {
  setUp(64);
  EXPECT_TRUE(events.ready);
  const std::uint64_t off = write(2, 40);  // 40 + 32 > 64: no split
  EXPECT_EQ(off, kStart);
  EXPECT_EQ(view().nextOffset(off), kStart + 64);
  EXPECT_TRUE(view().isPadded(off));  // align8(40) leaves 8 of the 48 bytes
  EXPECT_EQ(area->searchOff(), WriteArea::kNone);
  EXPECT_FALSE(events.ready);
  area->acknowledge(off, 2);
  EXPECT_EQ(area->searchOff(), kStart);
  EXPECT_TRUE(events.ready);
  EXPECT_EQ(view().len(kStart), 48u);
  EXPECT_FALSE(view().isUsed(kStart));
}

TEST_F(WriteAreaTest, SecondPartOfACommittedMessageFollowsTheFirst) {
  setUp(256);
  std::uint8_t* first = nullptr;
  const std::size_t room = area->writeBegin(3, first);
  area->writeCommit(3, 0);  // nothing yet: the message stays unnotified
  EXPECT_EQ(area->unnotifiedSibling(), 3);
  EXPECT_TRUE(events.announced.empty());
  std::uint8_t* again = nullptr;
  EXPECT_EQ(area->writeBegin(3, again), room);
  EXPECT_EQ(again, first);
  area->writeCommit(3, 10);
  ASSERT_EQ(events.announced.size(), 1u);
  EXPECT_EQ(events.announced[0], std::make_pair(3, kStart));
  EXPECT_EQ(area->outstandingTo(3), std::vector<std::uint64_t>{kStart});
  EXPECT_FALSE(area->unnotifiedSibling());
}

using WriteAreaDeathTest = WriteAreaTest;

TEST_F(WriteAreaDeathTest, PeersCannotMakeItReadOrFreeWhatItDoesNotOwn) {
  setUp(256);
  const std::uint64_t a = write(1, 20);
  write(1, 20);
  // Acknowledgements of offsets never announced, outside the area or twice.
  EXPECT_DEATH(area->acknowledge(a + 8, 1),
               "Assertion failed: Not one of my messages: "
               "AckMessageAt\\(72\\) \\[from:1\\]");
  EXPECT_DEATH(area->acknowledge(1u << 20, 4), "Not one of my messages: AckMessageAt\\(1048576\\)");
  area->acknowledge(a, 1);
  EXPECT_DEATH(area->acknowledge(a, 1), "Not one of my messages");
  // Headers are never read past the end of the pool.
  EXPECT_DEATH((void)view().len(pool.size() - 8),
               "Assertion failed: Offset out of range: 344 !< 352");
  EXPECT_DEATH((void)view().nextOffset(1u << 30), "Offset out of range: 1073741824 !< 352");
}

TEST_F(WriteAreaDeathTest, ACorruptedBlockLengthEndsInAnAssertion) {
  setUp(256);
  write(1, 20);
  const std::uint64_t b = write(1, 20);
  // Another process scribbles a huge length into a used block.
  std::memset(pool.data() + b + 8, 0x7F, 8);
  EXPECT_DEATH(area->acknowledge(b, 1), "Assertion failed: Bad new_free_next_offset: ");
  // ... or one that runs one byte past the area.
  pool[b + 8] = static_cast<std::uint8_t>(kStart + 256 - b - 16 + 1);
  std::memset(pool.data() + b + 9, 0, 7);
  EXPECT_DEATH(area->acknowledge(b, 1), "Bad new_free_next_offset: 328 area end is 320");
  // The walk that looks for free space meets it too.
  EXPECT_DEATH(write(2, 300), "Assertion failed: next_off \\(328 is beyond our area");
}

TEST_F(WriteAreaDeathTest, MisuseByTheStreamsEndsInAnAssertion) {
  setUp(128);
  std::uint8_t* data = nullptr;
  EXPECT_DEATH(area->writeCommit(1, 4), "Assertion failed: Commit without an OStream writing");
  (void)area->writeBegin(1, data);
  EXPECT_DEATH((void)area->writeBegin(2, data), "Assertion failed: Multiple OStreams writing");
  EXPECT_DEATH(area->writeCommit(1, 113),
               "Assertion failed: write offset 113 above current block size 112 after adding 113");
  area->writeCommit(1, 0);
  // Another stream flushes the empty message first.
  EXPECT_DEATH((void)area->writeBegin(2, data), "Assertion failed: Creating empty block");
  // An area that does not fit the pool is refused at set-up.
  Recorder other;
  EXPECT_DEATH(WriteArea(view(), 256, 200, other), "Assertion failed: block_header init error");
  EXPECT_DEATH(WriteArea(view(), 68, 64, other), "Assertion failed: block_header init error");
}

TEST(PoolViewDeathTest, BlockInitialisationChecksItsArguments) {
  std::vector<std::uint8_t> pool(256);
  PoolView view(pool.data(), pool.size());
  view.initUsed(16, 0, 48, 9);  // align8(16 + 16 + 9) = 48
  EXPECT_FALSE(view.isPadded(16));
  view.initUsed(16, 8, 56, 9);  // 8 more: padded
  EXPECT_TRUE(view.isPadded(16));
  EXPECT_EQ(view.prevOffset(16), 8u);
  EXPECT_EQ(view.nextOffset(16), 56u);
  EXPECT_DEATH(view.initUsed(16, 0, 64, 9),
               "Assertion failed: Invalid next_offset: 64, align: 48, my: 16, len: 9");
  EXPECT_DEATH(view.initUsed(16, 6, 48, 9), "Assertion failed: Misaligned prev_offset: 6");
  EXPECT_DEATH(view.initFree(16, 0, 52),
               "Assertion failed: initFree next_offset is 56 but should be 52");
  EXPECT_DEATH(view.setPrevOffset(16, 2), "Assertion failed: prev_offset misaligned");
}

}  // namespace
}  // namespace io
