#pragma once
// Test-only (GoogleTest): builds mirrored object trees for the keepers,
// records the events they send, and stands in for the driver's turn (the
// delayed pass, notifications, boundary wake-ups) so that tests can drive
// keepers the way the process does. Never include from library code.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "keepers/count_keeper.h"
#include "keepers/domain_keeper.h"
#include "keepers/event_sink.h"
#include "keepers/node_score_keeper.h"
#include "keepers/run_state.h"
#include "keepers/score_keeper.h"
#include "meter/log.h"
#include "meter/process_metrics.h"
#include "queues/alarms.h"
#include "queues/alert.h"
#include "queues/dbms.h"
#include "queues/devent.h"
#include "testkit/tree.h"
#include "time/fake_clock.h"
#include "tql/schema.h"
#include "tql/subscription/incremental_subscriber.h"

namespace keepers::testing {

using namespace testkit;

using tql::id_t;
using tql::object_ptr;

// --- Events ---

class RecordingSink : public EventSink {
 public:
  void send(const queues::event& ev) override { events.push_back(ev.clone()); }
  std::uint32_t nextUid() override { return ++uid; }

  // The payloads of the recorded events of type N, in order.
  template <queues::event_t N>
  std::vector<queues::event_data_t<N>> data() const {
    std::vector<queues::event_data_t<N>> out;
    for (const auto& ev : events) {
      if (ev->type != N) continue;
      const auto* typed = dynamic_cast<const queues::devent_t<N>*>(ev.get());
      EXPECT_NE(typed, nullptr);
      if (typed != nullptr) out.push_back(typed->data);
    }
    return out;
  }
  // The event types in order, then forgets the events.
  std::vector<queues::event_t> takeTypes() {
    std::vector<queues::event_t> out;
    for (const auto& ev : events) out.push_back(ev->type);
    events.clear();
    return out;
  }

  std::vector<queues::EventPtr> events;
  std::uint32_t uid = 0;
};

// Collects log lines.
class RecordingLog : public meter::LogSink {
 public:
  RecordingLog() : previous_(meter::setLogSink(this)) {}
  ~RecordingLog() override { meter::setLogSink(previous_); }
  void writeLog(std::string_view text, std::uint32_t level) override {
    lines.push_back(std::to_string(level) + " " + std::string(text));
  }
  std::vector<std::string> lines;

 private:
  meter::LogSink* previous_;
};

// --- The subscriber and the driver's turn ---

class KeeperSubscriber : public tql::IncrementalSubscriber {
 public:
  explicit KeeperSubscriber(EventSink& sink) : sink_(sink) {}
  ~KeeperSubscriber() override { deleteTree(); }

 protected:
  ObjectPtr createRoot(object_ptr node) override {
    return std::make_unique<DomainKeeper>(nullptr, std::move(node), sink_);
  }

 private:
  EventSink& sink_;
};

inline void addSubtree(std::set<id_t>& ids, CountKeeper* k) {
  if (k == nullptr || !ids.insert(k->id()).second) return;
  for (auto& entry : k->children) addSubtree(ids, dynamic_cast<CountKeeper*>(entry.second.get()));
}

inline void processTouched() {
  const TouchedSet owners = std::move(touched);
  touched.clear();
  for (EventTrackerOwner* o : owners) o->process();
}

// The delayed pass as the driver runs it (dependents found by id, so a
// deleted dependency still releases them): objects depending on changed
// counts and watching changed sources reconsider their status, at most
// three rounds, then touched keepers are processed.
inline void performDelayedComputations() {
  for (int pass = 0; pass < 3; ++pass) {
    std::set<id_t> reconsider;
    while (!count_queue.empty()) {
      const id_t x = *count_queue.begin();
      count_queue.erase(count_queue.begin());
      // By id: the keeper of x may be gone while its dependents remain.
      for (const id_t& d : IdSet(dependentsOf(x)))
        addSubtree(reconsider, findKeeper(countKeepers, d));
    }
    while (!status_change_queue.empty()) {
      const id_t x = *status_change_queue.begin();
      status_change_queue.erase(status_change_queue.begin());
      if (CountKeeper* k = findKeeper(countKeepers, x)) {
        for (const id_t& w : IdSet(k->statusWatchers()))
          addSubtree(reconsider, findKeeper(countKeepers, w));
      }
    }
    for (const id_t& id : reconsider) {
      if (ScoreKeeper* s = findKeeper(scoreKeepers, id)) s->setCurStatus(s->curStatus());
    }
    if (count_queue.empty() && status_change_queue.empty()) break;
  }
  processTouched();
}

inline void sendNotifications() {
  const NotifyQueue queued = std::move(notify_queue);
  notify_queue.clear();
  for (const auto& [keeper, old] : queued) keeper->notifyStatusChange(old);
}

// One turn of the main loop up to the wait.
inline void turn() {
  performDelayedComputations();
  sendNotifications();
}

// Wakes every boundary due at or before `until`, each at its own time,
// with a turn after each.
inline void runBoundariesUntil(htime::FakeClock& clock, htime::usec_time until) {
  while (BoundaryRecord* b = first()) {
    if (TimeOrder{}(until, b->time())) break;
    if (TimeOrder{}(clock.now(), b->time())) clock.set(b->time());
    const id_t owner = b->owner().ownerId();
    if (CountKeeper* k = findKeeper(countKeepers, owner)) k->boundaryReached();
    reschedule(*b, htime::never);
    turn();
  }
  if (TimeOrder{}(clock.now(), until)) clock.set(until);
}

// A fixture with a test clock, a recording sink and a subscriber whose
// root is a DomainKeeper. Every test ends with the tree deleted and checks
// that nothing stays registered or counted.
class KeeperTest : public ::testing::Test {
 protected:
  static constexpr std::int32_t kStart = 1000000;

  KeeperTest() : objs_before_(meter::numObjs().value()) {}

  void TearDown() override {
    sub.deleteTree();
    EXPECT_TRUE(countKeepers.empty());
    EXPECT_TRUE(scoreKeepers.empty());
    EXPECT_TRUE(planKeepers.empty());
    EXPECT_TRUE(boundaries.empty());
    EXPECT_TRUE(touched.empty());
    EXPECT_TRUE(notify_queue.empty());
    EXPECT_TRUE(dependentsIndex.empty());
    EXPECT_EQ(meter::numObjs().value(), objs_before_);
    resetSharedStateForTesting();
  }

  void select(object_ptr tree) {
    dbms::Return_Tql_Select_Data data;
    data.res.push_back(std::move(tree));
    sub.handleSelect(data);
  }
  // Replaces (or inserts) the last node of the path, whose subtree is
  // `target`; the path runs from the root to the target's parent.
  void patch(std::vector<id_t> path, object_ptr target) {
    const id_t id = target->id;
    object_ptr chain = std::move(target);
    for (auto it = path.rbegin(); it != path.rend(); ++it)
      chain = with(object(0, *it), std::move(chain));
    dbms::Return_Tql_Select_Patch_Data data;
    data.id = id;
    data.patch = std::move(chain);
    sub.handlePatch(data);
  }
  void remove(id_t id) {
    dbms::Return_Tql_Select_Delete_Patch_Data data;
    data.id = id;
    sub.handleDeletePatch(data);
  }

  template <class K = ScoreKeeper>
  K& keeper(id_t id) {
    K* k = dynamic_cast<K*>(findKeeper(countKeepers, id));
    if (k == nullptr) throw std::runtime_error("no keeper " + id.toString());
    return *k;
  }

  // One turn of the main loop: the delayed pass and the notifications.
  void turn() { keepers::testing::turn(); }
  void advance(std::int32_t seconds) { clock.advance(htime::usec_time{seconds}); }
  void runUntil(std::int32_t secondsFromStart) {
    runBoundariesUntil(clock, htime::usec_time{kStart + secondsFromStart});
  }

  htime::FakeClock clock{htime::usec_time{kStart}};
  RecordingSink sink;
  KeeperSubscriber sub{sink};

 private:
  std::uint64_t objs_before_;
};

}  // namespace keepers::testing
