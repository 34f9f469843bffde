#include "queues/sibling_messenger_adapter.h"

#include <gtest/gtest.h>

#include "queues/childqueue.h"
#include "queues/devent.h"
#include "testkit/sibling_family.h"

namespace queues {
namespace {

using State = devent_t<IMMEDIATE_STATE>;

State state(queue_t dest, std::int32_t value) {
  return State(dest, 0, alarms::Immediate_State_Data{tql::id_t{1, 2}, value});
}

std::int32_t stateOf(const EventPtr& ev) {
  auto* s = dynamic_cast<const State*>(ev.get());
  return s != nullptr ? s->data.state : -1;
}

// The main process's messenger and the alarm process's, in this process,
// each with a child queue over it.
class TwoQueues : public ::testing::Test {
 protected:
  testkit::SiblingFamily family_;
  io::SiblingMessenger& main_ = family_.parent();
  io::SiblingMessenger& alarm_ = family_.startChild(QUEUE_ALRM);
  SiblingMessengerAdapter mainAdapter_{main_};
  SiblingMessengerAdapter alarmAdapter_{alarm_};
  childqueue mainQueue_{mainAdapter_};
  childqueue alarmQueue_{alarmAdapter_};
};

TEST_F(TwoQueues, EventsTravelBothWaysThroughThePool) {
  alarmQueue_.send(state(QUEUE_MAIN, 4));
  alarmQueue_.send(state(QUEUE_MAIN, 5));
  family_.pump();
  ASSERT_TRUE(mainAdapter_.inputSelectable().isReady());
  EXPECT_EQ(mainAdapter_.readySibling(), QUEUE_ALRM);
  EventPtr first = mainQueue_.receive();
  EXPECT_EQ(first->dest, QUEUE_ALRM);  // stamped with its sender
  EXPECT_EQ(stateOf(first), 4);
  EXPECT_EQ(stateOf(mainQueue_.receive()), 5);

  mainQueue_.send(state(QUEUE_ALRM, 6));
  family_.pump();
  EventPtr down = alarmQueue_.receive();
  EXPECT_EQ(down->dest, QUEUE_MAIN);
  EXPECT_EQ(stateOf(down), 6);
  family_.pump();
  EXPECT_EQ(alarm_.outstandingCount(), 0u);
  EXPECT_EQ(main_.outstandingCount(), 0u);
}

TEST_F(TwoQueues, ShutdownEndsTheMainStreamOnceAcknowledged) {
  alarmQueue_.shutdown();
  EXPECT_TRUE(alarm_.shutdownInitiated());
  family_.pump();
  ASSERT_TRUE(alarm_.shutdownAcknowledged());
  EXPECT_EQ(alarmQueue_.receive(), nullptr);
  EXPECT_TRUE(alarmQueue_.endOfStream(QUEUE_MAIN));
  alarm_.completeShutdown();
  family_.pump();
  EXPECT_TRUE(main_.siblingFailed(QUEUE_ALRM));
  EXPECT_EQ(mainQueue_.receive(), nullptr);
  EXPECT_TRUE(mainQueue_.endOfStream(QUEUE_ALRM));
}

}  // namespace
}  // namespace queues
