#include "queues/types.h"

#include <gtest/gtest.h>

namespace queues {
namespace {

TEST(EventNames, NamedTypesPrintTheirNames) {
  EXPECT_EQ(eventName(DAEMONIZE_SYSTEM), "DAEMONIZE_SYSTEM");
  EXPECT_EQ(eventName(IMMEDIATE_STATE), "IMMEDIATE_STATE");
  EXPECT_EQ(eventName(event_t(81)), "RETURN_TQL_SELECT_PATCH");
  EXPECT_EQ(eventName(event_t(194)), "EPSECCHANGENOTIFICATION");
  EXPECT_EQ(eventName(MESSAGE_EXCEPTION), "MESSAGE_EXCEPTION");
}

TEST(EventNames, BoundsAndUnnamedNumbers) {
  EXPECT_EQ(eventName(event_t(0)), "INVALID_HEAD");
  EXPECT_EQ(eventName(event_t(196)), "INVALID_TAIL");
  EXPECT_EQ(eventName(event_t(197)), "(event_t)197");
  EXPECT_EQ(eventName(event_t(-5)), "(event_t)-5");
  EXPECT_EQ(eventName(event_t(70)), "(event_t)70");  // reserved, no name
}

TEST(EventNames, EveryTypeNumberHasAName) {
  for (std::int32_t n = kFirstEventType; n <= kLastEventType; ++n) {
    if (n >= 69 && n <= 71) continue;
    EXPECT_NE(eventName(event_t(n)).front(), '(') << n;
  }
}

TEST(QueueNames, NamedAndPadded) {
  EXPECT_EQ(queueName(QUEUE_NONE), "none");
  EXPECT_EQ(queueName(QUEUE_MAIN), "main");
  EXPECT_EQ(queueName(QUEUE_ALRM), "alrm");
  EXPECT_EQ(queueName(QUEUE_EXTRA), "extra");
  EXPECT_EQ(queueName(queue_t(23)), "xx23");
  EXPECT_EQ(queueName(queue_t(7)), "snmp");
  EXPECT_EQ(queueName(queue_t(999)), "x999");
  EXPECT_EQ(queueName(queue_t(1000)), "1000");
  EXPECT_EQ(queueName(queue_t(-2)), "4294967294");
}

}  // namespace
}  // namespace queues
