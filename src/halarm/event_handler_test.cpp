#include "halarm/event_handler.h"

#include <gtest/gtest.h>

#include <memory>

#include "error/exception.h"
#include "halarm/subscription.h"
#include "io/memory_stream.h"
#include "keepers/run_state.h"
#include "queues/devent.h"
#include "testkit/matcher.h"

namespace halarm {
namespace {

using namespace queues;

// The handler with a queue of its own, outside a run.
class EventHandlerTest : public ::testing::Test {
 protected:
  EventHandlerTest()
      : queue(std::make_unique<io::MemoryIStream>(in), std::make_unique<io::MemoryOStream>(out)),
        current(queue) {
    keepers::resetRun();
    alarmSubscriber().setQueue(&queue);
  }
  ~EventHandlerTest() override {
    alarmSubscriber().deleteTree();
    alarmSubscriber().setQueue(nullptr);
    keepers::resetRun();
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
  HX_EXPECT_THROW_TEXT(handleEvent(fromMain, queue), error::EFatal,
                       "Alarm got unexpected event SET_STATUS inside BROADCAST_WRITE");
  devent_t<SET_STATUS> otherUid(QUEUE_DBMS, 8, {});
  HX_EXPECT_THROW_TEXT(handleEvent(otherUid, queue), error::EFatal,
                       "Alarm got unexpected event SET_STATUS inside BROADCAST_WRITE");
  EXPECT_EQ(keepers::ignoredReplies, std::set<std::uint32_t>{9});
}

}  // namespace
}  // namespace halarm
