#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <tuple>
#include <utility>

#include "halarm/subscription.h"
#include "htime/fake_clock.h"
#include "queues/devent.h"
#include "sim/role_record.h"
#include "sim/sim_testing.h"

namespace sim {
namespace {

using testing::RecordingObserver;

// A stand-in for the alarm process on a fake clock: it asks for the
// configuration, subscribes, and answers each state it is sent with the
// status change the real process would report for a check that follows its
// state. Waiting for an event that never comes moves the clock to the
// deadline.
class FakeAlarm : public AlarmLink {
 public:
  explicit FakeAlarm(htime::FakeClock& clock) : clock_(clock) {
    queue(std::make_unique<queues::devent_t<queues::REQUEST_SERVER_CONFIGURATION>>(
        queues::QUEUE_MAIN, 1, 0));
    auto select = std::make_unique<queues::devent_t<queues::TQL_SELECT>>(queues::QUEUE_DBMS, 2);
    select->data.root_ids.push_back({0, 1});
    select->data.pattern = halarm::subscriptionPattern();
    queue(std::move(select));
  }

  void queue(queues::EventPtr ev) { outgoing_.push_back(std::move(ev)); }

  std::string program() const override { return "fake-alarm"; }

  void send(const queues::event& ev) override {
    sent.push_back(ev.clone());
    sentAt.push_back(clock_.now());
    if (reaction) reaction(ev, *this);
  }

  queues::EventPtr receive(htime::usec_time deadline) override {
    if (outgoing_.empty()) {
      ended_ = input_closed || dies;
      if (!ended_ && clock_.now() < deadline) clock_.set(deadline);
      return nullptr;
    }
    queues::EventPtr ev = std::move(outgoing_.front());
    outgoing_.pop_front();
    return ev;
  }

  bool ended() const override { return ended_; }
  std::vector<std::string> takeOutputLines() override { return std::exchange(output, {}); }
  bool takesExitOrder() const override { return exit_order; }
  bool kill(Sibling) override { return false; }
  bool rolesApart() const override { return apart; }
  void sendToRole(Sibling role, const queues::event& ev) override {
    EXPECT_EQ(role, Sibling::dbms);
    orders.push_back(readRecord(ev));
    if (onOrder) onOrder(orders.back(), *this);
  }
  std::optional<std::string> roleEnded(Sibling role) override {
    return role == Sibling::dbms ? dbmsEnd : std::nullopt;
  }

  // The DBMS as a process of its own: it reports the start, then passes on
  // the alarm's select.
  void startApart() {
    apart = true;
    auto select = std::move(outgoing_.back());
    outgoing_.pop_back();
    queue(recordEvent({RoleRecord::Kind::start, 0, {}, clock_.now(), {}}, queues::QUEUE_DBMS));
    queue(std::move(select));
  }
  void closeInput() override { input_closed = true; }
  AlarmEnd finish(htime::usec_time) override {
    return {!dies, "exit code " + std::to_string(dies)};
  }

  // Reports a status change for `id` as the alarm process does.
  void report(const tql::id_t& id, std::uint32_t from, std::uint32_t to, tql::id_t user = {},
              std::string comment = {}) {
    queue(std::make_unique<queues::devent_t<queues::PUT_INCIDENTLOG>>(
        queues::QUEUE_DBMS, 0,
        dbms::Put_IncidentLog_Data{0, id, "incident of " + id.toString(), 1}));
    queue(std::make_unique<queues::devent_t<queues::OBJECT_STATUS_CHANGE>>(
        queues::QUEUE_ALRT, 0, alert::Object_Status_Change_Data{id, id, from, to, user, comment}));
    queue(std::make_unique<queues::devent_t<queues::SET_STATUS>>(
        queues::QUEUE_DBMS, 0, alarms::Set_Status_Data{id, to, 0, 0}));
  }

  std::vector<queues::EventPtr> sent;
  std::vector<htime::usec_time> sentAt;
  std::function<void(const queues::event&, FakeAlarm&)> reaction;
  std::vector<RoleRecord> orders;
  std::function<void(const RoleRecord&, FakeAlarm&)> onOrder;
  std::optional<std::string> dbmsEnd;
  bool apart = false;
  std::vector<std::string> output;
  bool exit_order = false;
  bool input_closed = false;
  bool dies = false;

 private:
  htime::FakeClock& clock_;
  std::deque<queues::EventPtr> outgoing_;
  bool ended_ = false;
};

constexpr const char* kScenario = R"({"tree": {"label": "R", "nodes": [{"label": "web01",
    "groups": [{"label": "S", "checks": [{"label": "HTTP"}]}]}]},
  "timeline": [
    {"at": 2, "do": "state", "object": "web01/S/HTTP", "state": "alert"},
    {"at": 4, "do": "acknowledge", "object": "web01/S/HTTP", "user": "alice", "comment": "ok"},
    {"at": 6, "do": "end"}],
  "expect": {"web01/S/HTTP": "GOOD"}})";

class SimulatorTest : public ::testing::Test {
 protected:
  SimulatorTest() : scenario_(parseScenario(kScenario, "t.json")), alarm_(clock_) {
    alarm_.reaction = [this](const queues::event& ev, FakeAlarm& alarm) {
      if (ev.type == queues::SERVER_CONFIGURATION) {
        // A slow start: the configuration takes three seconds to arrive.
        clock_.advance(htime::usec_time(3, 0));
      } else if (ev.type == queues::IMMEDIATE_STATE) {
        const auto& s = dynamic_cast<const queues::devent_t<queues::IMMEDIATE_STATE>&>(ev).data;
        alarm.report(s.id, 1, s.state == 3 ? 13 : 1);
      } else if (ev.type == queues::ACKNOWLEDGE_ALERT) {
        const auto& a = dynamic_cast<const queues::devent_t<queues::ACKNOWLEDGE_ALERT>&>(ev).data;
        alarm.report(a.object, 13, 1, a.user, a.comment);
      }
    };
  }

  Outcome run() {
    Simulator simulator(scenario_, alarm_, observer_, {});
    return simulator.run();
  }

  std::vector<queues::event_t> sentTypes() const {
    std::vector<queues::event_t> types;
    for (const auto& ev : alarm_.sent) types.push_back(ev->type);
    return types;
  }

  htime::FakeClock clock_{htime::usec_time(5000, 0)};
  Scenario scenario_;
  FakeAlarm alarm_;
  RecordingObserver observer_;
};

TEST_F(SimulatorTest, PlaysTheTimelineOnTimeAndReportsWhatTheAlarmDid) {
  const Outcome outcome = run();
  EXPECT_TRUE(outcome.alarmClean);
  EXPECT_TRUE(outcome.unmet.empty());
  EXPECT_EQ(sentTypes(),
            (std::vector<queues::event_t>{queues::SERVER_CONFIGURATION, queues::IMMEDIATE_STATES,
                                          queues::CHECKIN, queues::RETURN_TQL_SELECT,
                                          queues::IMMEDIATE_STATE, queues::ACKNOWLEDGE_ALERT}));
  EXPECT_EQ(alarm_.sentAt[4], htime::usec_time(5005, 0));  // from the subscription: 3 s + 2 s
  EXPECT_EQ(alarm_.sentAt[5], htime::usec_time(5007, 0));
  ASSERT_EQ(observer_.changes.size(), 2u);
  const StatusChange& alert = observer_.changes[0];
  EXPECT_EQ(std::tie(alert.t, alert.path, alert.node, alert.newStatus, alert.incident),
            std::make_tuple(2.0, "web01 / S / HTTP", "web01", 13u, "incident of 1.3"));
  const StatusChange& ack = observer_.changes[1];
  EXPECT_EQ(std::tie(ack.user, ack.verb, ack.comment),
            std::make_tuple("alice", "acknowledged", "ok"));
  EXPECT_TRUE(alarm_.input_closed);
  ASSERT_TRUE(observer_.final.has_value());
  EXPECT_EQ(observer_.final->t, 6);
  std::vector<std::pair<std::string, std::string>> nodes;
  for (const FinalStatus& f : observer_.final->objects) nodes.emplace_back(f.path, f.node);
  EXPECT_EQ(nodes, (std::vector<std::pair<std::string, std::string>>{
                       {"web01", "web01"}, {"web01 / S / HTTP", "web01"}}));
}

TEST_F(SimulatorTest, AlarmThatNeverSubscribesFailsTheRun) {
  FakeAlarm silent(clock_);
  silent.receive(htime::zero_time);  // drop the configuration request
  silent.receive(htime::zero_time);  // and the subscription
  Simulator simulator(scenario_, silent, observer_, {});
  const Outcome outcome = simulator.run();
  EXPECT_FALSE(outcome.alarmClean);
  EXPECT_TRUE(observer_.has("problem the alarm process did not subscribe to the dbms within 15 s"));
  EXPECT_EQ(observer_.final->unmet,
            std::vector<std::string>{"web01/S/HTTP: the run never started"});
}

TEST_F(SimulatorTest, AlarmThatEndsEarlyFailsTheRunButStillReports) {
  alarm_.reaction = [](const queues::event& ev, FakeAlarm& alarm) {
    if (ev.type == queues::IMMEDIATE_STATE) {
      alarm.output.push_back("Assertion failed: something");
      alarm.dies = true;
    }
  };
  const Outcome outcome = run();
  EXPECT_FALSE(outcome.alarmClean);
  EXPECT_TRUE(observer_.has("output Assertion failed: something"));
  EXPECT_TRUE(observer_.has("problem the alarm process ended before the scenario did"));
  EXPECT_EQ(observer_.final->alarm.description, "exit code 1");
}

TEST_F(SimulatorTest, ExitOrderWaitsForTheSubscriptionToBeForgotten) {
  alarm_.exit_order = true;
  alarm_.reaction = [](const queues::event& ev, FakeAlarm& alarm) {
    if (ev.type == queues::SYS_EXIT) {
      alarm.queue(std::make_unique<queues::devent_t<queues::TQL_FORGET>>(queues::QUEUE_DBMS, 77,
                                                                         dbms::Tql_Forget_Data{2}));
    }
  };
  run();
  const std::vector<queues::event_t> types = sentTypes();
  ASSERT_GE(types.size(), 2u);
  EXPECT_EQ(types[types.size() - 2], queues::SYS_EXIT);
  EXPECT_EQ(types.back(), queues::RETURN_TQL_FORGET);
  EXPECT_EQ(alarm_.sent.back()->inresponse, 77u);
  EXPECT_TRUE(alarm_.input_closed);
}

// The roles as processes of their own: the main process orders each DBMS
// action by its place, shows the roles' records, and pairs each change the
// alert process passes on with the status and incident the DBMS passes on,
// whichever comes first.
class ApartTest : public SimulatorTest {
 protected:
  ApartTest() {
    alarm_.reaction = {};
    alarm_.startApart();
    alarm_.onOrder = [this](const RoleRecord& order, FakeAlarm& alarm) {
      const tql::id_t http{1, 3};
      auto action = make(RoleRecord::Kind::action, "did " + order.action);
      if (order.action == "/timeline/0") {
        // The alert process is quicker than the DBMS here.
        alarm.queue(recordEvent(action, queues::QUEUE_DBMS));
        alarm.queue(change(http, 1, 13, {}, ""));
        alarm.queue(incident(http));
        alarm.queue(stored(http, 13));
      } else if (order.action == "/timeline/1") {
        alarm.queue(recordEvent(action, queues::QUEUE_DBMS));
        alarm.queue(stored(http, 1));
        if (!alarm.dbmsEnd) alarm.queue(change(http, 13, 1, {2, 1}, "ok"));
      }
    };
  }

  RoleRecord make(RoleRecord::Kind kind, std::string text) const {
    return {kind, (clock_.now() - htime::usec_time(5000)).toDouble(), std::move(text), {}, {}};
  }
  static queues::EventPtr change(const tql::id_t& id, std::uint32_t from, std::uint32_t to,
                                 tql::id_t user, std::string comment) {
    return std::make_unique<queues::devent_t<queues::OBJECT_STATUS_CHANGE>>(
        queues::QUEUE_ALRT, 0, alert::Object_Status_Change_Data{id, id, from, to, user, comment});
  }
  static queues::EventPtr incident(const tql::id_t& id) {
    return std::make_unique<queues::devent_t<queues::PUT_INCIDENTLOG>>(
        queues::QUEUE_DBMS, 0, dbms::Put_IncidentLog_Data{0, id, "incident", 1});
  }
  static queues::EventPtr stored(const tql::id_t& id, std::uint32_t status) {
    return std::make_unique<queues::devent_t<queues::SET_STATUS>>(
        queues::QUEUE_DBMS, 0, alarms::Set_Status_Data{id, status, 0, 0});
  }
};

TEST_F(ApartTest, TheDbmsActsOnOrdersAndTheChangesAreShownWithWhatItStored) {
  alarm_.queue(
      recordEvent(make(RoleRecord::Kind::problem, "dbms saw something"), queues::QUEUE_DBMS));
  alarm_.queue(std::make_unique<queues::devent_t<queues::SYSTEM_LOG_REQUEST>>(
      queues::QUEUE_ALRT, 0, control::Log_Request_Data{"{}", 0}));
  const Outcome outcome = run();
  EXPECT_TRUE(outcome.alarmClean);
  EXPECT_TRUE(outcome.unmet.empty());
  // The main process sends the alarm only its own events.
  EXPECT_EQ(sentTypes(), std::vector<queues::event_t>{queues::SERVER_CONFIGURATION});
  std::vector<std::string> orders;
  for (const RoleRecord& order : alarm_.orders) orders.push_back(order.action);
  EXPECT_EQ(orders, (std::vector<std::string>{"/timeline/0", "/timeline/1"}));
  EXPECT_TRUE(observer_.has("action did /timeline/0"));
  EXPECT_TRUE(observer_.has("problem dbms saw something"));
  EXPECT_TRUE(
      observer_.has("problem the alert process sent not a role record (no \"record\"): {}"));
  ASSERT_EQ(observer_.changes.size(), 2u);
  const StatusChange& alert = observer_.changes[0];
  EXPECT_EQ(std::tie(alert.t, alert.path, alert.newStatus, alert.incident),
            std::make_tuple(2.0, "web01 / S / HTTP", 13u, "incident"));
  const StatusChange& ack = observer_.changes[1];
  EXPECT_EQ(std::tie(ack.user, ack.verb, ack.incident),
            std::make_tuple("alice", "acknowledged", ""));
  // The final table is the statuses the DBMS stored.
  ASSERT_TRUE(observer_.final.has_value());
  ASSERT_EQ(observer_.final->objects.size(), 2u);
  EXPECT_EQ(observer_.final->objects[1].status, 1u);
}

TEST_F(ApartTest, ADbmsThatEndedIsReportedAndItsChangesStillShow) {
  alarm_.onOrder = [](const RoleRecord&, FakeAlarm& alarm) {
    // The alarm reported the change, but the DBMS died before its part.
    alarm.queue(change({1, 3}, 1, 13, {}, ""));
    alarm.dbmsEnd = "killed by signal 9 (Killed)";
  };
  run();
  EXPECT_TRUE(observer_.has("problem the dbms process ended (killed by signal 9 (Killed))"));
  ASSERT_EQ(observer_.changes.size(), 1u);
  EXPECT_EQ(observer_.changes[0].t, 2.0);
  EXPECT_TRUE(observer_.has("problem skipped the action at /timeline/1: the dbms process is gone"));
  EXPECT_EQ(alarm_.orders.size(), 1u);
}

}  // namespace
}  // namespace sim
