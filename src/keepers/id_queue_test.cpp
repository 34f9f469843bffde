#include "keepers/id_queue.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

namespace keepers {
namespace {

// Random inserts (runs in ascending order, as a full select queues them,
// and scattered ones, repeats included) and take-outs, checked against an
// ordered set drained from its front.
TEST(IdQueueTest, TakesOutAsAnOrderedSetDrainedFromItsFront) {
  std::mt19937 engine(5);
  const auto random = [&engine] { return static_cast<std::uint32_t>(engine()); };
  IdQueue queue;
  std::set<tql::id_t> model;
  std::uint32_t next = 0;
  for (int step = 0; step < 40000; ++step) {
    const unsigned op = random() % 10;
    if (op < 3) {
      // The next of an ascending run.
      const tql::id_t id{1, next++ % 500};
      queue.insert(id);
      model.insert(id);
    } else if (op < 6) {
      const tql::id_t id = random() % 2 == 0 ? tql::id_t{2, random() % 60}
                                             : tql::id_t{1, random() % 60, random() % 2};
      queue.insert(id);
      model.insert(id);
    } else if (op < 9 || (step / 5000) % 2 == 1) {
      ASSERT_EQ(queue.empty(), model.empty()) << "step " << step;
      if (model.empty()) continue;
      ASSERT_EQ(queue.first(), *model.begin()) << "step " << step;
      ASSERT_EQ(queue.takeFirst(), model.extract(model.begin()).value()) << "step " << step;
    }
    if (step % 101 == 0) {
      ASSERT_EQ(queue.ids(), std::vector<tql::id_t>(model.begin(), model.end())) << "step " << step;
    }
    if (step == 30000) {
      queue.clear();
      model.clear();
      ASSERT_TRUE(queue.empty());
    }
  }
  while (!model.empty()) ASSERT_EQ(queue.takeFirst(), model.extract(model.begin()).value());
  EXPECT_TRUE(queue.empty());
}

// The burst of a full select (every keeper queued) is given back once the
// queue is drained, by takeFirst or clear; room for a usual turn stays.
TEST(IdQueueTest, DrainedQueueGivesBackTheRoomOfABurst) {
  IdQueue queue;
  constexpr std::uint32_t kBurst = 3 * IdQueue::kKeptRoom;
  const auto burst = [&queue] {
    for (std::uint32_t i = 0; i < kBurst; ++i) queue.insert({1, kBurst - i});
  };
  burst();
  queue.takeFirst();
  queue.insert({1, 0});  // queued while the run is taken out
  EXPECT_GT(queue.capacity(), IdQueue::kKeptRoom);
  while (!queue.empty()) queue.takeFirst();
  EXPECT_LE(queue.capacity(), IdQueue::kKeptRoom);
  burst();
  queue.clear();
  EXPECT_LE(queue.capacity(), IdQueue::kKeptRoom);
  for (std::uint32_t i = 0; i < 100; ++i) queue.insert({2, i});
  while (!queue.empty()) queue.takeFirst();
  EXPECT_GT(queue.capacity(), 0u);
}

}  // namespace
}  // namespace keepers
