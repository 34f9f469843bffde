#include "alarm/event_handler.h"

#include <gtest/gtest.h>

#include <memory>

#include "alarm/state.h"
#include "alarm/subscription.h"
#include "error/exception.h"
#include "io/memory_stream.h"
#include "keepers/run_state.h"
#include "queues/devent.h"

namespace halarm {
namespace {

using namespace queues;

// The handler with a queue of its own, outside a run.
class EventHandlerTest : public ::testing::Test {
 protected:
  EventHandlerTest()
      : queue(std::make_unique<io::MemoryIStream>(in), std::make_unique<io::MemoryOStream>(out)),
        current(queue) {
    keepers::resetSharedStateForTesting();
    resetDriverState();
    alarmSubscriber().setQueue(&queue);
  }
  ~EventHandlerTest() override {
    alarmSubscriber().deleteTree();
    alarmSubscriber().setQueue(nullptr);
    keepers::resetSharedStateForTesting();
    resetDriverState();
  }

  std::string fatalText(event& ev) {
    try {
      handleEvent(ev, queue);
    } catch (const error::EFatal& e) {
      return e.text();
    }
    return "(nothing thrown)";
  }

  io::MemoryPipe in;
  io::MemoryPipe out;
  childqueue queue;
  CurrentQueueScope current;
};

TEST_F(EventHandlerTest, IgnoredDbmsRepliesAreDroppedBeforeTheirTypeIsLookedAt) {
  keepers::ignoredReplies.insert(9);
  devent_t<SET_STATUS> fromDbms(QUEUE_DBMS, 9, {});
  EXPECT_NO_THROW(handleEvent(fromDbms, queue));
  exevent failedDelete(QUEUE_DBMS, 9, "no such object");
  EXPECT_NO_THROW(handleEvent(failedDelete, queue));

  // The same uid from another peer, or another uid from the DBMS, is not.
  devent_t<SET_STATUS> fromMain(QUEUE_MAIN, 9, {});
  EXPECT_EQ(fatalText(fromMain), "Alarm got unexpected event SET_STATUS inside BROADCAST_WRITE");
  devent_t<SET_STATUS> otherUid(QUEUE_DBMS, 8, {});
  EXPECT_EQ(fatalText(otherUid), "Alarm got unexpected event SET_STATUS inside BROADCAST_WRITE");
  EXPECT_EQ(keepers::ignoredReplies, std::set<std::uint32_t>{9});
}

TEST_F(EventHandlerTest, EventsForUnknownObjectsAreRememberedByTheirRules) {
  devent_t<IMMEDIATE_STATES> states(QUEUE_DBMS, 0, {{{{2, 1}, 2}, {{2, 1}, 3}, {{2, 2}, 1}}});
  handleEvent(states, queue);
  devent_t<ACKNOWLEDGE_ALERT> first(QUEUE_DBMS, 0, {{8, 1}, "first", {2, 1}});
  devent_t<ACKNOWLEDGE_ALERT> second(QUEUE_DBMS, 0, {{8, 2}, "second", {2, 1}});
  handleEvent(first, queue);
  handleEvent(second, queue);
  devent_t<CHECKIN> early(QUEUE_DBMS, 0, {{1, 1}, 100});
  devent_t<CHECKIN> late(QUEUE_DBMS, 0, {{1, 1}, 200});
  handleEvent(early, queue);
  handleEvent(late, queue);
  devent_t<RESET_SCORE> reset(QUEUE_DBMS, 0, {{8, 1}, "", {2, 1}, true});
  handleEvent(reset, queue);

  EXPECT_EQ(remembered_states, (std::map<tql::id_t, std::int32_t>{{{2, 1}, 3}, {{2, 2}, 1}}));
  ASSERT_EQ(remembered_acknowledges.size(), 1u);
  EXPECT_EQ(remembered_acknowledges.at({2, 1}).second, "first");
  EXPECT_EQ(remembered_checkins, (std::map<tql::id_t, std::int64_t>{{{1, 1}, 200}}));
}

}  // namespace
}  // namespace halarm
