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

#include "alarm/subscription.h"
#include "testkit/alarm_process.h"
#include "testkit/events.h"
#include "testkit/tree.h"

namespace halarm::e2e {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using namespace testkit;
using namespace queues;
using tql::id_t;
using tql::object_ptr;

constexpr std::uint32_t kConfigurationUid = 2;
constexpr std::uint32_t kSelectUid = 3;
const id_t kRoot{0, 1};
const id_t kNode{1, 1};
const id_t kCheck{2, 1};
const id_t kUser{8, 1};

template <event_t N>
std::vector<event_data_t<N>> sentOf(const Outcome& o) {
  std::vector<event_data_t<N>> out;
  for (const EventPtr& ev : o.events) {
    if (ev->type == N) out.push_back(dynamic_cast<const devent_t<N>&>(*ev).data);
  }
  return out;
}

std::vector<std::string> logLines(const Outcome& o) {
  std::vector<std::string> lines;
  for (const auto& l : sentOf<SYSTEM_LOG_REQUEST>(o))
    lines.push_back(std::to_string(l.log_type) + " " + l.msg);
  return lines;
}

struct Change {
  std::uint32_t from;
  std::uint32_t to;
  id_t user;
  std::string comment;
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
  for (const auto& c : sentOf<OBJECT_STATUS_CHANGE>(o)) {
    if (c.object == id) out.push_back({c.old_status, c.new_status, c.user, c.comment});
  }
  return out;
}

std::vector<std::uint32_t> statusesOf(const Outcome& o, const id_t& id) {
  std::vector<std::uint32_t> out;
  for (const auto& s : sentOf<SET_STATUS>(o)) {
    if (s.id == id) out.push_back(s.status);
  }
  return out;
}

// "text (level)" of every incident log entry.
std::vector<std::string> incidents(const Outcome& o) {
  std::vector<std::string> out;
  for (const auto& i : sentOf<PUT_INCIDENTLOG>(o))
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

// Score-driven: two alert states in a row put it at 200 (alert level 100).
CheckSpec scoredCheck(bool ack = false) {
  CheckSpec s;
  s.strategy = keepers::kScoreDriven;
  s.rates = {-1000, 1000, 1000};
  s.ack = ack;
  return s;
}
NodeSpec scoredLevels() {
  NodeSpec n;
  n.levels = {50, 100, 1000, 1000};
  return n;
}

class AlarmE2ETest : public ::testing::Test {
 protected:
  void configure(std::int32_t logMask = 0) {
    control::Server_Configuration_Fields conf;
    conf.log_mask = logMask;
    alarm.send<SERVER_CONFIGURATION>(QUEUE_MAIN, kConfigurationUid, conf);
  }
  void selectReply(object_ptr tree, std::uint32_t uid = kSelectUid) {
    dbms::Return_Tql_Select_Data data;
    if (tree != nullptr) data.res.push_back(std::move(tree));
    alarm.send<RETURN_TQL_SELECT>(QUEUE_DBMS, uid, std::move(data));
  }
  void start(object_ptr tree) {
    configure();
    selectReply(std::move(tree));
  }
  // `target` with its subtree at the end of `path` (root to its parent).
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
  void state(const id_t& id, std::int32_t s) {
    alarm.send<IMMEDIATE_STATE>(QUEUE_DBMS, 0, {id, s});
  }
  void states(std::list<alarms::Immediate_State_Data> list) {
    alarm.send<IMMEDIATE_STATES>(QUEUE_DBMS, 0, {std::move(list)});
  }
  void checkin(const id_t& id, std::int64_t time = std::time(nullptr)) {
    alarm.send<CHECKIN>(QUEUE_DBMS, 0, {id, time});
  }
  void acknowledge(const id_t& object, const std::string& comment, const id_t& user = kUser) {
    alarm.send<ACKNOWLEDGE_ALERT>(QUEUE_DBMS, 0, {user, comment, object});
  }
  void reset(const id_t& object, const std::string& comment, bool recursive = false) {
    alarm.send<RESET_SCORE>(QUEUE_DBMS, 0, {kUser, comment, object, recursive});
  }
  void getMetric(std::uint32_t uid, std::list<std::string> path, queue_t from = QUEUE_MAIN) {
    alarm.send<GET_METRIC>(from, uid, {std::move(path)});
  }

  // The run ended with "Caught: " + text and exit code 1.
  void expectCaught(const Outcome& o, const std::string& text) {
    EXPECT_TRUE(o.exited(1)) << o.standardError;
    EXPECT_EQ(o.standardError, "Caught: " + text + "\n");
  }
  void expectAssertion(const Outcome& o, const std::string& text) {
    EXPECT_TRUE(o.aborted()) << o.standardError;
    EXPECT_THAT(o.standardError, HasSubstr("Assertion failed: " + text + "\n"));
  }
  void expectOrderlyEnd(const Outcome& o) {
    EXPECT_TRUE(o.exited(0)) << o.standardError;
    EXPECT_EQ(o.standardError, "");
  }

  AlarmProcess alarm;
};

// --- Start-up ---

TEST_F(AlarmE2ETest, StartsUpWithItsRequestsInOrderAndEndsWithItsInput) {
  configure();
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  ASSERT_EQ(o.events.size(), 5u);

  const auto& log = dynamic_cast<const devent_t<SYSTEM_LOG_REQUEST>&>(*o.events[0]);
  EXPECT_EQ(log.dest, QUEUE_MAIN);
  EXPECT_EQ(log.inresponse, 1u);
  EXPECT_EQ(log.data.msg, "Alarm logic running");
  EXPECT_EQ(log.data.log_type, 0u);

  const auto& request = dynamic_cast<const devent_t<REQUEST_SERVER_CONFIGURATION>&>(*o.events[1]);
  EXPECT_EQ(request.dest, QUEUE_MAIN);
  EXPECT_EQ(request.inresponse, kConfigurationUid);
  EXPECT_EQ(request.data, 0);

  const auto& metrics = dynamic_cast<const devent_t<SUPPORTS_METRICS>&>(*o.events[2]);
  EXPECT_EQ(metrics.dest, QUEUE_MAIN);
  EXPECT_EQ(metrics.inresponse, 0u);

  const auto& select = dynamic_cast<const devent_t<TQL_SELECT>&>(*o.events[3]);
  EXPECT_EQ(select.dest, QUEUE_DBMS);
  EXPECT_EQ(select.inresponse, kSelectUid);
  EXPECT_EQ(testkit::encode(select),
            testkit::encode(devent_t<TQL_SELECT>(QUEUE_DBMS, kSelectUid, subscriptionRequest())));

  const auto& initOk = dynamic_cast<const devent_t<INIT_OK>&>(*o.events[4]);
  EXPECT_EQ(initOk.dest, QUEUE_MAIN);
  EXPECT_EQ(initOk.inresponse, 0u);
  EXPECT_EQ(initOk.data.depend_on, (std::set<queue_t>{QUEUE_SCHD, QUEUE_DBMS, QUEUE_ALRT}));
}

// --- The configuration dialog ---

TEST_F(AlarmE2ETest, InputEndingBeforeTheConfigurationIsAnError) {
  const Outcome o = alarm.finish();
  expectCaught(o, "Peer MAIN returned EOS when waiting for control::Server_Configuration");
  EXPECT_EQ(o.events.size(), 2u);
}

TEST_F(AlarmE2ETest, ConfigurationAnsweredWithAnExceptionEndsTheRunWithItsText) {
  alarm.send(exevent(QUEUE_MAIN, kConfigurationUid, "configuration store unavailable"));
  expectCaught(alarm.finish(), "configuration store unavailable");
}

TEST_F(AlarmE2ETest, ConfigurationAnsweredWithAnotherTypeStopsTheProcess) {
  alarm.send<INIT_OK>(QUEUE_MAIN, kConfigurationUid, {});
  expectAssertion(alarm.finish(),
                  "Dialog to main, sent REQUEST_SERVER_CONFIGURATION expected "
                  "SERVER_CONFIGURATION got INIT_OK uid=2");
}

TEST_F(AlarmE2ETest, EventsArrivingBeforeTheConfigurationAreHandledAfterStartUpInOrder) {
  getMetric(50, {"num_objs"});
  alarm.send<LIST_METRICS>(QUEUE_MAIN, 51, 0);
  // The right uid from the wrong peer is not the reply.
  alarm.send<SERVER_CONFIGURATION>(QUEUE_DBMS, kConfigurationUid, {});
  configure();
  const Outcome o = alarm.finish();
  ASSERT_GE(o.events.size(), 7u);
  EXPECT_EQ(o.events[4]->type, INIT_OK);
  EXPECT_EQ(o.events[5]->type, RETURN_METRIC_UINT64);
  EXPECT_EQ(o.events[5]->inresponse, 50u);
  EXPECT_EQ(o.events[6]->type, RETURN_LIST_METRICS);
  EXPECT_EQ(o.events[6]->inresponse, 51u);
  expectCaught(o, "Alarm got unexpected event SERVER_CONFIGURATION inside BROADCAST_WRITE");
}

// --- Subscription replies and patches ---

TEST_F(AlarmE2ETest, FullSelectBuildsTheMirrorAndReportsEveryNewStatus) {
  CheckSpec inactive;
  inactive.active = false;
  configure();
  selectReply(with(domain(kRoot), domainExport({3, 1}, station(7)),
                   with(node(kNode), check(kCheck), check({2, 2}, inactive))));
  getMetric(40, {"num_objs"});
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  for (const id_t& id : {kNode, kCheck, id_t{3, 1}}) {
    EXPECT_THAT(changesOf(o, id), ElementsAre(Change{0, 10, {}, ""})) << id.toString();
    EXPECT_THAT(statusesOf(o, id), ElementsAre(10u)) << id.toString();
  }
  EXPECT_THAT(changesOf(o, {2, 2}), IsEmpty());
  EXPECT_THAT(incidents(o), IsEmpty());
  EXPECT_THAT(sentOf<RETURN_METRIC_UINT64>(o), ElementsAre(4u));
  EXPECT_THAT(logLines(o), Contains("0 Sent 2 status notifications"));
}

TEST_F(AlarmE2ETest, PatchesAddReplaceAndDeleteObjects) {
  start(smallTree());
  patch({kRoot, kNode}, check({2, 3}));
  CheckSpec inactive;
  inactive.active = false;
  patch({kRoot, kNode}, check(kCheck, inactive));
  state({2, 3}, 3);
  remove({2, 3});
  getMetric(40, {"num_objs"});
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, {2, 3}), ElementsAre(Change{0, 10, {}, ""}, Change{10, 13, {}, ""}));
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 10, {}, ""}, Change{10, 0, {}, ""}));
  EXPECT_THAT(statusesOf(o, kCheck), ElementsAre(10u, 0u));
  // Node and the inactive check are left.
  EXPECT_THAT(sentOf<RETURN_METRIC_UINT64>(o), ElementsAre(2u));
}

TEST_F(AlarmE2ETest, RelocatedCheckStartsAfreshUnderItsNewNode) {
  start(with(domain(kRoot), with(node(kNode), check(kCheck)), node({1, 2})));
  state(kCheck, 3);
  patch({kRoot, {1, 2}}, check(kCheck));
  state(kCheck, 3);
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 10, {}, ""}, Change{10, 13, {}, ""},
                                                Change{0, 10, {}, ""}, Change{10, 13, {}, ""}));
  const auto logged = sentOf<PUT_INCIDENTLOG>(o);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0].host_id, kNode);
  EXPECT_EQ(logged[1].host_id, (id_t{1, 2}));
}

TEST_F(AlarmE2ETest, AnotherFullSelectKeepsTheKeepersOfObjectsThatStay) {
  start(with(domain(kRoot), with(node(kNode), check(kCheck), check({2, 2}))));
  state(kCheck, 3);
  selectReply(smallTree());  // 2.2 is gone
  getMetric(40, {"num_objs"});
  selectReply(nullptr);  // everything is gone
  getMetric(41, {"num_objs"});
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 10, {}, ""}, Change{10, 13, {}, ""}));
  EXPECT_THAT(sentOf<RETURN_METRIC_UINT64>(o), ElementsAre(2u, 0u));
}

TEST_F(AlarmE2ETest, SelectReplyToAnotherRequestEndsTheRun) {
  configure();
  selectReply(smallTree(), kSelectUid + 1);
  expectCaught(alarm.finish(), "Alarm got unsolicited select reply");
}

TEST_F(AlarmE2ETest, FailedSelectEndsTheRunWithItsStatusAndFirstDetail) {
  configure();
  dbms::Return_Tql_Select_Data failed;
  failed.status = 5;
  failed.details = {{17, "no such class"}, {18, "and more"}};
  alarm.send<RETURN_TQL_SELECT>(QUEUE_DBMS, kSelectUid, failed);
  expectCaught(alarm.finish(), "Alarm: error in select (5, no such class)");

  AlarmProcess other;
  other.send<SERVER_CONFIGURATION>(QUEUE_MAIN, kConfigurationUid, {});
  dbms::Return_Tql_Select_Data bare;
  bare.status = -3;
  other.send<RETURN_TQL_SELECT>(QUEUE_DBMS, kSelectUid, bare);
  expectCaught(other.finish(), "Alarm: error in select (-3)");
}

TEST_F(AlarmE2ETest, ObjectTheKeepersRefuseEndsTheRun) {
  start(with(domain(kRoot), with(node(kNode), with(group({4, 1}, "disks"), object(33, {6, 1})))));
  expectCaught(alarm.finish(), "Got Plan as child of CheckGroup");
}

TEST_F(AlarmE2ETest, PatchInconsistentWithTheMirrorStopsTheProcess) {
  start(smallTree());
  patch({{0, 2}, kNode}, check({2, 3}));
  expectAssertion(alarm.finish(), "Patch does not match");
}

// --- Status notifications ---

TEST_F(AlarmE2ETest, EachChangeIsLoggedNotifiedAndStoredWithItsIncidentText) {
  start(smallTree());
  const std::int64_t before = std::time(nullptr);
  for (std::int32_t s : {3, 2, 0, 2}) state(kCheck, s);
  const Outcome o = alarm.finish();
  const std::int64_t after = std::time(nullptr);
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck),
              ElementsAre(Change{0, 10, {}, ""}, Change{10, 13, {}, ""}, Change{13, 12, {}, ""},
                          Change{12, 1, {}, ""}, Change{1, 12, {}, ""}));
  EXPECT_THAT(incidents(o),
              ElementsAre("cpu Reached ALERT level (4)", "cpu Left alert level (2)",
                          "cpu Left warning level (1)", "cpu Reached WARNING level (2)"));
  for (const auto& i : sentOf<PUT_INCIDENTLOG>(o)) {
    EXPECT_EQ(i.host_id, kNode);
    EXPECT_GE(i.time, before);
    EXPECT_LE(i.time, after);
  }
  const auto stored = sentOf<SET_STATUS>(o);
  std::vector<alarms::Set_Status_Data> check;
  std::copy_if(stored.begin(), stored.end(), std::back_inserter(check),
               [](const auto& s) { return s.id == kCheck; });
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
  start(smallTree());
  state(kCheck, 0);
  states({{kCheck, 3}, {kCheck, 0}});  // alert and back within one turn
  states({{kCheck, 2}, {kCheck, 3}});  // two changes: one report from the first status
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck),
              ElementsAre(Change{0, 10, {}, ""}, Change{10, 1, {}, ""}, Change{1, 13, {}, ""}));
}

TEST_F(AlarmE2ETest, AcknowledgementEndsAStickyAlertAndTravelsWithItsNotification) {
  CheckSpec sticky;
  sticky.ack = true;
  start(smallTree(sticky));
  state(kCheck, 3);
  state(kCheck, 0);  // still ALERT: it sticks
  acknowledge(kCheck, "seen it");
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 10, {}, ""}, Change{10, 13, {}, ""},
                                                Change{13, 1, kUser, "seen it"}));
}

TEST_F(AlarmE2ETest, ScoreResetsAreNotifiedWithTheirUser) {
  start(smallTree(scoredCheck(), scoredLevels()));
  state(kCheck, 3);
  state(kCheck, 3);
  reset(kCheck, "fixed");
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck),
              ElementsAre(Change{0, 10, {}, ""}, Change{10, 1, {}, ""}, Change{1, 13, {}, ""},
                          Change{13, 1, kUser, "fixed"}));
}

TEST_F(AlarmE2ETest, RecursiveResetOfANodeResetsItsChecks) {
  start(smallTree(scoredCheck(), scoredLevels()));
  state(kCheck, 3);
  state(kCheck, 3);
  reset(kNode, "all clear", true);
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  const auto changes = changesOf(o, kCheck);
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes.back(), (Change{13, 1, kUser, "all clear"}));
}

TEST_F(AlarmE2ETest, NodeOnlyRequestsForACheckAreIgnoredWithALogLine) {
  start(smallTree());
  reset(kCheck, "", true);
  checkin(kCheck);
  state(kCheck, 3);  // still running
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(logLines(o), Contains("0 Recursive score reset for 2.1 ignored: not a node"));
  EXPECT_THAT(logLines(o), Contains("0 Checkin for 2.1 ignored: not a node"));
  EXPECT_THAT(changesOf(o, kCheck), Contains(Change{10, 13, {}, ""}));
}

// --- Dependencies and stations ---

TEST_F(AlarmE2ETest, ProblemIsExplainedWhileWhatItDependsOnHasOneAsBad) {
  CheckSpec dependent;
  dependent.dependsOn = std::set<id_t>{{2, 2}};
  start(with(domain(kRoot), with(node(kNode), check(kCheck, dependent), check({2, 2}))));
  state(kCheck, 3);
  state({2, 2}, 3);
  state({2, 2}, 0);
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  // Uninitialized while 2.2 is too: explained from the start. Alert is
  // explained only while 2.2 is in alert as well.
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 5, {}, ""}, Change{5, 13, {}, ""},
                                                Change{13, 9, {}, ""}, Change{9, 13, {}, ""}));
}

TEST_F(AlarmE2ETest, ObjectsAtAStationTurnUnknownWhileItsExportIsInTrouble) {
  NodeSpec located;
  located.locale = 7;
  start(with(domain(kRoot), domainExport({3, 1}, station(7)),
             with(node(kNode, located), check(kCheck))));
  checkin(kNode);
  state(kCheck, 0);
  state({3, 1}, 0);
  state({3, 1}, 3);
  state({3, 1}, 0);
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  // The export starts out uninitialized, which already counts as trouble.
  for (const id_t& id : {kNode, kCheck}) {
    EXPECT_THAT(changesOf(o, id), ElementsAre(Change{0, 5, {}, ""}, Change{5, 1, {}, ""},
                                              Change{1, 5, {}, ""}, Change{5, 1, {}, ""}))
        << id.toString();
  }
  // The export's own changes are notified but not written to the log.
  EXPECT_THAT(changesOf(o, {3, 1}), Contains(Change{1, 13, {}, ""}));
  for (const auto& i : sentOf<PUT_INCIDENTLOG>(o)) EXPECT_NE(i.host_id, (id_t{3, 1}));
}

TEST_F(AlarmE2ETest, AgentChecksAreUnknownWhileTheirNodeIsInTrouble) {
  const id_t agent{2, 5};
  start(with(domain(kRoot), with(node(kNode), with(group({4, 1}, "agentchecks"), check(agent)))));
  checkin(kNode);
  state(agent, 0);
  state(kNode, 3);
  state(kNode, 0);
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  // Explained while the node is uninitialized, its own status once the node
  // checked in, explained again while the node is in alert.
  EXPECT_THAT(changesOf(o, agent),
              ElementsAre(Change{0, 5, {}, ""}, Change{5, 10, {}, ""}, Change{10, 1, {}, ""},
                          Change{1, 5, {}, ""}, Change{5, 1, {}, ""}));
}

// --- Events that came before their object ---

TEST_F(AlarmE2ETest, StatesBeforeTheFullReplyAreAppliedThereTheLastOneWinning) {
  configure();
  state(kCheck, 2);
  state(kCheck, 3);
  selectReply(smallTree());
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 13, {}, ""}));
}

TEST_F(AlarmE2ETest, FirstOfTwoEarlyAcknowledgementsIsApplied) {
  CheckSpec sticky;
  sticky.ack = true;
  configure();
  state(kCheck, 3);
  acknowledge(kCheck, "first");
  acknowledge(kCheck, "second", {8, 2});
  selectReply(smallTree(sticky));
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, kCheck), ElementsAre(Change{0, 1, kUser, "first"}));
}

TEST_F(AlarmE2ETest, EarlyEventsForObjectsTheReplyLacksAreReportedAndDropped) {
  configure();
  checkin({1, 9}, 1700000000);
  state({2, 9}, 3);
  acknowledge({2, 9}, "too early");
  checkin(kNode, 1700000000);
  selectReply(smallTree());
  selectReply(with(domain(kRoot), with(node({1, 9}), check({2, 9}))));
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  std::vector<std::string> reported;
  for (const std::string& line : logLines(o)) {
    if (line.find("remembered") != std::string::npos) reported.push_back(line);
  }
  EXPECT_THAT(reported, ElementsAre("0 Got remembered notification for nonexistant node (2.9)",
                                    "0 Got remembered acknowledge for nonexistant node (2.9)",
                                    "0 Got remembered checkin for nonexistant node (1.9)"));
  // Nothing was kept for the second reply that has them.
  EXPECT_THAT(changesOf(o, {2, 9}), ElementsAre(Change{0, 10, {}, ""}));
  // The node's own check-in was applied.
  EXPECT_THAT(changesOf(o, kNode), ElementsAre(Change{0, 1, {}, ""}));
}

TEST_F(AlarmE2ETest, PatchesDoNotApplyRememberedEventsTheNextFullReplyDoes) {
  const id_t added{2, 3};
  start(smallTree());
  state(added, 3);
  patch({kRoot, kNode}, check(added));
  selectReply(with(domain(kRoot), with(node(kNode), check(kCheck), check(added))));
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  EXPECT_THAT(changesOf(o, added), ElementsAre(Change{0, 10, {}, ""}, Change{10, 13, {}, ""}));
}

// --- Metering ---

TEST_F(AlarmE2ETest, MetricRequestsAreAnsweredToTheirSenderWithTheirUid) {
  start(smallTree());
  getMetric(40, {"num_objs"});
  getMetric(41, {"metering"}, QUEUE_DBMS);
  getMetric(42, {"metering", "time"});
  alarm.send<GET_METRIC_TYPE>(QUEUE_MAIN, 43, {{"queues", "blockings"}});
  alarm.send<LIST_METRICS>(QUEUE_MAIN, 44, 0);
  const Outcome o = alarm.finish();
  expectOrderlyEnd(o);
  std::vector<const event*> replies;
  for (const EventPtr& ev : o.events) {
    if (ev->inresponse >= 40 && ev->inresponse <= 44 && ev->type != SYSTEM_LOG_REQUEST)
      replies.push_back(ev.get());
  }
  ASSERT_EQ(replies.size(), 5u);
  EXPECT_EQ(dynamic_cast<const devent_t<RETURN_METRIC_UINT64>&>(*replies[0]).data, 2u);
  EXPECT_EQ(replies[0]->dest, QUEUE_MAIN);
  EXPECT_EQ(dynamic_cast<const devent_t<RETURN_METRIC_ERROR>&>(*replies[1]).data, "Unknown metric");
  EXPECT_EQ(replies[1]->dest, QUEUE_DBMS);
  const auto& timing = dynamic_cast<const devent_t<RETURN_METRIC_TIMING>&>(*replies[2]).data;
  EXPECT_EQ(timing.n, 2u);  // the two earlier requests
  const auto& type = dynamic_cast<const devent_t<RETURN_GET_METRIC_TYPE>&>(*replies[3]).data;
  EXPECT_EQ(type.name, "blockings");
  EXPECT_EQ(type.unit, "us");
  EXPECT_EQ(type.type, 3u);
  const auto& list = dynamic_cast<const devent_t<RETURN_LIST_METRICS>&>(*replies[4]).data;
  std::vector<std::string> groups, metrics;
  for (const auto& g : list.groups) groups.push_back(g.name);
  for (const auto& m : list.metrics) metrics.push_back(m.name);
  EXPECT_THAT(metrics, ElementsAre("num_objs"));
  EXPECT_THAT(groups, Contains("metering"));
  EXPECT_THAT(groups, Contains("queues"));
  EXPECT_THAT(groups, Contains("tqlutil"));
}

// --- Protocol violations ---

TEST_F(AlarmE2ETest, EventsTheProcessDoesNotTakeEndTheRun) {
  configure();
  alarm.send<SET_STATUS>(QUEUE_DBMS, 0, {kCheck, 13, 0, 0});
  expectCaught(alarm.finish(), "Alarm got unexpected event SET_STATUS inside BROADCAST_WRITE");

  const auto endsWith = [](const event& ev, const std::string& name) {
    AlarmProcess other;
    other.send<SERVER_CONFIGURATION>(QUEUE_MAIN, kConfigurationUid, {});
    other.send(ev);
    const Outcome o = other.finish();
    EXPECT_TRUE(o.exited(1));
    EXPECT_EQ(o.standardError,
              "Caught: Alarm got unexpected event " + name + " inside BROADCAST_WRITE\n");
  };
  endsWith(devent_t<ALARM_NOTIFY>(QUEUE_DBMS, 0, {}), "ALARM_NOTIFY");
  endsWith(devent_t<DAEMONIZE_SYSTEM>(QUEUE_MAIN, 0, 0), "DAEMONIZE_SYSTEM");
  endsWith(devent_t<RETURN_TQL_DELETE>(QUEUE_DBMS, 77, {}), "RETURN_TQL_DELETE");
  endsWith(exevent(QUEUE_MAIN, 0, "stray"), "MESSAGE_EXCEPTION");
}

TEST_F(AlarmE2ETest, UnknownEventTypeNumberStopsTheProcess) {
  configure();
  alarm.sendBytes({250, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  expectAssertion(alarm.finish(), "fdio >> event: unknown type index: 250 old was 5 dest 0");
}

TEST_F(AlarmE2ETest, InputEndingInsideAnEventIsTheEndOfTheInput) {
  configure();
  const auto bytes = testkit::encode(devent_t<IMMEDIATE_STATE>(QUEUE_DBMS, 0, {kCheck, 3}));
  alarm.sendBytes({bytes.begin(), bytes.begin() + 20});
  expectOrderlyEnd(alarm.finish());
}

TEST_F(AlarmE2ETest, MalformedEventEndsTheRun) {
  configure();
  // IMMEDIATE_STATE whose id claims seven components.
  alarm.sendBytes({178, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0});
  const Outcome o = alarm.finish();
  EXPECT_TRUE(o.exited(1)) << o.standardError;
  EXPECT_THAT(o.standardError, StartsWith("Caught: "));
}

TEST_F(AlarmE2ETest, ExitForgetsTheSubscriptionAndEndsAtTheMissingMessenger) {
  configure();
  alarm.send<SYS_EXIT>(QUEUE_MAIN, 0, {});
  // uids: 4 "Initiating shutdown", 5 the forget request.
  alarm.send<RETURN_TQL_FORGET>(QUEUE_DBMS, 5, {kSelectUid, 0, {}});
  const Outcome o = alarm.finish();
  expectAssertion(o, "Queue shutdown with no messenger");
  const auto forget = sentOf<TQL_FORGET>(o);
  ASSERT_EQ(forget.size(), 1u);
  EXPECT_EQ(forget[0].req_id_to_forget, kSelectUid);
  EXPECT_EQ(o.events.back()->inresponse, 5u);
  EXPECT_THAT(logLines(o), Contains("0 Initiating shutdown"));
}

TEST_F(AlarmE2ETest, ExitWithoutTheForgetReplyOrWithAFailedForgetEndsTheRun) {
  configure();
  alarm.send<SYS_EXIT>(QUEUE_MAIN, 0, {});
  expectCaught(alarm.finish(), "Peer DBMS returned EOS when waiting for dbms::Return_Tql_Forget");

  AlarmProcess other;
  other.send<SERVER_CONFIGURATION>(QUEUE_MAIN, kConfigurationUid, {});
  other.send<SYS_EXIT>(QUEUE_MAIN, 0, {});
  other.send(exevent(QUEUE_DBMS, 5, "no such subscription"));
  expectCaught(other.finish(), "no such subscription");
}

}  // namespace
}  // namespace halarm::e2e
