#include "keepers/notify_queue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "tql/id.h"

namespace keepers {
namespace {

using ::testing::IsEmpty;

// What the queue needs of a keeper. Building one again in the same storage
// stands for a new keeper at a freed address.
struct FakeKeeper {
  tql::id_t key;
  NotifyMark mark;
  const tql::id_t& id() const { return key; }
  NotifyMark& notifyMark() { return mark; }
};
using Queue = NotifyQueue<FakeKeeper>;
using Drained = std::vector<std::pair<tql::id_t, std::uint32_t>>;

Drained drain(Queue& queue) {
  Drained out;
  queue.drain([&out](FakeKeeper& k, std::uint32_t old) { out.emplace_back(k.id(), old); });
  return out;
}

TEST(NotifyQueueTest, KeepersBeyondTheStoredPositionsAreFoundBySearch) {
  constexpr std::size_t kCount = NotifyMark::kFar + 3;
  std::vector<FakeKeeper> keepers(kCount);
  for (std::size_t i = 0; i < kCount; ++i) keepers[i].key = {1, static_cast<std::uint32_t>(i)};
  Queue queue;
  for (FakeKeeper& k : keepers) queue.insert(k, 4);
  for (std::size_t i : {NotifyMark::kFar - 2, NotifyMark::kFar - 1, NotifyMark::kFar + 1})
    queue.erase(keepers[i]);
  EXPECT_EQ(queue.size(), kCount - 3);
  std::size_t notified = 0;
  bool inOrder = true;
  queue.drain([&](FakeKeeper& k, std::uint32_t old) {
    const std::size_t at = &k - keepers.data();
    const std::size_t expected = notified + (notified >= NotifyMark::kFar - 2 ? 2 : 0) +
                                 (notified >= NotifyMark::kFar - 1 ? 1 : 0);
    inOrder = inOrder && at == expected && old == 4;
    ++notified;
  });
  EXPECT_EQ(notified, kCount - 3);
  EXPECT_TRUE(inOrder);
}

// Random inserts, erases (some followed by a new keeper in the same
// storage), drains and clears, checked against the map from keeper to its
// first old status that the queue stands for: a drain gives the map's
// entries in id order, though keepers are queued in any order.
TEST(NotifyQueueTest, BehavesAsAMapFromKeeperToItsFirstOldStatus) {
  std::mt19937 engine(11);
  const auto random = [&engine](std::uint32_t n) {
    return static_cast<std::uint32_t>(engine() % n);
  };
  constexpr std::uint32_t kKeepers = 300;
  std::vector<FakeKeeper> keepers(kKeepers);
  for (std::uint32_t i = 0; i < kKeepers; ++i) keepers[i].key = {1 + i % 3, kKeepers - i};
  Queue queue;
  std::map<tql::id_t, std::uint32_t> model;
  for (int step = 0; step < 30000; ++step) {
    const std::uint32_t op = random(100);
    FakeKeeper& k = keepers[random(kKeepers)];
    if (op < 60) {
      const std::uint32_t old = random(14);
      queue.insert(k, old);
      model.try_emplace(k.id(), old);
    } else if (op < 90) {
      queue.erase(k);
      model.erase(k.id());
      if (op < 75) k = FakeKeeper{k.key, {}};
    } else if (op < 99) {
      ASSERT_EQ(drain(queue), Drained(model.begin(), model.end())) << "step " << step;
      model.clear();
    } else {
      queue.clear();
      model.clear();
    }
    ASSERT_EQ(queue.size(), model.size()) << "step " << step;
  }
}

// A send that throws (the receiving process is gone) ends the drain: the
// keepers not notified yet are dropped and can be destroyed (erased) or
// queued afresh.
TEST(NotifyQueueTest, ANotificationThatThrowsDropsTheRestCleanly) {
  std::vector<FakeKeeper> keepers(4);
  for (std::uint32_t i = 0; i < keepers.size(); ++i) keepers[i].key = {1, i};
  Queue queue;
  for (FakeKeeper& k : keepers) queue.insert(k, 1);
  int notified = 0;
  EXPECT_THROW(queue.drain([&](FakeKeeper&, std::uint32_t) {
    if (++notified == 2) throw std::runtime_error("gone");
  }),
               std::runtime_error);
  EXPECT_EQ(notified, 2);
  EXPECT_TRUE(queue.empty());
  queue.insert(keepers[3], 5);
  for (FakeKeeper& k : keepers) {
    queue.erase(k);
    EXPECT_FALSE(k.mark.queued());
  }
  EXPECT_TRUE(queue.empty());
  EXPECT_THAT(drain(queue), IsEmpty());
}

// The burst of a full select (every keeper queued, here against id order)
// comes out in id order, and its room is given back by the drain or the
// clear that empties the queue; room for a usual turn stays.
TEST(NotifyQueueTest, EmptiedQueueGivesBackTheRoomOfABurst) {
  std::vector<FakeKeeper> keepers(3 * Queue::kKeptRoom);
  for (std::uint32_t i = 0; i < keepers.size(); ++i) keepers[i].key = {1, i};
  Queue queue;
  const auto burst = [&] {
    for (auto k = keepers.rbegin(); k != keepers.rend(); ++k) queue.insert(*k, 1);
  };
  burst();
  EXPECT_GT(queue.capacity(), Queue::kKeptRoom);
  const Drained drained = drain(queue);
  ASSERT_EQ(drained.size(), keepers.size());
  for (std::uint32_t i = 0; i < drained.size(); ++i) ASSERT_EQ(drained[i].first, keepers[i].key);
  EXPECT_LE(queue.capacity(), Queue::kKeptRoom);
  burst();
  queue.clear();
  EXPECT_LE(queue.capacity(), Queue::kKeptRoom);
  for (std::uint32_t i = 0; i < 100; ++i) queue.insert(keepers[i], 1);
  drain(queue);
  EXPECT_GT(queue.capacity(), 0u);
  for (const FakeKeeper& k : keepers) ASSERT_FALSE(k.mark.queued());
}

}  // namespace
}  // namespace keepers
