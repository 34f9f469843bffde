#include "keepers/event_tracker.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <vector>

#include "keepers/run_state.h"
#include "testkit/keepers.h"

namespace keepers {
namespace {

using htime::usec_time;

class Owner : public EventTrackerOwner {
 public:
  explicit Owner(tql::id_t id) : id_(id) {}
  tql::id_t ownerId() const override { return id_; }
  void process() override {}

  BoundaryRecord a{*this};
  BoundaryRecord b{*this};

 private:
  tql::id_t id_;
};

class EventTrackerTest : public ::testing::Test {
 protected:
  void TearDown() override { resetRun(); }

  // The records in schedule order.
  static std::vector<const BoundaryRecord*> schedule() {
    std::vector<const BoundaryRecord*> out;
    for (const auto& entry : boundaries) out.push_back(entry.second);
    return out;
  }
};

TEST_F(EventTrackerTest, EqualTimesKeepInsertionOrderAndRescheduleToSameTimeKeepsPlace) {
  Owner x({1, 1});
  Owner y({1, 2});
  reschedule(x.a, usec_time{10});
  reschedule(y.a, usec_time{10});
  reschedule(x.b, usec_time{5, 1});
  EXPECT_EQ(schedule(), (std::vector<const BoundaryRecord*>{&x.b, &x.a, &y.a}));
  reschedule(x.a, usec_time{10});  // unchanged: stays in front of y.a
  EXPECT_EQ(schedule(), (std::vector<const BoundaryRecord*>{&x.b, &x.a, &y.a}));
  reschedule(x.a, usec_time{11});
  reschedule(x.a, usec_time{10});  // moved away and back: now behind y.a
  EXPECT_EQ(schedule(), (std::vector<const BoundaryRecord*>{&x.b, &y.a, &x.a}));
  EXPECT_EQ(first(), &x.b);
  EXPECT_EQ(first()->owner().ownerId(), (tql::id_t{1, 1}));
}

TEST_F(EventTrackerTest, NeverAndCancelTakeRecordsOffAndDestructionCleansUp) {
  auto x = std::make_unique<Owner>(tql::id_t{1, 1});
  Owner y({1, 2});
  reschedule(x->a, usec_time{10});
  reschedule(y.a, htime::never);
  EXPECT_EQ(y.a.time(), htime::never);
  EXPECT_EQ(boundaries.size(), 1u);
  cancel(x->a);
  EXPECT_EQ(first(), nullptr);
  // A cancelled record scheduled again at its old time is scheduled.
  reschedule(x->a, usec_time{10});
  EXPECT_EQ(first(), &x->a);
  x->touch();
  y.touch();
  x.reset();
  EXPECT_TRUE(boundaries.empty());
  EXPECT_EQ(touched.takeAll(), std::vector<EventTrackerOwner*>{&y});
  // Microseconds order equal seconds.
  reschedule(y.a, usec_time{7, 2});
  reschedule(y.b, usec_time{7, 1});
  EXPECT_EQ(first(), &y.b);
}

// Random touches, explicit erases and destructions of owners, checked
// against an ordered set of addresses: each owner is taken out once, in
// address order, and a destroyed one never.
TEST_F(EventTrackerTest, TouchedOwnersBehaveAsAnOrderedSetOfAddresses) {
  std::mt19937 random(3);
  std::vector<std::unique_ptr<Owner>> owners;
  for (std::uint32_t i = 0; i < 30; ++i) owners.push_back(std::make_unique<Owner>(tql::id_t{1, i}));
  std::set<EventTrackerOwner*> model;
  for (int step = 0; step < 20000; ++step) {
    std::unique_ptr<Owner>& owner = owners[random() % owners.size()];
    const unsigned op = random() % 10;
    if (op < 5) {
      owner->touch();
      model.insert(owner.get());
    } else if (op < 7) {
      touched.erase(owner.get());
      model.erase(owner.get());
    } else if (op < 9) {
      model.erase(owner.get());
      owner = std::make_unique<Owner>(tql::id_t{2, static_cast<std::uint32_t>(step)});
    } else {
      ASSERT_EQ(touched.size(), model.size()) << "step " << step;
      ASSERT_EQ(touched.takeAll(), std::vector<EventTrackerOwner*>(model.begin(), model.end()))
          << "step " << step;
      model.clear();
    }
    ASSERT_EQ(touched.contains(owner.get()), model.contains(owner.get())) << "step " << step;
  }
}

TEST_F(EventTrackerTest, NotificationCountReportsAtDoublingThenEvery1024) {
  testkit::RecordingLog log;
  for (int i = 0; i < 4096; ++i) countStatusNotification();
  std::vector<std::string> expected;
  for (int n : {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 3072, 4096})
    expected.push_back("0 Sent " + std::to_string(n) + " status notifications");
  EXPECT_EQ(log.lines, expected);
}

}  // namespace
}  // namespace keepers
