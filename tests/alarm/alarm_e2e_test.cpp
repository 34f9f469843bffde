// halcyx-alarm-pipe end to end: the program runs as a child process, these
// tests play the main process and the DBMS on its standard input and check
// the exact events it sends, its standard error and its exit status.
//
// Notifications of different objects within one turn come in an order the
// tests do not depend on: they look at each object's notifications alone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <optional>
#include <utility>

#include "halarm/subscription.h"
#include "testkit/alarm_process.h"

namespace halarm::e2e {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace queues;
using namespace testkit;
using tql::id_t;
using tql::object_ptr;

const id_t kRoot{0, 1};
const id_t kNode{1, 1};
const id_t kCheck{2, 1};
const id_t kUser{8, 1};

struct Change {
  std::uint32_t from;
  std::uint32_t to;
  id_t user = {};
  std::string comment = {};
  friend bool operator==(const Change&, const Change&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Change& c) {
    out << c.from << " -> " << c.to;
    if (!c.user.empty()) out << " by " << c.user.toString() << " (" << c.comment << ")";
    return out;
  }
};

// The status change notifications of one object, in order.
std::vector<Change> changesOf(const Outcome& o, const id_t& id) {
  std::vector<Change> out;
  for (const auto& c : payloadsOf<OBJECT_STATUS_CHANGE>(o.events)) {
    if (c.object == id) out.push_back({c.old_status, c.new_status, c.user, c.comment});
  }
  return out;
}

std::vector<std::uint32_t> statusesOf(const Outcome& o, const id_t& id) {
  std::vector<std::uint32_t> out;
  for (const auto& s : payloadsOf<SET_STATUS>(o.events)) {
    if (s.id == id) out.push_back(s.status);
  }
  return out;
}

// "text (level)" of every incident log entry.
std::vector<std::string> incidents(const std::vector<EventPtr>& events) {
  std::vector<std::string> out;
  for (const auto& i : payloadsOf<PUT_INCIDENTLOG>(events))
    out.push_back(i.text + " (" + std::to_string(i.level) + ")");
  return out;
}

// Root, one node that checks in every 300 s, one check labelled "cpu".
object_ptr smallTree(CheckSpec checkSpec = {}, const NodeSpec& nodeSpec = {}) {
  if (checkSpec.label == "check") checkSpec.label = "cpu";
  return with(domain(kRoot), with(node(kNode, nodeSpec), check(kCheck, checkSpec)));
}

ExportSpec station(std::uint32_t gid) {
  ExportSpec e;
  e.gid = gid;
  return e;
}

class AlarmE2ETest : public ::testing::Test {
 protected:
  // Plays the script and ends the input.
  Outcome run() {
    alarm.play(script);
    return alarm.finish();
  }
  // Plays the script; everything sent since the last read-out, through the
  // answer to a probe.
  std::vector<EventPtr> readThrough(std::uint32_t probe) {
    alarm.play(script);
    return alarm.readThroughProbe(probe);
  }
  void expectOrderlyEnd(const Outcome& o) {
    EXPECT_TRUE(o.exited(0)) << o.standardError;
    EXPECT_EQ(o.standardError, "");
  }

  AlarmProcess alarm;
  Script script;
};

// --- Start-up and the configuration dialog ---

TEST_F(AlarmE2ETest, StartsUpWithItsRequestsInOrderAndEndsWithItsInput) {
  script.configure();
  const Outcome o = run();
  expectOrderlyEnd(o);
  ASSERT_EQ(o.events.size(), 5u);
  // Benchmarks and fuzz inputs are encoded with the start-up uids the kit
  // expects: they must be the ones the process uses.
  const RequestUids uids = RequestUids::atStartup();
  const auto expectSent = [&](std::size_t i, const event& ev) {
    EXPECT_EQ(encode(*o.events[i]), encode(ev)) << o.events[i]->toString() << "\nnot\n"
                                                << ev.toString();
  };
  expectSent(0, devent_t<SYSTEM_LOG_REQUEST>(QUEUE_MAIN, 1, {"Alarm logic running", 0}));
  expectSent(1, devent_t<REQUEST_SERVER_CONFIGURATION>(QUEUE_MAIN, uids.configuration(), 0));
  expectSent(2, devent_t<SUPPORTS_METRICS>(QUEUE_MAIN, 0, 0));
  expectSent(3, devent_t<TQL_SELECT>(QUEUE_DBMS, uids.select(), subscriptionRequest()));
  expectSent(4, devent_t<INIT_OK>(QUEUE_MAIN, 0, {{QUEUE_SCHD, QUEUE_DBMS, QUEUE_ALRT}}));
}

TEST_F(AlarmE2ETest, EventsArrivingBeforeTheConfigurationAreHandledAfterStartUpInOrder) {
  script.probe(50).send<LIST_METRICS>(QUEUE_MAIN, 51, 0);
  // The right uid from the wrong peer is not the reply.
  script.answer<SERVER_CONFIGURATION>(REQUEST_SERVER_CONFIGURATION, QUEUE_DBMS, {});
  script.configure();
  const Outcome o = run();
  ASSERT_GE(o.events.size(), 7u);
  EXPECT_EQ(o.events[4]->type, INIT_OK);
  EXPECT_EQ(o.events[5]->type, RETURN_METRIC_UINT64);
  EXPECT_EQ(o.events[5]->inresponse, 50u);
  EXPECT_EQ(o.events[6]->type, RETURN_LIST_METRICS);
  EXPECT_EQ(o.events[6]->inresponse, 51u);
  EXPECT_TRUE(o.exited(1));
  EXPECT_EQ(o.standardError,
            "Caught: Alarm got unexpected event SERVER_CONFIGURATION inside BROADCAST_WRITE\n");
}

// --- Subscription replies and patches ---

TEST_F(AlarmE2ETest, FullSelectBuildsTheMirrorAndReportsEveryNewStatus) {
  CheckSpec inactive;
  inactive.active = false;
  script.start(with(domain(kRoot), domainExport({3, 1}, station(7)),
                    with(node(kNode), check(kCheck), check({2, 2}, inactive))));
  script.probe(40);
  const Outcome o = run();
  expectOrderlyEnd(o);
  for (const id_t& id : {kNode, kCheck, id_t{3, 1}}) {
    EXPECT_THAT(changesOf(o, id), ElementsAre(Change{0, 10})) << id.toString();
    EXPECT_THAT(statusesOf(o, id), ElementsAre(10u)) << id.toString();
  }
  EXPECT_THAT(changesOf(o, {2, 2}), IsEmpty());
  EXPECT_THAT(incidents(o.events), IsEmpty());
  EXPECT_THAT(payloadsOf<RETURN_METRIC_UINT64>(o.events), ElementsAre(4u));
  EXPECT_THAT(logLines(o.events), Contains("0 Sent 2 status notifications"));
}

TEST_F(AlarmE2ETest, PatchesAddReplaceRelocateAndDeleteObjects) {
  CheckSpec inactive;
  inactive.active = false;
  script.start(with(domain(kRoot), with(node(kNode), check(kCheck)), node({1, 2})));
  script.patch({kRoot, kNode}, check({2, 3})).patch({kRoot, kNode}, check(kCheck, inactive));
  script.state({2, 3}, 3).remove({2, 3}).probe(40);
  // Relocated, a check starts afresh under its new node.
  script.patch({kRoot, kNode}, check({2, 4})).state({2, 4}, 3);
  script.patch({kRoot, {1, 2}}, check({2, 4})).state({2, 4}, 3);
  const Outcome o = run();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, {2, 3}), ElementsAre(Change{0, 10}, Change{10, 13}));
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 10}, Change{10, 0}));
  EXPECT_THAT(statusesOf(o, kCheck), ElementsAre(10u, 0u));
  // The nodes and the inactive check are left.
  EXPECT_THAT(payloadsOf<RETURN_METRIC_UINT64>(o.events), ElementsAre(3u));
  EXPECT_THAT(changesOf(o, {2, 4}),
              ElementsAre(Change{0, 10}, Change{10, 13}, Change{0, 10}, Change{10, 13}));
  std::vector<id_t> hosts;
  for (const auto& i : payloadsOf<PUT_INCIDENTLOG>(o.events)) hosts.push_back(i.host_id);
  EXPECT_THAT(hosts, ElementsAre(kNode, kNode, id_t{1, 2}));
}

TEST_F(AlarmE2ETest, AnotherFullSelectKeepsTheKeepersOfObjectsThatStay) {
  script.start(with(domain(kRoot), with(node(kNode), check(kCheck), check({2, 2}))));
  script.state(kCheck, 3).selectReply(smallTree()).probe(40);  // 2.2 is gone
  script.selectReply(nullptr).probe(41);                       // everything is gone
  const Outcome o = run();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 10}, Change{10, 13}));
  EXPECT_THAT(payloadsOf<RETURN_METRIC_UINT64>(o.events), ElementsAre(2u, 0u));
}

// --- Status notifications ---

TEST_F(AlarmE2ETest, EachChangeIsLoggedNotifiedAndStoredWithItsIncidentText) {
  script.start(smallTree());
  const std::int64_t before = std::time(nullptr);
  for (std::int32_t s : {3, 2, 0, 2}) script.state(kCheck, s);
  const Outcome o = run();
  const std::int64_t after = std::time(nullptr);
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 10}, Change{10, 13}, Change{13, 12},
                                                Change{12, 1}, Change{1, 12}));
  EXPECT_THAT(incidents(o.events),
              ElementsAre("cpu Reached ALERT level (4)", "cpu Left alert level (2)",
                          "cpu Left warning level (1)", "cpu Reached WARNING level (2)"));
  for (const auto& i : payloadsOf<PUT_INCIDENTLOG>(o.events)) {
    EXPECT_EQ(i.host_id, kNode);
    EXPECT_GE(i.time, before);
    EXPECT_LE(i.time, after);
  }
  std::vector<alarms::Set_Status_Data> check;
  for (const auto& s : payloadsOf<SET_STATUS>(o.events)) {
    if (s.id == kCheck) check.push_back(s);
  }
  ASSERT_EQ(check.size(), 5u);
  EXPECT_GE(check[1].entered_alert, before);
  EXPECT_EQ(check[1].entered_warn, check[1].entered_alert);
  EXPECT_EQ(check[2].entered_alert, 0);  // back to warn
  EXPECT_EQ(check[2].entered_warn, check[1].entered_warn);
  EXPECT_EQ(check[3].entered_warn, 0);

  // Each notification: incident, then the alert process, then the status.
  std::vector<event_t> types;
  for (const EventPtr& ev : o.events) {
    if (ev->type == PUT_INCIDENTLOG || ev->type == OBJECT_STATUS_CHANGE || ev->type == SET_STATUS)
      types.push_back(ev->type);
  }
  const auto first = std::find(types.begin(), types.end(), PUT_INCIDENTLOG);
  ASSERT_GE(std::distance(first, types.end()), 3);
  EXPECT_THAT(std::vector<event_t>(first, first + 3),
              ElementsAre(PUT_INCIDENTLOG, OBJECT_STATUS_CHANGE, SET_STATUS));
}

TEST_F(AlarmE2ETest, StatusBackWhereItWasBeforeTheTurnEndsIsNotReported) {
  script.start(smallTree()).state(kCheck, 0);
  script.states({{kCheck, 3}, {kCheck, 0}});  // alert and back within one turn
  script.states({{kCheck, 2}, {kCheck, 3}});  // two changes: one report from the first status
  const Outcome o = run();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 10}, Change{10, 1}, Change{1, 13}));
}

TEST_F(AlarmE2ETest, UserActionsTravelWithTheirNotifications) {
  CheckSpec sticky;
  sticky.ack = true;
  // Score-driven: two alert states in a row put it at 200 (alert level 100).
  CheckSpec scored;
  scored.strategy = keepers::kScoreDriven;
  scored.rates = {-1000, 1000, 1000};
  NodeSpec levels;
  levels.levels = {50, 100, 1000, 1000};
  script.start(with(domain(kRoot), with(node(kNode), check(kCheck, sticky)),
                    with(node({1, 2}, levels), check({2, 2}, scored))));
  script.state(kCheck, 3).state(kCheck, 0);  // still ALERT: it sticks
  script.acknowledge(kCheck, "seen it", kUser);
  script.state({2, 2}, 3).state({2, 2}, 3).reset({2, 2}, "fixed", kUser, false);
  script.state({2, 2}, 3).state({2, 2}, 3).reset({1, 2}, "all clear", kUser, true);
  const Outcome o = run();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck),
              ElementsAre(Change{0, 10}, Change{10, 13}, Change{13, 1, kUser, "seen it"}));
  EXPECT_THAT(changesOf(o, {2, 2}), ElementsAre(Change{0, 10}, Change{10, 1}, Change{1, 13},
                                                Change{13, 1, kUser, "fixed"}, Change{1, 13},
                                                Change{13, 1, kUser, "all clear"}));
}

TEST_F(AlarmE2ETest, NodeOnlyRequestsForACheckAreIgnoredWithALogLine) {
  script.start(smallTree()).reset(kCheck, "", kUser, true).checkin(kCheck, std::time(nullptr));
  script.state(kCheck, 3);  // still running
  const Outcome o = run();
  expectOrderlyEnd(o);
  EXPECT_THAT(logLines(o.events), Contains("0 Recursive score reset for 2.1 ignored: not a node"));
  EXPECT_THAT(logLines(o.events), Contains("0 Checkin for 2.1 ignored: not a node"));
  EXPECT_THAT(changesOf(o, kCheck), Contains(Change{10, 13}));
}

// --- The delayed pass: dependencies and stations ---

TEST_F(AlarmE2ETest, ProblemIsExplainedWhileWhatItDependsOnHasOneAsBad) {
  CheckSpec dependent;
  dependent.dependsOn = std::set<id_t>{{2, 2}};
  // 2.2 comes first: only a keeper that exists when the link is made
  // learns of its dependent.
  script.start(with(domain(kRoot), with(node(kNode), check({2, 2}), check(kCheck, dependent))));
  script.state(kCheck, 3).state({2, 2}, 3).state({2, 2}, 0);
  const Outcome o = run();
  expectOrderlyEnd(o);
  // Uninitialized while 2.2 is too: explained from the start. Alert is
  // explained only while 2.2 is in alert as well.
  EXPECT_THAT(changesOf(o, kCheck),
              ElementsAre(Change{0, 5}, Change{5, 13}, Change{13, 9}, Change{9, 13}));
}

// A dependency reaches back to its dependents only through links made while
// its keeper existed: one that arrives later is seen by the dependent at the
// dependent's own next evaluation, never through its own changes.
TEST_F(AlarmE2ETest, DependencyThatArrivesLaterDoesNotReachBackToItsDependent) {
  CheckSpec dependent;
  dependent.dependsOn = std::set<id_t>{{2, 2}};
  script.start(with(domain(kRoot), with(node(kNode), check(kCheck, dependent))));
  script.state(kCheck, 3);
  script.patch({kRoot, kNode}, check({2, 2})).state({2, 2}, 3).state({2, 2}, 0);
  script.state(kCheck, 3).state({2, 2}, 3).state(kCheck, 3);
  const Outcome o = run();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, {2, 2}),
              ElementsAre(Change{0, 10}, Change{10, 13}, Change{13, 1}, Change{1, 13}));
  // Only its own last state finds 2.2 in alert.
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 10}, Change{10, 13}, Change{13, 9}));
}

// A new dependsOn only rewrites the links: the objects below see it when they
// next evaluate, or when a dependency that existed at the change moves.
TEST_F(AlarmE2ETest, NewDependsOnIsSeenAtTheNextEvaluationNotAtTheChange) {
  const auto tree = [](std::optional<std::set<id_t>> dependsOn) {
    NodeSpec n;
    n.dependsOn = std::move(dependsOn);
    return with(node(kNode, n), check(kCheck));
  };
  script.start(with(domain(kRoot), tree(std::nullopt), with(node({1, 2}), check({2, 2}))));
  script.state(kCheck, 3).state({2, 2}, 3);
  script.patch({kRoot}, tree(std::set<id_t>{{1, 2}}));
  script.state({2, 2}, 0).state(kCheck, 3).state({2, 2}, 3);
  const Outcome o = run();
  expectOrderlyEnd(o);
  // Explained only once 1.2's counts move after the link was made.
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 10}, Change{10, 13}, Change{13, 9}));
}

TEST_F(AlarmE2ETest, ObjectsAtAStationTurnUnknownWhileItsExportIsInTrouble) {
  NodeSpec located;
  located.locale = 7;
  script.start(with(domain(kRoot), domainExport({3, 1}, station(7)),
                    with(node(kNode, located), check(kCheck))));
  script.checkin(kNode, std::time(nullptr)).state(kCheck, 0);
  script.state({3, 1}, 0).state({3, 1}, 3).state({3, 1}, 0);
  const Outcome o = run();
  expectOrderlyEnd(o);
  // The export starts out uninitialized, which already counts as trouble.
  for (const id_t& id : {kNode, kCheck}) {
    EXPECT_THAT(changesOf(o, id),
                ElementsAre(Change{0, 5}, Change{5, 1}, Change{1, 5}, Change{5, 1}))
        << id.toString();
  }
}

// A rising good-state rate arms a score deadline microseconds ahead that
// accumulation never reaches (the good state caps the score at 0), so that
// boundary comes due again at once, turn after turn. It must not hold off
// the input: every event is still read and the run ends with its input.
TEST_F(AlarmE2ETest, BoundaryDueOverAndOverDoesNotHoldOffTheInput) {
  NodeSpec rising;
  rising.strategy = keepers::kScoreDriven;
  rising.checkinScore = 83886327;
  // Debug logging (mask 32) makes every turn slower than the deadline is far.
  script.start(smallTree({}, rising), 32).checkin(kNode, std::time(nullptr)).state(kCheck, 3);
  const Outcome o = run();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck), Contains(Change{10, 13}));
}

// --- Events that came before their object ---

TEST_F(AlarmE2ETest, EarlyEventsAreAppliedAtTheFullReplyTheLastStateAndFirstAcknowledgement) {
  CheckSpec sticky;
  sticky.ack = true;
  script.configure().state(kCheck, 2).state(kCheck, 3).state({2, 2}, 3).state({2, 2}, 2);
  script.acknowledge(kCheck, "first", kUser).acknowledge(kCheck, "second", {8, 2});
  script.selectReply(with(domain(kRoot), with(node(kNode), check(kCheck, sticky), check({2, 2}))));
  const Outcome o = run();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 1, kUser, "first"}));
  EXPECT_THAT(changesOf(o, {2, 2}), ElementsAre(Change{0, 12}));
}

TEST_F(AlarmE2ETest, EarlyEventsForObjectsTheReplyLacksAreReportedAndDropped) {
  script.configure().checkin({1, 9}, 1700000000).state({2, 9}, 3);
  script.acknowledge({2, 9}, "too early", kUser).checkin(kNode, 1700000000);
  script.selectReply(smallTree());
  script.selectReply(with(domain(kRoot), with(node({1, 9}), check({2, 9}))));
  const Outcome o = run();
  expectOrderlyEnd(o);
  std::vector<std::string> reported;
  for (const std::string& line : logLines(o.events)) {
    if (line.find("remembered") != std::string::npos) reported.push_back(line);
  }
  EXPECT_THAT(reported, ElementsAre("0 Got remembered notification for nonexistant node (2.9)",
                                    "0 Got remembered acknowledge for nonexistant node (2.9)",
                                    "0 Got remembered checkin for nonexistant node (1.9)"));
  // Nothing was kept for the second reply that has them.
  EXPECT_THAT(changesOf(o, {2, 9}), ElementsAre(Change{0, 10}));
  // The node's own check-in was applied.
  EXPECT_THAT(changesOf(o, kNode), ElementsAre(Change{0, 1}));
}

TEST_F(AlarmE2ETest, PatchesDoNotApplyRememberedEventsTheNextFullReplyDoes) {
  const id_t added{2, 3};
  script.start(smallTree()).state(added, 3).patch({kRoot, kNode}, check(added));
  script.selectReply(with(domain(kRoot), with(node(kNode), check(kCheck), check(added))));
  const Outcome o = run();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, added), ElementsAre(Change{0, 10}, Change{10, 13}));
}

// --- Metering ---

// The metering layer has its own tests; here: the process's registrations
// and that each answer goes back to its sender with its uid.
TEST_F(AlarmE2ETest, MetricRequestsAreAnsweredToTheirSenderWithTheirUid) {
  script.start(smallTree()).probe(40);
  script.send<GET_METRIC>(QUEUE_DBMS, 41, {{"metering"}});
  script.send<LIST_METRICS>(QUEUE_MAIN, 42, 0);
  const Outcome o = run();
  expectOrderlyEnd(o);
  std::vector<const event*> replies;
  for (const EventPtr& ev : o.events) {
    if (ev->inresponse >= 40 && ev->inresponse <= 42 && ev->type != SYSTEM_LOG_REQUEST)
      replies.push_back(ev.get());
  }
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(dynamic_cast<const devent_t<RETURN_METRIC_UINT64>&>(*replies[0]).data, 2u);
  EXPECT_EQ(replies[0]->dest, QUEUE_MAIN);
  EXPECT_EQ(dynamic_cast<const devent_t<RETURN_METRIC_ERROR>&>(*replies[1]).data, "Unknown metric");
  EXPECT_EQ(replies[1]->dest, QUEUE_DBMS);
  const auto& list = dynamic_cast<const devent_t<RETURN_LIST_METRICS>&>(*replies[2]).data;
  std::vector<std::string> groups, metrics;
  for (const auto& g : list.groups) groups.push_back(g.name);
  for (const auto& m : list.metrics) metrics.push_back(m.name);
  EXPECT_THAT(metrics, ElementsAre("num_objs"));
  EXPECT_THAT(groups, Contains("tqlutil"));
}

// --- Scheduled downtime ---
// Plans are evaluated on the real clock here, so every time in these tests
// is an hour or more away from now: nothing waits, and nothing depends on
// how long the test takes. The tests read while the program runs, so that
// they can answer its deletes with the uids it chose, as the DBMS would.

constexpr std::int64_t kHour = 3600;
const id_t kPlan{4, 1};
const id_t kEvent{7, 1};

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

// smallTree() with a node that expects no check-ins (no status, no
// wake-ups) and, when given, a plan with one event on it.
object_ptr plannedTree(object_ptr event = nullptr) {
  NodeSpec quiet;
  quiet.frequency.reset();
  object_ptr tree = smallTree({}, quiet);
  if (event != nullptr)
    tree->children.at(0)->children.push_back(with(object(tql::cls::Plan, kPlan), std::move(event)));
  return tree;
}

// The uids of the deletes among `events`, each checked to delete the event.
std::vector<std::uint32_t> deletesOfTheEvent(const std::vector<EventPtr>& events) {
  std::vector<std::uint32_t> uids;
  for (const EventPtr& ev : events) {
    if (ev->type != TQL_DELETE) continue;
    EXPECT_NE(ev->inresponse, 0u);
    EXPECT_EQ(
        ev->toString(),
        devent_t<TQL_DELETE>(QUEUE_DBMS, ev->inresponse, {kEvent, {5, 2}, {}, false}).toString());
    uids.push_back(ev->inresponse);
  }
  return uids;
}

TEST_F(AlarmE2ETest, ExpiredEventIsDeletedOnceWhileInFlightAgainWhenDeliveredAgain) {
  const std::int64_t now = std::time(nullptr);
  script.start(plannedTree(expectedEvent(now - 2 * kHour, now - kHour)));
  const std::vector<std::uint32_t> first = deletesOfTheEvent(readThrough(50));
  ASSERT_EQ(first.size(), 1u);
  // More events while the delete is in flight: nothing is sent again.
  script.state(kCheck, 3).state(kCheck, 0);
  EXPECT_THAT(deletesOfTheEvent(readThrough(51)), IsEmpty());
  // Delivered again before the delete has arrived: deleted again.
  script.patch({kRoot, kNode, kPlan}, expectedEvent(now - 2 * kHour, now - kHour));
  const std::vector<std::uint32_t> second = deletesOfTheEvent(readThrough(52));
  ASSERT_EQ(second.size(), 1u);
  EXPECT_NE(second[0], first[0]);

  // The DBMS answers both, then its subscription drops the event.
  script.send<RETURN_TQL_DELETE>(QUEUE_DBMS, first[0], {});
  script.send<RETURN_TQL_DELETE>(QUEUE_DBMS, second[0], {}).remove(kEvent).state(kCheck, 3);
  const Outcome o = run();
  expectOrderlyEnd(o);  // no "unexpected event RETURN_TQL_DELETE"
  EXPECT_THAT(deletesOfTheEvent(o.events), IsEmpty());
  EXPECT_THAT(incidents(o.events), ElementsAre("cpu Reached ALERT level (4)"));
}

TEST_F(AlarmE2ETest, DowntimeIsLoggedWhenEnteredAndWhenThePlanGoes) {
  const std::int64_t now = std::time(nullptr);
  script.start(plannedTree()).state(kCheck, 3);
  script.patch({kRoot, kNode},
               with(object(tql::cls::Plan, kPlan), unexpectedEvent(now + kHour, "disk swap")));
  const std::vector<EventPtr> during = readThrough(50);
  script.remove(kPlan);
  const Outcome o = run();
  expectOrderlyEnd(o);
  EXPECT_THAT(incidents(during), ElementsAre("cpu Reached ALERT level (4)",
                                             "cpu Entered downtime [Comment: disk swap] (1)"));
  std::vector<std::uint32_t> statuses;
  for (const auto& s : payloadsOf<SET_STATUS>(during)) statuses.push_back(s.status);
  EXPECT_THAT(statuses, ElementsAre(10u, 13u, 8u));
  EXPECT_THAT(incidents(o.events), ElementsAre("cpu Left downtime, switched to ALERT (4)"));
  // The event still lies ahead: nothing to delete.
  EXPECT_THAT(deletesOfTheEvent(during), IsEmpty());
  EXPECT_THAT(deletesOfTheEvent(o.events), IsEmpty());
}

// --- Input the process cannot take ---

TEST_F(AlarmE2ETest, InputEndingInsideAnEventIsTheEndOfTheInput) {
  script.configure();
  alarm.play(script);
  const auto bytes = encode(devent_t<IMMEDIATE_STATE>(QUEUE_DBMS, 0, {kCheck, 3}));
  alarm.sendBytes({bytes.begin(), bytes.begin() + 20});
  expectOrderlyEnd(alarm.finish());
}

// Each ends a run of its own: an error with "Caught: " and its text (exit
// 1), a broken peer with the failed check (abort).
TEST_F(AlarmE2ETest, WhatTheProcessCannotTakeEndsTheRunWithItsText) {
  dbms::Return_Tql_Select_Data failed;
  failed.status = 5;
  failed.details = {{17, "no such class"}, {18, "and more"}};
  dbms::Return_Tql_Select_Data bare;
  bare.status = -3;
  const auto exitThen = [](Script& s) -> Script& {
    return s.configure().send<SYS_EXIT>(QUEUE_MAIN, 0, {});
  };
  const auto configured = [](Script& s) { s.configure(); };
  struct Case {
    std::function<void(Script&)> input;
    std::string line;                      // the last line of standard error
    std::vector<std::uint8_t> bytes = {};  // sent after the input
  };
  const std::vector<Case> cases = {
      {[](Script&) {},
       "Caught: Peer MAIN returned EOS when waiting for control::Server_Configuration"},
      {[](Script& s) {
         s.answer(REQUEST_SERVER_CONFIGURATION, exevent(QUEUE_MAIN, 0, "store unavailable"));
       },
       "Caught: store unavailable"},
      {[](Script& s) { s.answer<INIT_OK>(REQUEST_SERVER_CONFIGURATION, QUEUE_MAIN, {}); },
       "Assertion failed: Dialog to main, sent REQUEST_SERVER_CONFIGURATION expected "
       "SERVER_CONFIGURATION got INIT_OK uid=" +
           std::to_string(RequestUids::atStartup().configuration())},
      {configured,
       "Assertion failed: fdio >> event: unknown type index: 250 old was 5 dest 0",
       {250, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      // IMMEDIATE_STATE whose id claims seven components.
      {configured,
       "Caught: small vector resize overflow 7 > 3",
       {178, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0}},
      {[](Script& s) { s.configure().send<RETURN_TQL_SELECT>(QUEUE_DBMS, 999, {}); },
       "Caught: Alarm got unsolicited select reply"},
      {[&](Script& s) { s.configure().selectReply(std::move(failed)); },
       "Caught: Alarm: error in select (5, no such class)"},
      {[&](Script& s) { s.configure().selectReply(std::move(bare)); },
       "Caught: Alarm: error in select (-3)"},
      {[](Script& s) {
         s.start(with(domain(kRoot),
                      with(node(kNode), with(group({4, 1}, "disks"), object(33, {6, 1})))));
       },
       "Caught: Got Plan as child of CheckGroup"},
      {[](Script& s) {
         s.start(smallTree()).patch({{0, 2}, kNode}, check({2, 3}));
       },
       "Assertion failed: Patch does not match"},
      {[](Script& s) { s.configure().send<RETURN_TQL_DELETE>(QUEUE_DBMS, 77, {}); },
       "Caught: Alarm got unexpected event RETURN_TQL_DELETE inside BROADCAST_WRITE"},
      {[](Script& s) { s.configure().send(exevent(QUEUE_MAIN, 0, "stray")); },
       "Caught: Alarm got unexpected event MESSAGE_EXCEPTION inside BROADCAST_WRITE"},
      {exitThen, "Caught: Peer DBMS returned EOS when waiting for dbms::Return_Tql_Forget"},
      {[&](Script& s) {
         exitThen(s).answer(TQL_FORGET, exevent(QUEUE_DBMS, 0, "no such subscription"));
       },
       "Caught: no such subscription"},
      // The shutdown after the forget needs the messenger, which pipe mode
      // lacks (halarm/run_test.cpp runs it over one).
      {[&](Script& s) { exitThen(s).answer<RETURN_TQL_FORGET>(TQL_FORGET, QUEUE_DBMS, {}); },
       "Assertion failed: Queue shutdown with no messenger"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    AlarmProcess process;
    c.input(script);
    process.play(script);
    process.sendBytes(c.bytes);
    const Outcome o = process.finish();
    if (c.line.starts_with("Assertion failed: ")) {
      EXPECT_TRUE(o.aborted()) << o.standardError;
      EXPECT_THAT(o.standardError, HasSubstr(c.line + "\n"));
    } else {
      EXPECT_TRUE(o.exited(1)) << o.standardError;
      EXPECT_EQ(o.standardError, c.line + "\n");
    }
  }
}

}  // namespace
}  // namespace halarm::e2e
