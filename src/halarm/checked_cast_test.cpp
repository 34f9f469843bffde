#include "halarm/checked_cast.h"

#include <gtest/gtest.h>

#include "queues/devent.h"

namespace halarm {
namespace {

using namespace queues;

TEST(CheckedCastDeathTest, PassesAMatchAndStopsAtAMismatchNamingBothClasses) {
  devent_t<SYS_EXIT> exit(QUEUE_MAIN, 1, {7});
  event& ev = exit;
  EXPECT_EQ(checked_cast<devent_t<SYS_EXIT>&>(ev).data.code, 7);
  EXPECT_DEATH(checked_cast<devent_t<CHECKIN>&>(ev),
               "Assertion failed: checked_cast failed, queues::devent<\\(queues::event_t\\)2, "
               "control::Sys_Exit_Data> should have been queues::devent<\\(queues::event_t\\)180, "
               "alarms::Checkin_Data>");
}

}  // namespace
}  // namespace halarm
