// Scheduled downtime in halcyx-alarm-pipe end to end: the program runs as a
// child process; these tests play main and the DBMS on its standard input
// and read what it sends while it runs, so that they can answer a request
// with the uid the program chose, as the DBMS would.
//
// Plans are evaluated on the real clock here, so every time in these tests
// is an hour or more away from now: nothing waits, and nothing depends on
// how long the test takes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testkit/alarm_process.h"
#include "testkit/tree.h"

namespace {

using namespace queues;
using namespace testkit;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using tql::id_t;
using tql::object_ptr;

constexpr std::int64_t kHour = 3600;
const id_t kRoot{0, 1};
const id_t kNode{1, 1};
const id_t kCheck{2, 1};
const id_t kPlan{4, 1};
const id_t kEvent{7, 1};

// Points into `events`, which must outlive the result.
template <event_t N>
std::vector<const devent_t<N>*> sentOf(const std::vector<EventPtr>& events) {
  std::vector<const devent_t<N>*> out;
  for (const EventPtr& ev : events) {
    if (ev->type == N) out.push_back(&dynamic_cast<const devent_t<N>&>(*ev));
  }
  return out;
}

// "text (level)" of every incident log entry.
std::vector<std::string> incidents(const std::vector<EventPtr>& events) {
  std::vector<std::string> out;
  for (const auto* i : sentOf<PUT_INCIDENTLOG>(events))
    out.push_back(i->data.text + " (" + std::to_string(i->data.level) + ")");
  return out;
}

object_ptr expectedEvent(std::int64_t start, std::int64_t end) {
  auto o = object(tql::cls::ExpectedEvent, kEvent);
  o->version = {5, 2};
  putBool(*o, tql::prop::active, true);
  putInt(*o, tql::prop::startTime, static_cast<std::int32_t>(start));
  put<tql::property_date_t>(*o, tql::prop::endTime, end);
  return o;
}

object_ptr unexpectedEvent(std::int64_t end, const std::string& comment) {
  auto o = object(tql::cls::UnexpectedEvent, kEvent);
  putBool(*o, tql::prop::active, true);
  put<tql::property_date_t>(*o, tql::prop::endTime, end);
  putString(*o, tql::prop::comment, comment);
  return o;
}

// A week planner's day entry with its entries; ids 6.n and 7.n.
object_ptr weekDay(std::uint32_t n, const std::string& name, std::vector<object_ptr> entries) {
  auto day = object(tql::cls::DayPlanner, {6, n});
  putString(*day, tql::prop::name, name);
  for (object_ptr& e : entries) day->children.push_back(std::move(e));
  return day;
}
object_ptr weekEntry(std::uint32_t n, std::optional<std::int32_t> startTime,
                     std::int32_t duration) {
  auto e = object(tql::cls::Event, {7, n});
  putBool(*e, tql::prop::active, true);
  if (startTime) putInt(*e, tql::prop::startTime, *startTime);
  putInt(*e, tql::prop::duration, duration);
  return e;
}

class PlansE2ETest : public ::testing::Test {
 protected:
  // The node with its check "cpu" and, when given, a plan with one event.
  object_ptr tree(object_ptr event = nullptr) {
    CheckSpec cpu;
    cpu.label = "cpu";
    NodeSpec quiet;
    quiet.frequency.reset();  // no check-ins expected: no status, no wake-ups
    object_ptr n = with(node(kNode, quiet), check(kCheck, cpu));
    if (event != nullptr)
      n->children.push_back(with(object(tql::cls::Plan, kPlan), std::move(event)));
    return with(domain(kRoot), std::move(n));
  }
  // Everything since the last read-out, through the answer to a probe.
  std::vector<EventPtr> readThrough(std::uint32_t probe) {
    alarm.play(script);
    return alarm.readThroughProbe(probe);
  }
  Outcome finish() {
    alarm.play(script);
    return alarm.finish();
  }
  // The DBMS has deleted the event: it answers the request, then its
  // subscription drops the object.
  void deleted(std::uint32_t uid) {
    script.send<RETURN_TQL_DELETE>(QUEUE_DBMS, uid, {}).remove(kEvent);
  }

  void expectOrderlyEnd(const Outcome& o) {
    EXPECT_TRUE(!o.status.signalled && o.status.exitCode == 0) << os::describeExit(o.status);
    EXPECT_EQ(o.standardError, "");
  }
  void expectDeleteOfTheEvent(const devent_t<TQL_DELETE>& del) {
    EXPECT_EQ(del.dest, QUEUE_DBMS);
    EXPECT_NE(del.inresponse, 0u);
    EXPECT_EQ(del.data.id, kEvent);
    EXPECT_EQ(del.data.version, (tql::version_t{5, 2}));
    EXPECT_TRUE(del.data.user_id.empty());
    EXPECT_FALSE(del.data.clear_master_id);
  }

  AlarmProcess alarm;
  Script script;
  const std::int64_t now_ = std::time(nullptr);
};

TEST_F(PlansE2ETest, ExpiredEventIsDeletedOnceAndTheReplyToTheDeleteIsDropped) {
  script.start(tree(expectedEvent(now_ - 2 * kHour, now_ - kHour)));
  const auto first = readThrough(50);
  const auto deletes = sentOf<TQL_DELETE>(first);
  ASSERT_EQ(deletes.size(), 1u);
  expectDeleteOfTheEvent(*deletes[0]);
  const std::uint32_t uid = deletes[0]->inresponse;

  // More events while the delete is in flight: nothing is sent again.
  script.state(kCheck, 3).state(kCheck, 0);
  EXPECT_THAT(sentOf<TQL_DELETE>(readThrough(51)), IsEmpty());

  deleted(uid);
  script.state(kCheck, 3);
  const Outcome o = finish();
  expectOrderlyEnd(o);  // no "unexpected event RETURN_TQL_DELETE"
  EXPECT_THAT(sentOf<TQL_DELETE>(o.events), IsEmpty());
  EXPECT_THAT(incidents(o.events), ElementsAre("cpu Reached ALERT level (4)"));
}

TEST_F(PlansE2ETest, EventDeliveredAgainBeforeItsDeleteArrivesIsDeletedAgain) {
  script.start(tree(expectedEvent(now_ - 2 * kHour, now_ - kHour)));
  const auto first = readThrough(50);
  const auto firstDeletes = sentOf<TQL_DELETE>(first);
  ASSERT_EQ(firstDeletes.size(), 1u);
  const std::uint32_t firstUid = firstDeletes[0]->inresponse;

  script.patch({kRoot, kNode, kPlan}, expectedEvent(now_ - 2 * kHour, now_ - kHour));
  const auto second = readThrough(51);
  const auto secondDeletes = sentOf<TQL_DELETE>(second);
  ASSERT_EQ(secondDeletes.size(), 1u);
  expectDeleteOfTheEvent(*secondDeletes[0]);
  EXPECT_NE(secondDeletes[0]->inresponse, firstUid);

  script.send<RETURN_TQL_DELETE>(QUEUE_DBMS, firstUid, {});
  deleted(secondDeletes[0]->inresponse);
  const Outcome o = finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(sentOf<TQL_DELETE>(o.events), IsEmpty());
}

TEST_F(PlansE2ETest, DowntimeIsLoggedWhenEnteredAndWhenThePlanGoes) {
  script.start(tree());
  script.state(kCheck, 3);
  script.patch({kRoot, kNode},
               with(object(tql::cls::Plan, kPlan), unexpectedEvent(now_ + kHour, "disk swap")));
  const auto during = readThrough(50);
  script.remove(kPlan);
  const Outcome o = finish();
  expectOrderlyEnd(o);

  EXPECT_THAT(incidents(during), ElementsAre("cpu Reached ALERT level (4)",
                                             "cpu Entered downtime [Comment: disk swap] (1)"));
  std::vector<std::uint32_t> statuses;
  for (const auto* s : sentOf<SET_STATUS>(during)) statuses.push_back(s->data.status);
  EXPECT_THAT(statuses, ElementsAre(10u, 13u, 8u));
  EXPECT_THAT(incidents(o.events), ElementsAre("cpu Left downtime, switched to ALERT (4)"));
  // The event still lies ahead: nothing to delete.
  EXPECT_THAT(sentOf<TQL_DELETE>(during), IsEmpty());
  EXPECT_THAT(sentOf<TQL_DELETE>(o.events), IsEmpty());
}

// A malformed entry where the week walk never reads it (a day entry whose
// name is no lower-case weekday, or after the window in force) cannot end
// the run.
TEST_F(PlansE2ETest, WeekPlannerEntriesOutsideTheWalkAreNeverRead) {
  auto planner = object(tql::cls::WeekPlanner, {5, 1});
  std::uint32_t n = 10;
  for (const char* day :
       {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"}) {
    std::vector<object_ptr> wholeDay;
    wholeDay.push_back(weekEntry(++n, 0, 24 * kHour));
    planner->children.push_back(weekDay(n, day, std::move(wholeDay)));
  }
  for (const char* day : {"Monday", "friday"}) {
    std::vector<object_ptr> noStart;
    noStart.push_back(weekEntry(++n, std::nullopt, kHour));
    planner->children.push_back(weekDay(n, day, std::move(noStart)));
  }
  script.start(tree(std::move(planner)));
  script.state(kCheck, 3);
  const Outcome o = finish();
  expectOrderlyEnd(o);  // no "Caught: Property startTime not found ..."
  EXPECT_THAT(incidents(o.events), ElementsAre("cpu Entered downtime (1)"));
}

}  // namespace
