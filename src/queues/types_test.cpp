#include "queues/types.h"

#include <gtest/gtest.h>

namespace queues {
namespace {

TEST(EventNames, BoundsReservedAndUnknownNumbers) {
  EXPECT_EQ(eventName(event_t(81)), "RETURN_TQL_SELECT_PATCH");
  EXPECT_EQ(eventName(event_t(0)), "INVALID_HEAD");
  EXPECT_EQ(eventName(event_t(196)), "INVALID_TAIL");
  EXPECT_EQ(eventName(event_t(197)), "(event_t)197");
  EXPECT_EQ(eventName(event_t(-5)), "(event_t)-5");
  EXPECT_EQ(eventName(event_t(70)), "(event_t)70");  // reserved, no name
}

TEST(QueueNames, KnownAndNumberedQueues) {
  EXPECT_EQ(queueName(QUEUE_NONE), "none");
  EXPECT_EQ(queueName(QUEUE_EXTRA), "extra");
  EXPECT_EQ(queueName(queue_t(23)), "xx23");
  EXPECT_EQ(queueName(queue_t(999)), "x999");
  EXPECT_EQ(queueName(queue_t(1000)), "1000");
  EXPECT_EQ(queueName(queue_t(-2)), "4294967294");
}

}  // namespace
}  // namespace queues
