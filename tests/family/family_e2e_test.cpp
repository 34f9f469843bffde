// halcyx-alarm in its process family: this test is the main process, the
// alarm (5) and relays for the DBMS (2) and the alert process (6) are real
// child processes, and every event travels through the shared pool and the
// pipes. What the pipe-mode tests check in detail is only sampled here; the
// point is the transport: start-up, requests for siblings, the orderly
// shutdown, and deaths.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <random>

#include "halarm/messenger_connection.h"
#include "keepers/status.h"
#include "os/fd.h"
#include "os/poll.h"
#include "os/spawn.h"
#include "testkit/family_alarm.h"
#include "testkit/tree.h"

namespace family {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;
using namespace queues;
using namespace testkit;
using tql::id_t;

const id_t kRoot{0, 1};
const id_t kNode{1, 1};
const id_t kCheck{2, 1};

tql::object_ptr smallTree() { return with(domain(kRoot), with(node(kNode), check(kCheck))); }

bool isStatusOf(const event& ev, const id_t& id, std::uint32_t status) {
  if (ev.type != SET_STATUS) return false;
  const auto& s = static_cast<const devent_t<SET_STATUS>&>(ev).data;
  return s.id == id && s.status == status;
}

bool exitedWith(const os::ChildStatus& status, int code) {
  return !status.signalled && status.exitCode == code;
}

class FamilyE2ETest : public ::testing::Test {
 protected:
  // Starts the alarm on the small tree and waits until it reported the
  // check's first status.
  void startUp() {
    script.start(smallTree());
    alarm.play(script);
    startup = alarm.readUntil([](const event& ev) { return isStatusOf(ev, kCheck, 10); });
  }

  FamilyAlarm alarm{HX_ALARM, HX_RELAY};
  Script script;
  std::vector<EventPtr> startup;
};

TEST_F(FamilyE2ETest, RunsAndShutsDownInOrderWithEveryProcessExitingZero) {
  startUp();
  // The start-up requests went to the siblings that answer them: the
  // configuration to the main process, the select to the DBMS through its
  // relay. (Events from two siblings arrive in no defined order: the select
  // comes through the relay.)
  std::vector<std::pair<event_t, queue_t>> requests;
  for (const EventPtr& ev : startup) {
    if (ev->type == REQUEST_SERVER_CONFIGURATION || ev->type == TQL_SELECT || ev->type == INIT_OK)
      requests.emplace_back(ev->type, ev->dest);
  }
  EXPECT_THAT(requests, UnorderedElementsAre(std::pair{REQUEST_SERVER_CONFIGURATION, QUEUE_MAIN},
                                             std::pair{TQL_SELECT, QUEUE_DBMS},
                                             std::pair{INIT_OK, QUEUE_MAIN}));
  EXPECT_EQ(requests.front().first, REQUEST_SERVER_CONFIGURATION);

  // A state change travels in through the DBMS relay; its notifications go
  // out to the DBMS and the alert process.
  script.state(kCheck, static_cast<std::int32_t>(keepers::kStateAlert));
  alarm.play(script);
  // Both arrive (or the harness gives up and the test fails).
  bool stored = false;
  bool told = false;
  (void)alarm.readUntil([&](const event& ev) {
    stored = stored || (ev.dest == QUEUE_DBMS && isStatusOf(ev, kCheck, 13));
    if (ev.type == OBJECT_STATUS_CHANGE && ev.dest == QUEUE_ALRT) {
      const auto& change = static_cast<const devent_t<OBJECT_STATUS_CHANGE>&>(ev).data;
      told = told || (change.object == kCheck && change.new_status == 13);
    }
    return stored && told;
  });

  const std::vector<EventPtr> atExit = alarm.exitInOrder();
  EXPECT_TRUE(std::any_of(atExit.begin(), atExit.end(),
                          [](const EventPtr& ev) { return ev->type == TQL_FORGET; }));
  EXPECT_TRUE(exitedWith(alarm.waitForExit(QUEUE_ALRM), 0));
  EXPECT_TRUE(alarm.endRelays());
}

TEST_F(FamilyE2ETest, AKilledAlarmIsNoticedAndTheOthersEndInOrder) {
  startUp();
  // Killed in the middle of a burst of states, at a point that varies.
  std::mt19937 random(std::random_device{}());
  const int burst = 200;
  const int killAt = std::uniform_int_distribution<int>(0, burst - 1)(random);
  for (int i = 0; i < burst; ++i) {
    if (i == killAt) alarm.family().kill(QUEUE_ALRM, SIGKILL);
    script.state(
        kCheck, static_cast<std::int32_t>(i % 2 == 0 ? keepers::kStateAlert : keepers::kStateGood));
    alarm.play(script);
  }
  // The main process sees the end of the alarm's stream (its death),
  // however much the alarm got to send first.
  while (alarm.relayed().receive(htime::now() + htime::usec_time(FamilyAlarm::kPatienceSeconds)) !=
         nullptr) {
  }
  EXPECT_TRUE(alarm.family().queue().endOfStream(QUEUE_ALRM)) << "killed at " << killAt;
  const os::ChildStatus status = alarm.waitForExit(QUEUE_ALRM);
  EXPECT_TRUE(status.signalled && status.signal == SIGKILL);
  // The relays learned of the death and still shut down in order.
  EXPECT_TRUE(alarm.endRelays()) << "killed at " << killAt;
}

TEST(FamilyPoolTest, AStalledReaderMakesTheWritersWaitAndNothingIsLostOrReordered) {
  // The alert relay and the alarm get write areas that hold a few dozen
  // events. When the main process stops reading, the alert relay's writes to
  // it wait, the relay stops reading, and the alarm's writes to the relay
  // wait in turn. (The DBMS relay keeps a large area: it and the alarm write
  // to each other, and two siblings whose areas are both full of messages
  // for the other wait for each other for ever; areas are sized for that
  // not to happen.)
  family::Options options;
  options.areaSizes[QUEUE_ALRT] = 8 * 1024;
  options.areaSizes[QUEUE_ALRM] = 16 * 1024;
  FamilyAlarm alarm{HX_ALARM, HX_RELAY, options};
  constexpr std::uint32_t kChecks = 200;
  tql::object_ptr nd = node(kNode);
  for (std::uint32_t c = 0; c < kChecks; ++c) nd->children.push_back(check({2, c}));
  Script script;
  script.start(with(domain(kRoot), std::move(nd)));
  for (std::uint32_t c = 0; c < kChecks; ++c)
    script.state({2, c}, static_cast<std::int32_t>(keepers::kStateAlert));
  // Through the DBMS relay: answered after every state.
  script.send<GET_METRIC>(QUEUE_DBMS, 77, {{"num_objs"}});
  alarm.play(script);
  // The main process stops reading: every area on the way back fills up and
  // its writer has to wait for acknowledgements.
  (void)os::pollFor({}, 300);
  const auto events = alarm.readUntil(
      [](const event& ev) { return ev.type == RETURN_METRIC_UINT64 && ev.inresponse == 77; });
  std::map<id_t, std::vector<std::uint32_t>> stored;
  for (const auto& s : payloadsOf<SET_STATUS>(events)) stored[s.id].push_back(s.status);
  // The alert path's events may still be on their way after the answer.
  std::map<id_t, std::vector<std::uint32_t>> told;
  std::uint32_t checksTold = 0;  // checks with both their changes told
  const auto tell = [&](const event& ev) {
    if (ev.type != OBJECT_STATUS_CHANGE) return;
    const auto& c = static_cast<const devent_t<OBJECT_STATUS_CHANGE>&>(ev).data;
    std::vector<std::uint32_t>& statuses = told[c.object];
    statuses.push_back(c.new_status);
    if (c.object.toString().starts_with("2.") && statuses.size() == 2) ++checksTold;
  };
  for (const EventPtr& ev : events) tell(*ev);
  if (checksTold < kChecks) {
    (void)alarm.readUntil([&](const event& ev) {
      tell(ev);
      return checksTold == kChecks;
    });
  }
  for (std::uint32_t c = 0; c < kChecks; ++c) {
    const id_t id{2, c};
    EXPECT_THAT(stored[id], ElementsAre(10u, 13u)) << "check " << c;
    EXPECT_THAT(told[id], ElementsAre(10u, 13u)) << "check " << c;
  }
  (void)alarm.exitInOrder();
  EXPECT_TRUE(exitedWith(alarm.waitForExit(QUEUE_ALRM), 0));
  EXPECT_TRUE(alarm.endRelays());
}

TEST(FamilyRequestTest, ASiblingAskedForIsStartedAndPassesTheRequestOn) {
  Family family;
  family.setProgram(QUEUE_DBMS, HX_RELAY, {"2", "5"});
  family.start(QUEUE_ALRM, HX_ALARM);
  EventPtr ev;
  while ((ev = family.queue().receive()) != nullptr && ev->type != REQUEST_SERVER_CONFIGURATION) {
  }
  ASSERT_NE(ev, nullptr);
  EXPECT_FALSE(family.pid(QUEUE_DBMS)) << "started before anybody asked";
  devent_t<SERVER_CONFIGURATION> reply(QUEUE_ALRM, 0, {});
  reply.inresponse = ev->inresponse;
  family.queue().send(reply);
  // The alarm's select names the DBMS, which is started on its request and
  // passes the select on to this process.
  while ((ev = family.queue().receive()) != nullptr &&
         !(ev->type == TQL_SELECT && ev->dest == QUEUE_DBMS)) {
  }
  ASSERT_NE(ev, nullptr);
  EXPECT_TRUE(family.pid(QUEUE_DBMS));
}

TEST(FamilyMainDeathTest, TheAlarmEndsOnItsOwnWhenTheMainProcessDies) {
  // The main process is a forked copy of this test that starts the alarm
  // and then dies without a word; this process adopts the orphaned alarm
  // and sees how it ends.
  os::becomeChildSubreaper();
  const os::PipeEnds report = os::makePipe();
  const int mainPid = os::forkProcess();
  if (mainPid == 0) {
    try {
      FamilyAlarm alarm{HX_ALARM, HX_RELAY};
      Script script;
      script.start(smallTree());
      alarm.play(script);
      (void)alarm.readUntil([](const event& ev) { return isStatusOf(ev, kCheck, 10); });
      const std::string pid = std::to_string(*alarm.family().pid(QUEUE_ALRM)) + "\n";
      (void)os::writeSome(report.writeEnd, reinterpret_cast<const std::uint8_t*>(pid.data()),
                          pid.size());
      // Gone without a word: no destructor kills the alarm or says goodbye.
      os::exitAtOnce(0);
    } catch (...) {
      os::exitAtOnce(1);
    }
  }
  os::closeFd(report.writeEnd);
  std::string text;
  std::uint8_t buffer[64];
  for (os::IoResult r; (r = os::readSome(report.readEnd, buffer, sizeof buffer)).bytes > 0;)
    text.append(reinterpret_cast<const char*>(buffer), r.bytes);
  os::closeFd(report.readEnd);
  EXPECT_TRUE(exitedWith(os::waitForExit(mainPid), 0));
  ASSERT_FALSE(text.empty()) << "the forked main process did not start the alarm";
  const int alarmPid = std::stoi(text);
  const htime::usec_time deadline = htime::now() + htime::usec_time(5);
  std::optional<os::ChildStatus> status;
  while (!(status = os::reapIfEnded(alarmPid)) && htime::now() < deadline) {
    (void)os::pollFor({}, 10);
  }
  if (!status) os::sendSignal(alarmPid, SIGKILL);
  ASSERT_TRUE(status) << "the alarm did not end after its main process died";
  EXPECT_TRUE(exitedWith(*status, halarm::kMainProcessGone));
}

}  // namespace
}  // namespace family
