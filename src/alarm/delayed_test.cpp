#include "alarm/delayed.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "io/memory_stream.h"
#include "keepers/run_state.h"
#include "queues/devent.h"
#include "queues/ioprim.h"
#include "tql/subscription/incremental_subscriber.h"

namespace halarm {
namespace {

using namespace queues;
using ::testing::ElementsAre;

// A downtime element as expiry sees it: a mirrored object that is told when
// its entry left the schedule.
struct Element : tql::IncrementalSubscriber::Object {
  Element(tql::id_t id, std::uint64_t version)
      : Object(nullptr, std::make_unique<tql::object_t>()) {
    object->id = id;
    object->version = {version, 0};
  }
  void expiryTaken() { ++taken; }
  int taken = 0;
};

using Schedule = std::multimap<htime::usec_time, Element*, keepers::TimeOrder>;

class ExpiryTest : public ::testing::Test {
 protected:
  ExpiryTest()
      : queue(std::make_unique<io::MemoryIStream>(in), std::make_unique<io::MemoryOStream>(out)) {
    keepers::ignoredReplies.clear();
  }
  ~ExpiryTest() override { keepers::ignoredReplies.clear(); }

  std::vector<dbms::Tql_Delete_Data> deletes(std::vector<std::uint32_t>* uids = nullptr) {
    io::MemoryIStream reader(out);
    queues::ioprim io(&reader, nullptr);
    std::vector<dbms::Tql_Delete_Data> got;
    while (out.unread() > 0) {
      EventPtr ev = io.readEvent();
      EXPECT_EQ(ev->dest, QUEUE_DBMS);
      if (uids != nullptr) uids->push_back(ev->inresponse);
      got.push_back(dynamic_cast<devent_t<TQL_DELETE>&>(*ev).data);
    }
    return got;
  }

  io::MemoryPipe in;
  io::MemoryPipe out;
  childqueue queue;
};

TEST_F(ExpiryTest, DueElementsAreDeletedOnceAndTheirRepliesIgnored) {
  Element a({5, 1}, 3), b({5, 2}, 4), later({5, 3}, 1);
  Schedule schedule{
      {htime::usec_time(100), &a}, {htime::usec_time(100), &b}, {htime::usec_time(101), &later}};

  expireDue(schedule, htime::usec_time(100), queue);
  std::vector<std::uint32_t> uids;
  const auto sent = deletes(&uids);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].id, (tql::id_t{5, 1}));
  EXPECT_EQ(sent[0].version.major, 3u);
  EXPECT_TRUE(sent[0].user_id.empty());
  EXPECT_FALSE(sent[0].clear_master_id);
  EXPECT_EQ(sent[1].id, (tql::id_t{5, 2}));
  EXPECT_NE(uids[0], 0u);
  EXPECT_NE(uids[0], uids[1]);
  EXPECT_EQ(keepers::ignoredReplies, (std::set<std::uint32_t>(uids.begin(), uids.end())));
  EXPECT_EQ(a.taken, 1);
  EXPECT_EQ(b.taken, 1);

  // Again at the same time: nothing more for the elements already taken.
  expireDue(schedule, htime::usec_time(100, 999999), queue);
  EXPECT_TRUE(deletes().empty());
  EXPECT_EQ(later.taken, 0);
  EXPECT_EQ(schedule.size(), 1u);
}

}  // namespace
}  // namespace halarm
