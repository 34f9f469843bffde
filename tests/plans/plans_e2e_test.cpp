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
#include <string>
#include <vector>

#include "testkit/alarm_process.h"
#include "testkit/tree.h"

namespace {

using namespace testkit;
using namespace queues;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using tql::id_t;
using tql::object_ptr;

constexpr std::uint32_t kConfigurationUid = 2;
constexpr std::uint32_t kSelectUid = 3;
constexpr std::int64_t kHour = 3600;
const id_t kRoot{0, 1};
const id_t kNode{1, 1};
const id_t kCheck{2, 1};
const id_t kPlan{4, 1};
const id_t kEvent{7, 1};

using testkit::Outcome;
using LiveAlarm = testkit::AlarmProcess;

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

NodeSpec quietNode() {
  NodeSpec desc;
  desc.frequency.reset();  // no check-ins expected: no status, no wake-ups
  return desc;
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

class PlansE2ETest : public ::testing::Test {
 protected:
  void start(object_ptr tree) {
    alarm.send<SERVER_CONFIGURATION>(QUEUE_MAIN, kConfigurationUid, {});
    dbms::Return_Tql_Select_Data data;
    data.res.push_back(std::move(tree));
    alarm.send<RETURN_TQL_SELECT>(QUEUE_DBMS, kSelectUid, std::move(data));
  }
  // The node with its check "cpu" and, when given, a plan with one event.
  object_ptr tree(object_ptr event = nullptr) {
    CheckSpec cpu;
    cpu.label = "cpu";
    object_ptr n = with(node(kNode, quietNode()), check(kCheck, cpu));
    if (event != nullptr)
      n->children.push_back(with(object(tql::cls::Plan, kPlan), std::move(event)));
    return with(domain(kRoot), std::move(n));
  }
  void patch(const std::vector<id_t>& path, object_ptr target) {
    dbms::Return_Tql_Select_Patch_Data data;
    data.id = target->id;
    object_ptr chain = std::move(target);
    for (auto it = path.rbegin(); it != path.rend(); ++it)
      chain = with(object(0, *it), std::move(chain));
    data.patch = std::move(chain);
    alarm.send<RETURN_TQL_SELECT_PATCH>(QUEUE_DBMS, kSelectUid, std::move(data));
  }
  void remove(const id_t& id) {
    alarm.send<RETURN_TQL_SELECT_DELETE_PATCH>(QUEUE_DBMS, kSelectUid, {id, {}});
  }
  void state(std::int32_t s) { alarm.send<IMMEDIATE_STATE>(QUEUE_DBMS, 0, {kCheck, s}); }
  // The DBMS has deleted the event: it answers the request, then its
  // subscription drops the object.
  void deleted(std::uint32_t uid) {
    alarm.send<RETURN_TQL_DELETE>(QUEUE_DBMS, uid, {});
    remove(kEvent);
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

  LiveAlarm alarm;
  const std::int64_t now_ = std::time(nullptr);
};

TEST_F(PlansE2ETest, ExpiredEventIsDeletedOnceAndTheReplyToTheDeleteIsDropped) {
  start(tree(expectedEvent(now_ - 2 * kHour, now_ - kHour)));
  const auto first = alarm.readThroughProbe(50);
  const auto deletes = sentOf<TQL_DELETE>(first);
  ASSERT_EQ(deletes.size(), 1u);
  expectDeleteOfTheEvent(*deletes[0]);
  const std::uint32_t uid = deletes[0]->inresponse;

  // More events while the delete is in flight: nothing is sent again.
  state(3);
  state(0);
  EXPECT_THAT(sentOf<TQL_DELETE>(alarm.readThroughProbe(51)), IsEmpty());

  deleted(uid);
  state(3);
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);  // no "unexpected event RETURN_TQL_DELETE"
  EXPECT_THAT(sentOf<TQL_DELETE>(o.events), IsEmpty());
  EXPECT_THAT(incidents(o.events), ElementsAre("cpu Reached ALERT level (4)"));
}

TEST_F(PlansE2ETest, EventDeliveredAgainBeforeItsDeleteArrivesIsDeletedAgain) {
  start(tree(expectedEvent(now_ - 2 * kHour, now_ - kHour)));
  const auto first = alarm.readThroughProbe(50);
  const auto firstDeletes = sentOf<TQL_DELETE>(first);
  ASSERT_EQ(firstDeletes.size(), 1u);
  const std::uint32_t firstUid = firstDeletes[0]->inresponse;

  patch({kRoot, kNode, kPlan}, expectedEvent(now_ - 2 * kHour, now_ - kHour));
  const auto second = alarm.readThroughProbe(51);
  const auto secondDeletes = sentOf<TQL_DELETE>(second);
  ASSERT_EQ(secondDeletes.size(), 1u);
  expectDeleteOfTheEvent(*secondDeletes[0]);
  EXPECT_NE(secondDeletes[0]->inresponse, firstUid);

  alarm.send<RETURN_TQL_DELETE>(QUEUE_DBMS, firstUid, {});
  deleted(secondDeletes[0]->inresponse);
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(sentOf<TQL_DELETE>(o.events), IsEmpty());
}

TEST_F(PlansE2ETest, DowntimeIsLoggedWhenEnteredAndWhenThePlanGoes) {
  start(tree());
  state(3);
  patch({kRoot, kNode},
        with(object(tql::cls::Plan, kPlan), unexpectedEvent(now_ + kHour, "disk swap")));
  const auto during = alarm.readThroughProbe(50);
  remove(kPlan);
  const Outcome o = alarm.finish();
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

}  // namespace
