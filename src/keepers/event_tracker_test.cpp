#include "keepers/event_tracker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
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
    const std::vector<BoundaryRecord*> ordered = boundaries.ordered();
    return {ordered.begin(), ordered.end()};
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

// Random schedulings, cancellations and wake-ups of the earliest record,
// checked against a multimap whose equal times keep insertion order: the
// records must come due in exactly its order. Few distinct times make most
// of them ties. Started just below the end of the sequence numbers, the
// schedule renumbers on the way.
TEST_F(EventTrackerTest, ScheduleComesDueInTheOrderOfAnInsertionOrderedMultimap) {
  for (const std::uint32_t firstSequence : {0u, UINT32_MAX - 300u}) {
    SCOPED_TRACE(firstSequence);
    std::mt19937 random(firstSequence + 7);
    std::vector<std::unique_ptr<Owner>> owners;
    std::vector<BoundaryRecord*> records;
    for (std::uint32_t i = 0; i < 40; ++i) {
      owners.push_back(std::make_unique<Owner>(tql::id_t{1, i}));
      records.push_back(&owners.back()->a);
      records.push_back(&owners.back()->b);
    }
    Boundaries heap(firstSequence);  // goes first: it unschedules the records

    using Model = std::multimap<usec_time, BoundaryRecord*, TimeOrder>;
    Model model;
    std::map<BoundaryRecord*, Model::iterator> entries;
    const auto modelReschedule = [&](BoundaryRecord* record, usec_time at) {
      const auto it = entries.find(record);
      if (at == (it == entries.end() ? htime::never : it->second->first)) return;
      if (it != entries.end()) {
        model.erase(it->second);
        entries.erase(it);
      }
      if (at != htime::never) entries[record] = model.emplace(at, record);
    };
    const auto modelOrder = [&] {
      std::vector<BoundaryRecord*> out;
      for (const auto& entry : model) out.push_back(entry.second);
      return out;
    };

    for (int step = 0; step < 20000; ++step) {
      BoundaryRecord* record = records[random() % records.size()];
      const unsigned op = random() % 20;
      if (op < 11) {
        const usec_time at{static_cast<std::int32_t>(1 + random() % 6),
                           static_cast<std::int32_t>(random() % 2)};
        heap.reschedule(*record, at);
        modelReschedule(record, at);
      } else if (op < 13) {
        heap.reschedule(*record, htime::never);
        modelReschedule(record, htime::never);
      } else if (op < 15) {
        heap.cancel(*record);
        modelReschedule(record, htime::never);
      } else if (op < 19) {
        // As the main loop takes a record that came due.
        if (BoundaryRecord* due = heap.first()) {
          heap.reschedule(*due, htime::never);
          modelReschedule(model.begin()->second, htime::never);
        }
      } else {
        ASSERT_EQ(heap.ordered(), modelOrder()) << "step " << step;
      }
      ASSERT_EQ(heap.size(), model.size()) << "step " << step;
      ASSERT_EQ(heap.first(), model.empty() ? nullptr : model.begin()->second) << "step " << step;
      ASSERT_EQ(record->time(), entries.contains(record) ? entries[record]->first : htime::never);
    }
    // What is still scheduled comes due in the model's order.
    const std::vector<BoundaryRecord*> expected = modelOrder();
    std::vector<BoundaryRecord*> due;
    while (BoundaryRecord* next = heap.first()) {
      due.push_back(next);
      heap.cancel(*next);
    }
    EXPECT_EQ(due, expected);
  }
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
