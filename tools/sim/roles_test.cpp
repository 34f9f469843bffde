#include "sim/roles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "halarm/subscription.h"
#include "htime/fake_clock.h"
#include "queues/devent.h"
#include "sim/sim_testing.h"
#include "tql/schema.h"
#include "tql/subscription/incremental_subscriber.h"

namespace sim {
namespace {

using testing::RecordingObserver;

constexpr const char* kTree = R"({"tree": {"label": "Acme", "nodes": [
    {"label": "web01", "lateState": "warn", "groups": [{"label": "Services", "checks": [
      {"label": "HTTP", "state": "warn"}, {"label": "Off", "active": false}]}]},
    {"label": "db01", "initialCheckin": false, "groups": [{"label": "Services"}],
     "plans": [{"label": "Maint", "unexpected": [{"label": "Now", "until": 30}]}]}]}})";

template <queues::event_t N>
const queues::event_data_t<N>& data(const queues::EventPtr& ev) {
  EXPECT_EQ(ev->type, N) << queues::eventName(ev->type);
  return dynamic_cast<const queues::devent_t<N>&>(*ev).data;
}

class DbmsRoleTest : public ::testing::Test {
 protected:
  DbmsRoleTest() : scenario_(parseScenario(kTree, "t.json")), dbms_(scenario_) {
    dbms_.start(1000);
  }

  // Subscribes as the alarm does and hands the reply to the mirror.
  void subscribe(std::uint32_t uid = 5) {
    queues::devent_t<queues::TQL_SELECT> request(queues::QUEUE_DBMS, uid);
    request.data.root_ids.push_back({0, 1});
    request.data.pattern = halarm::subscriptionPattern();
    dbms_.handle(request, out_, observer_, 0);
  }

  template <queues::event_t N>
  Outbox handle(std::uint32_t uid, queues::event_data_t<N> payload) {
    dbms_.handle(queues::devent_t<N>(queues::QUEUE_DBMS, uid, std::move(payload)), out_, observer_,
                 0);
    return take();
  }

  Outbox perform(const std::string& timeline) {
    const Scenario s = parseScenario(std::string(kTree).substr(0, std::string(kTree).size() - 1) +
                                         ", \"timeline\": [" + timeline + "]}",
                                     "t.json");
    for (const Action& a : s.timeline) dbms_.perform(a, out_, observer_, 1);
    return take();
  }

  Outbox take() {
    Outbox taken;
    taken.swap(out_);
    return taken;
  }

  const SimObject& at(const std::string& path) { return dbms_.tree().resolve(path, ""); }

  htime::FakeClock clock_{htime::usec_time(1000, 0)};
  Scenario scenario_;
  DbmsRole dbms_;
  RecordingObserver observer_;
  Outbox out_;
};

TEST_F(DbmsRoleTest, AnswersTheSelectAfterReportingStatesAndCheckins) {
  subscribe();
  const Outbox out = take();
  ASSERT_EQ(out.size(), 3u);
  const auto& states = data<queues::IMMEDIATE_STATES>(out[0]).states;
  // Only what the select holds: the inactive check is left out.
  ASSERT_EQ(states.size(), 1u);
  EXPECT_EQ(states.front().id, at("web01/Services/HTTP").id);
  EXPECT_EQ(states.front().state, 2);
  const auto& checkin = data<queues::CHECKIN>(out[1]);
  EXPECT_EQ(checkin.id, at("web01").id);
  EXPECT_EQ(checkin.checkin_time, 1000);
  EXPECT_EQ(out[2]->inresponse, 5u);
  EXPECT_EQ(out[2]->dest, queues::QUEUE_DBMS);
  EXPECT_EQ(data<queues::RETURN_TQL_SELECT>(out[2]).res.size(), 1u);
  EXPECT_TRUE(observer_.has(
      "problem 1 object with a status outside the alarm's subscription (no status will come): "
      "web01 / Services / Off; inactive checks are not selected"));
}

TEST_F(DbmsRoleTest, DeleteIsAnsweredThenCarriedOutWithItsPatch) {
  subscribe();
  take();
  const tql::id_t event = at("db01/Maint/Now").id;
  Outbox out = handle<queues::TQL_DELETE>(41, {event, {1, 0}, {}, false});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0]->inresponse, 41u);
  EXPECT_EQ(data<queues::RETURN_TQL_DELETE>(out[0]).status, 0);
  EXPECT_EQ(data<queues::RETURN_TQL_SELECT_DELETE_PATCH>(out[1]).id, event);
  EXPECT_EQ(out[1]->inresponse, 5u);
  EXPECT_EQ(dbms_.tree().find(event), nullptr);
  // Again: nothing left to delete.
  out = handle<queues::TQL_DELETE>(42, {event, {1, 0}, {}, false});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(data<queues::RETURN_TQL_DELETE>(out[0]).status, 1);
}

TEST_F(DbmsRoleTest, ForgetEndsPatchingForThatSubscription) {
  subscribe();
  take();
  Outbox out = handle<queues::TQL_FORGET>(9, {5});
  EXPECT_EQ(data<queues::RETURN_TQL_FORGET>(out[0]).forgotten_req_id, 5u);
  EXPECT_EQ(data<queues::RETURN_TQL_FORGET>(out[0]).status, 0);
  EXPECT_EQ(dbms_.forgetsAnswered(), 1u);
  EXPECT_TRUE(perform(R"({"at": 1, "do": "delete", "object": "web01"})").empty());
  out = handle<queues::TQL_FORGET>(10, {5});
  EXPECT_EQ(data<queues::RETURN_TQL_FORGET>(out[0]).status, 1);
}

// --- The mirror a subscriber builds from the reply and the patches always
// equals a fresh select of the tree. ---

std::string canonical(const tql::object_t& o) {
  std::ostringstream text;
  text << o.id.toString() << ":" << o.class_ << "{";
  for (const auto& p : o.properties) text << p->property << "=" << p->toString() << ";";
  std::vector<std::string> children;
  for (const auto& child : o.children) children.push_back(canonical(*child));
  std::sort(children.begin(), children.end());
  for (const std::string& c : children) text << c << ",";
  text << "}";
  return text.str();
}

TEST_F(DbmsRoleTest, MirrorFollowsRandomChangesThroughPatches) {
  tql::IncrementalSubscriber mirror;
  const Subscription fresh(5, {{0, 1}}, halarm::subscriptionPattern());
  subscribe();
  for (queues::EventPtr& ev : take()) mirror.handle(*ev);

  std::mt19937 rng(301);
  const auto pick = [&](Kind kind) -> const SimObject* {
    std::vector<const SimObject*> found;
    dbms_.tree().forEach([&](const SimObject& o) {
      if (o.kind == kind) found.push_back(&o);
    });
    if (found.empty()) return nullptr;
    return found[std::uniform_int_distribution<std::size_t>(0, found.size() - 1)(rng)];
  };
  int added = 0;
  for (int step = 0; step < 300; ++step) {
    Action a;
    a.pointer = "/step/" + std::to_string(step);
    const SimObject* check = pick(Kind::check);
    const SimObject* group = pick(Kind::group);
    switch (std::uniform_int_distribution<int>(0, 4)(rng)) {
      case 0:  // add a check, sometimes inactive, to a group
        if (group == nullptr) continue;
        a.type = ActionType::add;
        a.object = dbms_.tree().pathOf(*group);
        ++added;
        a.added = ObjectSpec();
        a.added->kind = Kind::check;
        a.added->label = "c" + std::to_string(added);
        a.added->properties.values[tql::prop::active] =
            std::make_unique<tql::property_boolean_t>(tql::prop::active, added % 3 != 0);
        break;
      case 1:  // switch a check on or off
        if (check == nullptr) continue;
        a.type = ActionType::set;
        a.object = dbms_.tree().pathOf(*check);
        a.properties =
            Json::parse(std::string(R"({"active": )") + (rng() % 2 == 0 ? "true" : "false") + "}");
        break;
      case 2:  // move a check or a group to another group
        if (check == nullptr || group == nullptr) continue;
        a.type = ActionType::move;
        a.object = dbms_.tree().pathOf(rng() % 2 == 0 ? *check : *pick(Kind::group));
        a.target = dbms_.tree().pathOf(*group);
        break;
      case 3:  // delete a check
        if (check == nullptr) continue;
        a.type = ActionType::remove;
        a.object = dbms_.tree().pathOf(*check);
        break;
      default:  // change a property that every selection keeps
        if (check == nullptr) continue;
        a.type = ActionType::set;
        a.object = dbms_.tree().pathOf(*check);
        a.properties = Json::parse(R"({"warnScore": )" + std::to_string(step) + "}");
    }
    dbms_.perform(a, out_, observer_, 0);
    for (queues::EventPtr& ev : take()) mirror.handle(*ev);
    ASSERT_EQ(canonical(*mirror.root()->object), canonical(*fresh.select(dbms_.tree()).at(0)))
        << "after step " << step;
  }
}

// --- Main ---

TEST(MainRole, AnswersTheConfigurationRequestWithTheLogMaskAndKeepsLogLines) {
  MainRole main(32);
  RecordingObserver observer;
  Outbox out;
  main.handle(queues::devent_t<queues::REQUEST_SERVER_CONFIGURATION>(queues::QUEUE_MAIN, 3, 0), out,
              observer, 0);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]->inresponse, 3u);
  EXPECT_EQ(out[0]->dest, queues::QUEUE_MAIN);
  EXPECT_EQ(data<queues::SERVER_CONFIGURATION>(out[0]).log_mask, 32);
  main.handle(queues::devent_t<queues::SYSTEM_LOG_REQUEST>(queues::QUEUE_MAIN, 4, {"hello", 0}),
              out, observer, 0);
  main.handle(queues::devent_t<queues::INIT_OK>(queues::QUEUE_MAIN, 0,
                                                {{queues::QUEUE_DBMS, queues::QUEUE_ALRT}}),
              out, observer, 0);
  main.handle(queues::devent_t<queues::CHECKIN>(queues::QUEUE_MAIN, 0), out, observer, 0);
  EXPECT_EQ(out.size(), 1u);
  EXPECT_TRUE(main.alarmReady());
  EXPECT_EQ(observer.lines,
            (std::vector<std::string>{
                "log 0 hello", "action the alarm process is up (it depends on dbms, alrt)",
                "problem main got CHECKIN, which it does not expect from the alarm process"}));
}

}  // namespace
}  // namespace sim
