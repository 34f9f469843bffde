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

TEST_F(PipeModeTest, ReadEventsKeepTheirSenderAndSentEventsAllGoToTheParent) {
  peer_.write(state(QUEUE_DBMS, 7, 3));
  EventPtr got = queue_.receive();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->dest, QUEUE_DBMS);
  EXPECT_EQ(got->inresponse, 7u);
  EXPECT_EQ(stateOf(got), 3);
  EXPECT_FALSE(queue_.endOfStream(QUEUE_DBMS));

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

TEST_F(PipeModeTest, EndOfInputIsTheEndFromEveryPeer) {
  peer_.write(state(QUEUE_DBMS, 0, 1));
  peer_.closeParentOutput();
  EXPECT_EQ(stateOf(queue_.receive()), 1);
  EXPECT_FALSE(queue_.endOfStream(QUEUE_MAIN));
  EXPECT_EQ(queue_.receive(), nullptr);
  for (queue_t q : {QUEUE_MAIN, QUEUE_DBMS, QUEUE_EXTRA}) EXPECT_TRUE(queue_.endOfStream(q));
  EXPECT_FALSE(queue_.endOfStream(QUEUE_NONE));
  EXPECT_EQ(queue_.receive(), nullptr);
}

TEST_F(PipeModeTest, UidsWrapToOneNeverZero) {
  queue_.setLastUidForTest(0xfffffffeu);
  EXPECT_EQ(queue_.nextUid(), 0xffffffffu);
  EXPECT_EQ(queue_.nextUid(), 1u);
  EXPECT_EQ(queue_.nextUid(), 2u);
}

TEST_F(PipeModeTest, LogLinesGoToMainWithFreshUidsWhileTheQueueIsCurrent) {
  queue_.setLastUidForTest(41);
  {
    CurrentQueueScope current(queue_);
    meter::log("Alarm logic running", 0);
  }
  EXPECT_EQ(currentQueue(), nullptr);
  EventPtr holder;
  const auto& line = peer_.readAs<SYSTEM_LOG_REQUEST>(holder);
  EXPECT_EQ(line.dest, QUEUE_MAIN);
  EXPECT_EQ(line.inresponse, 42u);
  EXPECT_EQ(line.data.msg, "Alarm logic running");
  EXPECT_EQ(line.data.log_type, 0u);

  ::testing::internal::CaptureStderr();
  meter::log("after the run", 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Log: after the run\n");
}

// --- Pipe mode: sent events are held, not written one by one ---

TEST_F(PipeModeTest, SentEventsAreHeldUntilTheQueueWaitsForInput) {
  queue_.send(state(QUEUE_DBMS, 0, 1));
  queue_.send(state(QUEUE_ALRT, 0, 2));
  EXPECT_FALSE(peer_.arrivesWithin(20)) << "each event was written on its own";

  // The parent answers only once it has both events. receive() has no input
  // to read, so it must write what it holds before it waits; a parent that
  // gives up waiting answers anyway, so that a failure cannot hang the test.
  std::vector<std::int32_t> seen;
  std::thread parent([this, &seen] {
    if (peer_.arrivesWithin(5000)) {
      seen.push_back(stateOf(peer_.readWhenWritten()));
      seen.push_back(stateOf(peer_.readWhenWritten()));
    }
    peer_.write(state(QUEUE_DBMS, 0, 3));
  });
  EventPtr got = queue_.receive();
  parent.join();
  EXPECT_EQ(stateOf(got), 3);
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2}));
}

TEST_F(PipeModeTest, ASelectorAboutToWaitWritesWhatIsHeld) {
  io::Selector<int> selector;
  selector.add(&queue_.front(), 0);
  queue_.send(state(QUEUE_DBMS, 0, 1));
  queue_.send(state(QUEUE_DBMS, 0, 2));
  EXPECT_THROW((void)selector.select(true), io::ENotReady);
  ASSERT_TRUE(peer_.arrivesWithin(0));
  EXPECT_EQ(stateOf(peer_.readWhenWritten()), 1);
  EXPECT_EQ(stateOf(peer_.readWhenWritten()), 2);
  selector.remove(&queue_.front());
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
    if (!peer_.arrivesWithin(5000)) {
      ADD_FAILURE() << "event " << i << " never came";
      break;
    }
    const std::int32_t got = stateOf(peer_.readWhenWritten());
    if (got != i) {
      ADD_FAILURE() << "event " << i << " came as " << got;
      break;
    }
  }
}

TEST_F(PipeModeTest, FlushOutputWritesEverythingHeld) {
  queue_.send(state(QUEUE_DBMS, 0, 4));
  queue_.flushOutput();
  ASSERT_TRUE(peer_.arrivesWithin(0));
  EXPECT_EQ(stateOf(peer_.readWhenWritten()), 4);
  queue_.flushOutput();  // nothing held: nothing to write, no wait
  EXPECT_FALSE(peer_.arrivesWithin(0));
}

// --- Over a messenger ---

// Siblings' input and output as in-memory pipes; "some sibling has input"
// while any input that was not dropped has bytes or has ended.
class FakeMessenger : public Messenger {
 public:
  class Input : public io::Selectable {
   public:
    explicit Input(FakeMessenger& m) : m_(m) {}
    std::string name() const override { return "SomeSibling"; }
    bool isReady() override { return m_.firstReady() != QUEUE_NONE; }

   private:
    FakeMessenger& m_;
  };

  struct Sibling {
    io::MemoryStreamPair in;
    io::MemoryStreamPair out;
    bool dropped = false;
  };

  io::Selectable& inputSelectable() override { return input_; }
  queue_t readySibling() override { return firstReady(); }
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
  EventPtr sentTo(queue_t to) {
    queues::ioprim io(&sibling(to).out.in, nullptr);
    return io.readEvent();
  }
  queue_t firstReady() {
    for (auto& [q, s] : siblings_) {
      if (!s->dropped && s->in.in.isReady()) return q;
    }
    return QUEUE_NONE;
  }

  int shutdowns = 0;

 private:
  std::map<queue_t, std::unique_ptr<Sibling>> siblings_;
  Input input_{*this};
};

TEST(MessengerModeTest, EventsAreStampedWithTheirSenderAndRoutedByDest) {
  FakeMessenger messenger;
  childqueue queue(messenger);
  messenger.deliver(QUEUE_DBMS, state(QUEUE_ALRM, 3, 2));
  EventPtr got = queue.receive();
  EXPECT_EQ(got->dest, QUEUE_DBMS);
  EXPECT_EQ(stateOf(got), 2);

  queue.send(state(QUEUE_ALRT, 0, 1));
  EXPECT_EQ(stateOf(messenger.sentTo(QUEUE_ALRT)), 1);
  queue.shutdown();
  EXPECT_EQ(messenger.shutdowns, 1);
}

TEST(MessengerModeTest, OnePeersEndIsThatPeersAlone) {
  FakeMessenger messenger;
  childqueue queue(messenger);
  messenger.sibling(QUEUE_MAIN).in.out.close();
  messenger.deliver(QUEUE_DBMS, state(QUEUE_ALRM, 0, 1));

  // The ended peer comes first (lower number), then the other one's event.
  EXPECT_EQ(queue.receive(), nullptr);
  EXPECT_TRUE(queue.endOfStream(QUEUE_MAIN));
  EXPECT_FALSE(queue.endOfStream(QUEUE_DBMS));
  EXPECT_TRUE(messenger.sibling(QUEUE_MAIN).dropped);
  EXPECT_EQ(stateOf(queue.receive()), 1);
  EXPECT_TRUE(queue.endOfStream(QUEUE_MAIN));
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
