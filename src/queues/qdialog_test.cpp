#include "queues/qdialog.h"

#include <gtest/gtest.h>

#include "htime/fake_clock.h"
#include "meter/process_metrics.h"
#include "testkit/matcher.h"
#include "testkit/pipe_peer.h"

namespace queues {
namespace {

using State = devent_t<IMMEDIATE_STATE>;

std::int32_t stateOf(const EventPtr& ev) {
  auto* s = dynamic_cast<const State*>(ev.get());
  return s != nullptr ? s->data.state : -1;
}

control::Server_Configuration_Fields configurationWithMask(std::int32_t mask) {
  control::Server_Configuration_Fields fields;
  fields.log_mask = mask;
  return fields;
}

class DialogTest : public ::testing::Test {
 protected:
  DialogTest() : current_(peer_.queue()) {}

  // An event from `sender` that is not the reply being waited for.
  void writeState(queue_t sender, std::uint32_t uid, std::int32_t value) {
    peer_.write(State(sender, uid, alarms::Immediate_State_Data{tql::id_t{1, 7}, value}));
  }

  htime::FakeClock clock_;
  testkit::PipePeer peer_;
  childqueue& queue_ = peer_.queue();
  CurrentQueueScope current_;
};

TEST_F(DialogTest, OtherEventsAreSetAsideInArrivalOrderAndTheWaitIsMeasured) {
  const meter::TimingStats before = meter::blockings().stats();
  writeState(QUEUE_DBMS, 0, 1);
  writeState(QUEUE_DBMS, 1, 2);  // the dialog's uid, but from another peer
  peer_.write<SERVER_CONFIGURATION>(QUEUE_MAIN, 1, configurationWithMask(32));

  // The clock moves while the dialog waits: every reading after the first
  // (the start of the wait) is 1.5 s later, however often the wait looks.
  bool started = false;
  htime::setClockForTesting([&started] {
    const htime::usec_time now = started ? htime::usec_time(1001, 500000) : htime::usec_time(1000);
    started = true;
    return now;
  });
  EXPECT_EQ(requestServerConfiguration().log_mask, 32);
  htime::setClockForTesting([this] { return clock_.now(); });
  EventPtr holder;
  const auto& request = peer_.readAs<REQUEST_SERVER_CONFIGURATION>(holder);
  EXPECT_EQ(request.dest, QUEUE_MAIN);
  EXPECT_EQ(request.inresponse, 1u);
  EXPECT_EQ(request.data, 0);
  const meter::TimingStats after = meter::blockings().stats();
  EXPECT_EQ(after.n, before.n + 1);
  EXPECT_EQ(after.sum, before.sum + 1500000);
  EXPECT_EQ(after.max, std::max<std::uint64_t>(before.max, 1500000));

  EXPECT_TRUE(queue_.front().isReady());
  EXPECT_EQ(stateOf(queue_.receive()), 1);
  EXPECT_EQ(stateOf(queue_.receive()), 2);
  EXPECT_FALSE(queue_.front().isReady());
}

TEST_F(DialogTest, ReplyAlreadyRememberedIsTakenWithoutBlocking) {
  // The configuration reply (uid 2) arrives while the forget dialog (uid 1)
  // waits, and is found by the configuration dialog that follows.
  writeState(QUEUE_DBMS, 0, 1);
  peer_.write<SERVER_CONFIGURATION>(QUEUE_MAIN, 2, configurationWithMask(2));
  writeState(QUEUE_DBMS, 0, 3);
  dbms::Return_Tql_Forget_Data forgotten;
  forgotten.forgotten_req_id = 77;
  peer_.write<RETURN_TQL_FORGET>(QUEUE_DBMS, 1, forgotten);

  EXPECT_EQ(forgetSubscription(77).forgotten_req_id, 77u);
  EventPtr holder;
  EXPECT_EQ(peer_.readAs<TQL_FORGET>(holder).data.req_id_to_forget, 77u);

  const meter::TimingStats blocked = meter::blockings().stats();
  const std::uint64_t immediate = meter::noblockings().value();
  EXPECT_EQ(requestServerConfiguration().log_mask, 2);
  EXPECT_EQ(meter::noblockings().value(), immediate + 1);
  EXPECT_EQ(meter::blockings().stats(), blocked);

  EXPECT_EQ(stateOf(queue_.receive()), 1);
  EXPECT_EQ(stateOf(queue_.receive()), 3);
  EXPECT_EQ(queue_.rememberedCount(), 0u);
}

TEST_F(DialogTest, ExceptionReplyThrowsThePeersTextUnchanged) {
  peer_.write(exevent(QUEUE_MAIN, 1, "Configuration store: \"locked\" (code 5)"));
  HX_EXPECT_THROW_TEXT(requestServerConfiguration(), errors::remote_error,
                       "Configuration store: \"locked\" (code 5)");
}

TEST_F(DialogTest, EndOfStreamFailsTheDialogAndKeepsWhatWasSetAside) {
  writeState(QUEUE_DBMS, 0, 1);
  writeState(QUEUE_MAIN, 0, 2);
  peer_.closeParentOutput();

  HX_EXPECT_THROW_TEXT(requestServerConfiguration(), error::ESystemError,
                       "Peer MAIN returned EOS when waiting for control::Server_Configuration");
  HX_EXPECT_THROW_TEXT(forgetSubscription(5), error::ESystemError,
                       "Peer DBMS returned EOS when waiting for dbms::Return_Tql_Forget");
  EXPECT_EQ(stateOf(queue_.receive()), 1);
  EXPECT_EQ(stateOf(queue_.receive()), 2);
  EXPECT_EQ(queue_.receive(), nullptr);
  EXPECT_TRUE(queue_.endOfStream(QUEUE_MAIN));
}

TEST_F(DialogTest, ReplyOfTheWrongTypeStopsTheProcess) {
  queue_.setLastUidForTest(11);
  peer_.write<RETURN_TQL_SELECT>(QUEUE_DBMS, 12);
  EXPECT_DEATH(forgetSubscription(3),
               "Assertion failed: Dialog to dbms, sent TQL_FORGET expected RETURN_TQL_FORGET got "
               "RETURN_TQL_SELECT uid=12");
}

TEST(DialogDeathTest, NoCurrentQueueStopsTheProcess) {
  EXPECT_DEATH(requestServerConfiguration(), "Assertion failed: No cqueue for qdialog");
}

}  // namespace
}  // namespace queues
