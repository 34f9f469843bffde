#include "queues/childqueue.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "io/exceptions.h"
#include "io/memory_stream.h"
#include "io/selector.h"
#include "meter/log.h"
#include "queues/devent.h"
#include "testkit/pipe_peer.h"

namespace queues {
namespace {

using State = devent_t<IMMEDIATE_STATE>;

State state(queue_t dest, std::uint32_t uid, std::int32_t value) {
  return State(dest, uid, alarms::Immediate_State_Data{tql::id_t{1, 2}, value});
}

// The state value of a received IMMEDIATE_STATE, or -1 for anything else.
std::int32_t stateOf(const EventPtr& ev) {
  auto* s = dynamic_cast<const State*>(ev.get());
  return s != nullptr ? s->data.state : -1;
}

class PipeModeTest : public ::testing::Test {
 protected:
  testkit::PipePeer peer_;
  childqueue& queue_ = peer_.queue();
};

TEST_F(PipeModeTest, ReadEventsKeepTheirSenderSentOnesGoToTheParentAndEndIsEveryPeers) {
  peer_.write(state(QUEUE_DBMS, 7, 3));
  peer_.closeParentOutput();
  EventPtr got = queue_.receive();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->dest, QUEUE_DBMS);
  EXPECT_EQ(got->inresponse, 7u);
  EXPECT_EQ(stateOf(got), 3);
  EXPECT_FALSE(queue_.endOfStream(QUEUE_DBMS));
  // The end of the input is the end of the stream from every peer at once.
  EXPECT_EQ(queue_.receive(), nullptr);
  for (queue_t q : {QUEUE_MAIN, QUEUE_DBMS, QUEUE_EXTRA}) EXPECT_TRUE(queue_.endOfStream(q));
  EXPECT_FALSE(queue_.endOfStream(QUEUE_NONE));
  EXPECT_EQ(queue_.receive(), nullptr);

  queue_.send(state(QUEUE_ALRT, 9, 1));
  queue_.send(devent_t<SUPPORTS_METRICS>(QUEUE_MAIN, 0, 0));
  EventPtr first = peer_.read();
  EXPECT_EQ(first->dest, QUEUE_ALRT);
  EXPECT_EQ(stateOf(first), 1);
  EXPECT_EQ(peer_.read()->type, SUPPORTS_METRICS);
}

TEST_F(PipeModeTest, FrontIsWhatTheSelectorWaitsOn) {
  io::Selector<int> selector;
  selector.add(&queue_.front(), 4);
  peer_.write(state(QUEUE_DBMS, 0, 1));
  peer_.write(state(QUEUE_DBMS, 0, 2));

  EXPECT_EQ(selector.select().second, 4);
  EXPECT_EQ(stateOf(queue_.receive()), 1);
  // The second event is already buffered: the front turns ready again.
  EXPECT_EQ(selector.select().second, 4);
  EXPECT_EQ(stateOf(queue_.receive()), 2);
  EXPECT_THROW((void)selector.select(true), io::ENotReady);

  // Events set aside make the front ready without new input, and come before
  // newer input in the order they were set aside.
  queue_.remember(std::make_unique<State>(state(QUEUE_DBMS, 0, 5)));
  EXPECT_EQ(selector.select(true).first, &queue_.front());
  peer_.write(state(QUEUE_DBMS, 0, 7));
  queue_.remember(std::make_unique<State>(state(QUEUE_MAIN, 0, 6)));
  EXPECT_EQ(stateOf(queue_.receive()), 5);
  EXPECT_EQ(stateOf(queue_.receive()), 6);
  EXPECT_EQ(stateOf(queue_.receive()), 7);
  EXPECT_THROW((void)selector.select(true), io::ENotReady);
  selector.remove(&queue_.front());
}

TEST_F(PipeModeTest, LogLinesGoToMainWithFreshUidsWhileTheQueueIsCurrent) {
  queue_.setLastUidForTest(0xfffffffeu);
  {
    CurrentQueueScope current(queue_);
    meter::log("Alarm logic running", 0);
  }
  EXPECT_EQ(currentQueue(), nullptr);
  EventPtr holder;
  const auto& line = peer_.readAs<SYSTEM_LOG_REQUEST>(holder);
  EXPECT_EQ(line.dest, QUEUE_MAIN);
  EXPECT_EQ(line.inresponse, 0xffffffffu);
  EXPECT_EQ(line.data.msg, "Alarm logic running");
  EXPECT_EQ(line.data.log_type, 0u);
  // Uids wrap to one, never zero.
  EXPECT_EQ(queue_.nextUid(), 1u);
  EXPECT_EQ(queue_.nextUid(), 2u);

  ::testing::internal::CaptureStderr();
  meter::log("after the run", 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Log: after the run\n");
}

// --- Pipe mode: sent events are held, not written one by one ---

TEST_F(PipeModeTest, HeldEventsGoOutInOrderWhenTheQueueIsAboutToWait) {
  io::Selector<int> selector;
  selector.add(&queue_.front(), 0);
  queue_.send(state(QUEUE_DBMS, 0, 1));
  queue_.send(state(QUEUE_ALRT, 0, 2));
  EXPECT_FALSE(peer_.arrivesWithin(20)) << "each event was written on its own";
  // A selector about to wait on the front writes them.
  EXPECT_THROW((void)selector.select(true), io::ENotReady);
  selector.remove(&queue_.front());
  ASSERT_TRUE(peer_.arrivesWithin(0));
  EXPECT_EQ(stateOf(peer_.readWhenWritten()), 1);
  EXPECT_EQ(stateOf(peer_.readWhenWritten()), 2);

  queue_.send(state(QUEUE_DBMS, 0, 3));
  queue_.flushOutput();
  ASSERT_TRUE(peer_.arrivesWithin(0));
  EXPECT_EQ(stateOf(peer_.readWhenWritten()), 3);
  queue_.flushOutput();  // nothing held: returns at once

  // The parent answers only once it has the event: receive() has no input to
  // read, so it must write what it holds before it waits. A parent that gives
  // up waiting answers anyway, so that a failure cannot hang the test.
  queue_.send(state(QUEUE_DBMS, 0, 4));
  std::int32_t seen = -1;
  std::thread parent([this, &seen] {
    if (peer_.arrivesWithin(5000)) seen = stateOf(peer_.readWhenWritten());
    peer_.write(state(QUEUE_DBMS, 0, 5));
  });
  EXPECT_EQ(stateOf(queue_.receive()), 5);
  parent.join();
  EXPECT_EQ(seen, 4);
}

TEST_F(PipeModeTest, HeldEventsGoOutInOrderWhenTheBufferFillsOrTheQueueGoes) {
  // More than the output buffer: the first buffer full goes out unasked.
  constexpr int kEvents = 2100;
  for (int i = 0; i < kEvents; ++i) queue_.send(state(QUEUE_DBMS, 0, i));
  EXPECT_TRUE(peer_.arrivesWithin(0));
  // The rest stays held until the queue goes (after room was made in the
  // pipe, which the first buffer filled).
  for (int i = 0; i < kEvents; ++i) {
    if (i == 1000) peer_.destroyQueue();
    ASSERT_TRUE(peer_.arrivesWithin(5000)) << "event " << i << " never came";
    ASSERT_EQ(stateOf(peer_.readWhenWritten()), i);
  }
}

// --- Over a messenger ---

// Siblings' input and output as in-memory pipes; "some sibling has input"
// while any input that was not dropped has bytes or has ended.
class FakeMessenger : public Messenger, public io::Selectable {
 public:
  struct Sibling {
    io::MemoryStreamPair in;
    io::MemoryStreamPair out;
    bool dropped = false;
  };

  std::string name() const override { return "SomeSibling"; }
  bool isReady() override { return readySibling() != QUEUE_NONE; }
  io::Selectable& inputSelectable() override { return *this; }
  queue_t readySibling() override {
    for (auto& [q, s] : siblings_) {
      if (!s->dropped && s->in.in.isReady()) return q;
    }
    return QUEUE_NONE;
  }
  io::IStream& inputStream(queue_t q) override { return sibling(q).in.in; }
  io::OStream& outputStream(queue_t q) override { return sibling(q).out.out; }
  void dropEndOfStream(queue_t q) override { sibling(q).dropped = true; }
  void initiateShutdown() override { ++shutdowns; }

  Sibling& sibling(queue_t q) {
    auto& s = siblings_[q];
    if (s == nullptr) s = std::make_unique<Sibling>();
    return *s;
  }
  // The sibling writes an event to us (with whatever dest it likes).
  void deliver(queue_t from, const event& ev) {
    queues::ioprim io(nullptr, &sibling(from).in.out);
    io.writeEvent(ev);
    io.flush();
  }
  EventPtr sentTo(queue_t to) { return queues::ioprim(&sibling(to).out.in, nullptr).readEvent(); }

  int shutdowns = 0;

 private:
  std::map<queue_t, std::unique_ptr<Sibling>> siblings_;
};

TEST(MessengerModeTest, EventsAreStampedWithTheirSenderAndOnePeersEndIsThatPeersAlone) {
  FakeMessenger messenger;
  childqueue queue(messenger);
  messenger.sibling(QUEUE_MAIN).in.out.close();
  messenger.deliver(QUEUE_DBMS, state(QUEUE_ALRM, 3, 2));

  // The ended peer comes first (lower number), then the other one's event.
  EXPECT_EQ(queue.receive(), nullptr);
  EXPECT_TRUE(queue.endOfStream(QUEUE_MAIN));
  EXPECT_FALSE(queue.endOfStream(QUEUE_DBMS));
  EXPECT_TRUE(messenger.sibling(QUEUE_MAIN).dropped);
  EventPtr got = queue.receive();
  EXPECT_EQ(got->dest, QUEUE_DBMS);
  EXPECT_EQ(stateOf(got), 2);
  EXPECT_TRUE(queue.endOfStream(QUEUE_MAIN));

  queue.send(state(QUEUE_ALRT, 0, 1));
  EXPECT_EQ(stateOf(messenger.sentTo(QUEUE_ALRT)), 1);
  queue.shutdown();
  EXPECT_EQ(messenger.shutdowns, 1);
}

TEST(ChildQueueDeathTest, MisuseStopsTheProcess) {
  testkit::PipePeer peer;
  EXPECT_DEATH(peer.queue().shutdown(), "Assertion failed: Queue shutdown with no messenger");
  io::MemoryPipe pipe;
  io::MemoryIStream stranger(pipe);
  EXPECT_DEATH(peer.queue().underlyingIsReady(&stranger),
               "Assertion failed: childqueue::underlyingIsReady got wrong Selectable");
}

}  // namespace
}  // namespace queues
