#include "sim/role_record.h"

#include <gtest/gtest.h>

#include "error/exception.h"
#include "queues/devent.h"

namespace sim {
namespace {

RoleRecord make(RoleRecord::Kind kind) {
  RoleRecord r;
  r.kind = kind;
  return r;
}

TEST(RoleRecord, EveryKindSurvivesTheWayThroughAnEvent) {
  std::vector<RoleRecord> records;
  RoleRecord action = make(RoleRecord::Kind::action);
  action.t = 2.25;
  action.text = "web01 / \"HTTP\": state alert \xc3\xa9\n";
  records.push_back(action);
  RoleRecord problem = make(RoleRecord::Kind::problem);
  problem.t = 0;
  problem.text = "";
  records.push_back(problem);
  RoleRecord start = make(RoleRecord::Kind::start);
  start.start = htime::usec_time(1700000000, 999999);
  records.push_back(start);
  RoleRecord perform = make(RoleRecord::Kind::perform);
  perform.action = "/timeline/12";
  records.push_back(perform);
  for (const RoleRecord& r : records) {
    const queues::EventPtr ev = recordEvent(r, queues::QUEUE_DBMS);
    EXPECT_EQ(ev->dest, queues::QUEUE_DBMS);
    ASSERT_TRUE(isRecord(*ev));
    EXPECT_EQ(readRecord(*ev), r) << recordText(r);
  }
}

TEST(RoleRecord, SomethingElseIsRefusedWithWhatIsWrong) {
  const struct {
    const char* text;
    const char* why;
  } cases[] = {
      {"", "not a JSON object"},
      {"[1]", "not a JSON object"},
      {"{\"record\": \"action\", \"t\": 1", "not a JSON object"},
      {"{\"t\": 1}", "no \"record\""},
      {"{\"record\": 3}", "\"record\" is not a text"},
      {"{\"record\": \"status\"}", "unknown kind \"status\""},
      {"{\"record\": \"action\", \"text\": \"x\"}", "no \"t\""},
      {"{\"record\": \"problem\", \"t\": \"1\", \"text\": \"x\"}", "\"t\" is not a number"},
      {"{\"record\": \"action\", \"t\": 1}", "no \"text\""},
      {"{\"record\": \"start\", \"sec\": 1.5, \"usec\": 0}", "\"sec\" is not whole"},
      {"{\"record\": \"start\", \"sec\": 1, \"usec\": 1000000}", "\"usec\" out of range"},
      {"{\"record\": \"start\", \"sec\": 1, \"usec\": -1}", "\"usec\" out of range"},
      {"{\"record\": \"perform\"}", "no \"action\""},
  };
  for (const auto& c : cases) {
    try {
      parseRecord(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const error::EFatal& e) {
      EXPECT_EQ(e.text(), std::string("not a role record (") + c.why + "): " + c.text);
    }
  }
  const queues::devent_t<queues::SET_STATUS> other(queues::QUEUE_DBMS, 0);
  EXPECT_FALSE(isRecord(other));
  EXPECT_THROW(readRecord(other), error::EFatal);
}

}  // namespace
}  // namespace sim
