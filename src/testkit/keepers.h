#pragma once
// Test-only (GoogleTest): drives keepers the way the alarm process does,
// without the process around them. A subscriber whose root is a
// DomainKeeper builds the mirror; a sink records what the keepers send; a
// turn runs the keepers' own settle, and boundaries are dispatched by the
// keepers' own dispatchBoundary at their time on a test clock.
// Never include from library code.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "htime/fake_clock.h"
#include "keepers/count_keeper.h"
#include "keepers/domain_keeper.h"
#include "keepers/event_sink.h"
#include "keepers/node_score_keeper.h"
#include "keepers/run_state.h"
#include "keepers/score_keeper.h"
#include "keepers/turn.h"
#include "meter/log.h"
#include "meter/process_metrics.h"
#include "queues/alarms.h"
#include "queues/alert.h"
#include "queues/dbms.h"
#include "queues/devent.h"
#include "testkit/tree.h"
#include "tql/subscription/incremental_subscriber.h"

namespace testkit {

// Records every event sent; hands out uids 1, 2, ...
class RecordingSink : public keepers::EventSink {
 public:
  void send(const queues::event& ev) override {
    if (const auto* set = dynamic_cast<const queues::devent_t<queues::SET_STATUS>*>(&ev))
      reported[set->data.id] = set->data.status;
    events.push_back(ev.clone());
  }
  std::uint32_t nextUid() override { return ++uid; }

  // The payloads of the recorded events of type N, in order.
  template <queues::event_t N>
  std::vector<queues::event_data_t<N>> data() const {
    std::vector<queues::event_data_t<N>> out;
    for (const auto& ev : events) {
      if (ev->type == N) out.push_back(dynamic_cast<const queues::devent_t<N>&>(*ev).data);
    }
    return out;
  }

  std::vector<queues::EventPtr> events;
  // The last status each object's SET_STATUS reported, kept when `events`
  // is cleared.
  std::map<tql::id_t, std::uint32_t> reported;
  std::uint32_t uid = 0;
};

// Collects log lines as "level text".
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

class KeeperSubscriber : public tql::IncrementalSubscriber {
 public:
  explicit KeeperSubscriber(keepers::EventSink& sink) : sink_(sink) {}
  ~KeeperSubscriber() override { deleteTree(); }

 protected:
  ObjectPtr createRoot(tql::object_ptr node) override {
    return std::make_unique<keepers::DomainKeeper>(nullptr, std::move(node), sink_);
  }

 private:
  keepers::EventSink& sink_;
};

// A test clock, a recording sink and a subscriber. Every test ends with the
// tree deleted and checks that nothing stays registered, queued or counted.
class KeeperTest : public ::testing::Test {
 protected:
  static constexpr std::int32_t kStart = 1000000;

  KeeperTest() : objs_before_(meter::numObjs().value()) {}

  void TearDown() override {
    sub.deleteTree();
    EXPECT_TRUE(keepers::scoreKeepers.empty());
    EXPECT_TRUE(keepers::boundaries.empty());
    EXPECT_TRUE(keepers::touched.empty());
    EXPECT_TRUE(keepers::notify_queue.empty());
    EXPECT_TRUE(keepers::expiries.empty());
    EXPECT_EQ(meter::numObjs().value(), objs_before_);
    keepers::resetRun();
  }

  void select(tql::object_ptr tree) {
    dbms::Return_Tql_Select_Data data;
    data.res.push_back(std::move(tree));
    sub.handleSelect(data);
  }
  // Replaces (or inserts) `target` with its subtree at the end of `path`,
  // which runs from the root to the target's parent.
  void patch(const std::vector<tql::id_t>& path, tql::object_ptr target) {
    dbms::Return_Tql_Select_Patch_Data data;
    data.id = target->id;
    tql::object_ptr chain = std::move(target);
    for (auto it = path.rbegin(); it != path.rend(); ++it)
      chain = with(object(0, *it), std::move(chain));
    data.patch = std::move(chain);
    sub.handlePatch(data);
  }
  void remove(tql::id_t id) {
    dbms::Return_Tql_Select_Delete_Patch_Data data;
    data.id = id;
    sub.handleDeletePatch(data);
  }

  template <class K = keepers::ScoreKeeper>
  K& keeper(tql::id_t id) {
    K* k = dynamic_cast<K*>(keepers::findKeeper(keepers::countKeepers, id));
    if (k == nullptr) throw std::runtime_error("no keeper " + id.toString());
    return *k;
  }
  // The status the object last reported to the DBMS (0 for none yet).
  std::uint32_t reported(tql::id_t id) {
    const auto it = sink.reported.find(id);
    return it == sink.reported.end() ? 0 : it->second;
  }

  // One turn of the main loop up to its wait.
  void turn() { keepers::settle(); }
  void advance(std::int32_t seconds) { clock.advance(htime::usec_time{seconds}); }
  // Wakes every boundary due up to kStart + seconds, each at its own time,
  // with a turn after each, as the main loop does; the clock ends there.
  void runUntil(std::int32_t seconds) {
    const htime::usec_time until{kStart + seconds};
    while (keepers::BoundaryRecord* b = keepers::first()) {
      if (keepers::TimeOrder{}(until, b->time())) break;
      if (keepers::TimeOrder{}(clock.now(), b->time())) clock.set(b->time());
      keepers::dispatchBoundary(*b);
      turn();
    }
    if (keepers::TimeOrder{}(clock.now(), until)) clock.set(until);
  }

  htime::FakeClock clock{htime::usec_time{kStart}};
  RecordingSink sink;
  KeeperSubscriber sub{sink};

 private:
  std::uint64_t objs_before_;
};

}  // namespace testkit
