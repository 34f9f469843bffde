#include "io/sibling_messenger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <regex>
#include <thread>

#include "io/control_message.h"
#include "io/exceptions.h"
#include "io/fifo.h"
#include "io/selector.h"
#include "io/shared_memory.h"
#include "os/fd.h"
#include "os/spawn.h"
#include "testkit/sibling_family.h"

namespace io {
namespace {

using Family = testkit::SiblingFamily;
using MT = MessageType;

void send(SiblingMessenger& from, int to, const std::string& text) {
  OStream& out = from.outputStream(to);
  ASSERT_TRUE(out.isReady()) << out.name();
  std::uint8_t* data = nullptr;
  const std::size_t room = out.writeBegin(data);
  ASSERT_GE(room, text.size());
  std::copy(text.begin(), text.end(), data);
  out.writeCommit(text.size());
}

std::string receive(SiblingMessenger& at, int from) {
  IStream& in = at.inputStream(from);
  if (!in.isReady()) return "<not ready>";
  const std::uint8_t* data = nullptr;
  const std::size_t n = in.readBegin(data);
  std::string text(reinterpret_cast<const char*>(data), n);
  in.readCommit(n);
  return text;
}

bool endsWithEos(SiblingMessenger& at, int from) {
  IStream& in = at.inputStream(from);
  if (!in.isReady()) return false;
  const std::uint8_t* data = nullptr;
  try {
    (void)in.readBegin(data);
  } catch (const EEndOfStream&) {
    return true;
  }
  return false;
}

// The text of the end of stream that a write from `from` to `to` raises.
std::string writeRefusal(SiblingMessenger& from, int to) {
  std::uint8_t* data = nullptr;
  try {
    (void)from.outputStream(to).writeBegin(data);
  } catch (const EEndOfStream& e) {
    return e.text();
  }
  return "<write accepted>";
}

// One pass of `m`'s own selector, without anybody else moving.
void pollOnce(SiblingMessenger& m) {
  for (Selectable* u : std::vector<Selectable*>(m.underlying())) testkit::pollLikeASelector(*u);
}

// A sibling played by the test itself: its own published pipe, read raw, and
// raw control messages written into other members' pipes.
class RawSibling {
 public:
  RawSibling(const Family& family, int id) : prefix_(family.conf().fifoprefix) {
    InputFifo fifo = setupFifo(publicationPath(prefix_, id));
    in_ = std::move(fifo.readEnd);
    keep_ = std::move(fifo.writeEnd);
    os::setNonblocking(in_.get(), true);
  }
  void write(int to, const std::vector<ControlMessage>& msgs) {
    SiblingFifo fifo = openFifo(prefix_, to);
    std::vector<std::uint8_t> bytes;
    for (const ControlMessage& m : msgs) {
      const auto b = m.encode();
      bytes.insert(bytes.end(), b.begin(), b.end());
    }
    ASSERT_EQ(os::writeSome(fifo.writeEnd.get(), bytes.data(), bytes.size()).bytes, bytes.size());
  }
  // Everything that arrived so far.
  std::vector<ControlMessage> read() {
    std::vector<ControlMessage> out;
    std::uint8_t buf[4096];
    for (os::IoResult r; (r = os::readSome(in_.get(), buf, sizeof buf)).bytes != 0;) {
      for (std::size_t i = 0; i + 8 <= r.bytes; i += 8)
        out.push_back(ControlMessage::decode(buf + i));
    }
    return out;
  }

 private:
  std::string prefix_;
  os::OwnedFd in_;
  os::OwnedFd keep_;
};

// --- start-up -------------------------------------------------------------------

TEST(SiblingMessengerStartupTest, IAmUpBringsTheWriteAreasAndReadyStreams) {
  Family f;
  SiblingMessenger& one = f.startChild(1);
  EXPECT_TRUE(one.hasWriteArea());
  EXPECT_TRUE(one.outputStream(0).isReady());
  EXPECT_TRUE(f.parent().outputStream(1).isReady());
  EXPECT_EQ(f.parent().takeNewSibling(), 1);
  EXPECT_FALSE(f.parent().newSiblings().isReady());
  EXPECT_FALSE(f.parent().takeNewSibling().has_value());
  // Traces open with the UTC calendar time.
  ASSERT_FALSE(f.traces.empty());
  EXPECT_TRUE(std::regex_search(
      f.traces.front(),
      std::regex("^[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4} ")))
      << f.traces.front();
  SiblingMessenger::SiblingRef ref = one.getSibling(0);
  EXPECT_EQ(&ref.ostream(), &one.outputStream(0));
  const SiblingMessenger::SiblingRef moved = std::move(ref);
  EXPECT_FALSE(ref);
  EXPECT_TRUE(moved);

  // The second child is introduced to the first, and the first to it.
  SiblingMessenger& two = f.startChild(2);
  EXPECT_TRUE(f.traced(" notifies new sibling 2 of sibling 1"));
  EXPECT_TRUE(f.traced(" notifies old sibling 1 of sibling 2"));
  send(two, 1, "hi one");
  send(one, 2, "hi two");
  f.pump();
  EXPECT_TRUE(f.requests.empty());
  EXPECT_EQ(receive(one, 2), "hi one");
  EXPECT_EQ(receive(two, 1), "hi two");
}

// --- events and acknowledgements ----------------------------------------------------

TEST(SiblingMessengerEventTest, MessagesBothWaysAreAcknowledgedOnceFullyRead) {
  Family f;
  SiblingMessenger& one = f.startChild(1);
  send(one, 0, "abcdef");
  send(one, 0, "again");
  EXPECT_EQ(one.outstandingCount(), 2u);
  // A selector over both fronts finds the parent's.
  Selector<int> selector;
  selector.add(&f.parent().someSibling(), 10);
  selector.add(&one.someSibling(), 11);
  std::optional<int> tag;
  for (int i = 0; i < 50 && !tag; ++i) {
    try {
      tag = selector.select(true).second;
    } catch (const ENotReady&) {
    }
  }
  ASSERT_EQ(tag, 10);
  EXPECT_EQ(f.parent().readySibling(), 1);
  IStream& in = f.parent().inputStream(1);
  const std::uint8_t* data = nullptr;
  ASSERT_EQ(in.readBegin(data), 6u);
  in.readCommit(4);
  f.pump();
  EXPECT_EQ(one.outstandingCount(), 2u);  // not acknowledged before the end
  ASSERT_EQ(in.readBegin(data), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 2), "ef");
  in.readCommit(2);
  f.pump();
  EXPECT_EQ(one.outstandingCount(), 1u);
  EXPECT_EQ(receive(f.parent(), 1), "again");
  EXPECT_FALSE(f.parent().someSibling().isReady());
  EXPECT_FALSE(in.isReady());
  EXPECT_THROW((void)in.readBegin(data), ENotReady);
  f.pump();
  EXPECT_EQ(one.outstandingCount(), 0u);

  send(f.parent(), 1, "down");
  f.pump();
  EXPECT_EQ(one.readySibling(), 0);
  EXPECT_EQ(receive(one, 0), "down");
  f.pump();
  EXPECT_EQ(f.parent().outstandingCount(), 0u);
}

TEST(SiblingMessengerEventTest, AFullAreaTurnsTheStreamsNotReadyUntilAcknowledged) {
  Family f;
  f.areaSizes[1] = 32;  // one block: a small message takes all of it
  SiblingMessenger& one = f.startChild(1);
  send(one, 0, "one");
  EXPECT_FALSE(one.outputStream(0).isReady());
  std::uint8_t* data = nullptr;
  EXPECT_THROW((void)one.outputStream(0).writeBegin(data), ENotReady);
  f.pump();
  EXPECT_EQ(receive(f.parent(), 1), "one");
  f.pump();
  EXPECT_TRUE(one.outputStream(0).isReady());
}

TEST(SiblingMessengerEventTest, ABatchOfControlMessagesReachesThePipeWhenTheProcessWaits) {
  Family f;
  SiblingMessenger& one = f.startChild(1);
  for (int i = 0; i < 20; ++i) send(one, 0, "event " + std::to_string(i));
  // Nothing reached the kernel yet: the parent finds its pipe empty.
  testkit::pumpMessengers({&f.parent()});
  EXPECT_FALSE(f.parent().someSibling().isReady());
  // One pass over the child's selectables hands the whole batch over.
  pollOnce(one);
  testkit::pumpMessengers({&f.parent()});
  for (int i = 0; i < 20; ++i) EXPECT_EQ(receive(f.parent(), 1), "event " + std::to_string(i));
}

// --- peers that are not there yet -------------------------------------------------

TEST(SiblingMessengerPeerTest, AMessageForAnUnknownSiblingIsDeliveredOnceItIsIntroduced) {
  Family f;
  SiblingMessenger& one = f.startChild(1);
  send(one, 2, "early");
  f.pump();
  EXPECT_TRUE(f.traced("ID 1 cannot write to 2 - requesting from parent..."));
  EXPECT_TRUE(f.traced("granted by messageToNonexistantSibling"));
  // A second message while waiting does not ask again.
  send(one, 2, "later");
  f.pump();
  EXPECT_EQ(f.requests, (std::vector<std::pair<int, int>>{{2, 1}}));

  SiblingMessenger& two = f.startChild(2);
  EXPECT_EQ(two.readySibling(), 1);
  EXPECT_EQ(receive(two, 1), "early");
  EXPECT_EQ(receive(two, 1), "later");
  f.pump();
  EXPECT_EQ(one.outstandingCount(), 0u);
}

TEST(SiblingMessengerPeerTest, ADeniedRequestEndsTheStreamAndFreesTheMessages) {
  Family f;
  f.grant = false;
  SiblingMessenger& one = f.startChild(1);
  send(one, 7, "lost");
  send(one, 0, "kept");
  EXPECT_EQ(one.outstandingCount(), 2u);
  f.pump();
  EXPECT_TRUE(f.traced("denied by messageToNonexistantSibling"));
  EXPECT_TRUE(f.traced(" AckMessage("));
  EXPECT_EQ(one.outstandingCount(), 1u);  // only the parent's is left
  EXPECT_TRUE(one.siblingFailed(7));
  EXPECT_EQ(one.readySibling(), 7);
  EXPECT_TRUE(endsWithEos(one, 7));
  one.dropEndOfStream(7);
  EXPECT_FALSE(one.someSibling().isReady());
  // Afterwards the stream stays ended and writes report the failure.
  EXPECT_TRUE(endsWithEos(one, 7));
  EXPECT_EQ(writeRefusal(one, 7), "EOS from SiblingOStream[7] (Write to failed process)");

  // A request that claims to come from the parent itself is not answered:
  // the answer, SiblingDied to the parent, would be fatal.
  RawSibling raw(f, 9);
  raw.write(0, {ControlMessage::make(MT::RequestPeer, 4, 0)});
  f.pump();
  send(one, 0, "still there");
  f.pump();
  EXPECT_EQ(receive(f.parent(), 1), "kept");
  EXPECT_EQ(receive(f.parent(), 1), "still there");
}

TEST(SiblingMessengerPeerTest, AcknowledgementsOvertakeOrderedMessagesHeldBehindASlowPipe) {
  Family f;
  f.areaSizes[1] = 2 << 20;
  f.areaSizes[0] = 2 << 20;
  SiblingMessenger& one = f.startChild(1);
  RawSibling raw(f, 9);
  raw.write(0, {ControlMessage::make(MT::IAmUp, 0, 9)});
  f.pump();
  // The raw sibling learnt its area (the offset two before its SiblingAt) and
  // writes a message there for sibling 1.
  const std::vector<ControlMessage> intro = raw.read();
  std::uint64_t rawStart = 0;
  for (std::size_t i = 2; i < intro.size(); ++i) {
    if (intro[i].type() == MT::SiblingAt && intro[i].value() == 9) {
      rawStart = static_cast<std::uint64_t>(intro[i - 2].value());
    }
  }
  ASSERT_NE(rawStart, 0u);
  SharedMemory pool(f.conf().mapfile, Family::kPoolSize);
  pool.view().initUsed(rawStart, 0, rawStart + 24, 5);
  std::copy_n("hello", 5, pool.view().data(rawStart));

  // Overfill the parent's pipe: 1's writer to the parent is left holding
  // bytes, which holds back the ordered queue for everybody.
  for (int sent = 0; sent < 10000; ++sent) {
    send(one, 0, "x");
    pollOnce(one);
  }
  send(one, 9, "to raw");
  raw.write(1, {ControlMessage::make(MT::MessageAt, static_cast<std::int64_t>(rawStart), 9)});
  testkit::pumpMessengers({&one});
  EXPECT_EQ(receive(one, 9), "hello");
  testkit::pumpMessengers({&one});
  EXPECT_TRUE(raw.read().empty());  // still held back behind the parent's pipe

  // The parent reads: the queue moves, the acknowledgement first.
  for (int i = 0; i < 1000 && (f.parent().someSibling().isReady() || one.outstandingCount() > 1);
       ++i) {
    f.pump();
    while (f.parent().inputStream(1).isReady()) (void)receive(f.parent(), 1);
  }
  const std::vector<ControlMessage> got = raw.read();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], ControlMessage::make(MT::AckMessageAt, static_cast<std::int64_t>(rawStart), 1));
  EXPECT_EQ(got[1].type(), MT::MessageAt);
}

// --- shutdown ---------------------------------------------------------------------

TEST(SiblingMessengerShutdownTest, TheWholeDanceEndsEveryStreamAndReleasesTheChild) {
  Family f;
  SiblingMessenger& one = f.startChild(1);
  SiblingMessenger& two = f.startChild(2);
  send(one, 2, "unread");   // 1 owes nothing, but waits for 2 to read this
  send(two, 1, "pending");  // 2 must not acknowledge 1's shutdown before this is read
  f.pump();

  one.initiateShutdown();
  EXPECT_TRUE(one.shutdownInitiated());
  EXPECT_EQ(writeRefusal(one, 2),
            "EOS from SiblingOStream[2] (Write to non-parent disabled during shutdown)");
  f.pump();
  EXPECT_TRUE(f.traced(" SP: Has to be ack'ed by 2"));
  EXPECT_TRUE(f.traced(": Sibling: 1 has outstanding messages in InitShutdown"));
  EXPECT_FALSE(one.shutdownAcknowledged());

  EXPECT_EQ(receive(one, 2), "pending");
  f.pump();
  EXPECT_TRUE(f.traced("got ack for all messages, allowing 1 to shutdown"));
  EXPECT_TRUE(f.traced(" SP: parent got final ack for shutdown of child sibling 1"));
  ASSERT_TRUE(one.shutdownAcknowledged());
  EXPECT_EQ(writeRefusal(one, 0),
            "EOS from SiblingOStream[0] (Write disabled due to acknowledged shutdown)");
  // 1's message to 2 is still unread: its streams have not ended.
  EXPECT_FALSE(one.inputStream(0).isReady());
  EXPECT_EQ(receive(two, 1), "unread");
  f.pump();
  EXPECT_EQ(one.outstandingCount(), 0u);
  EXPECT_TRUE(endsWithEos(one, 0));

  one.completeShutdown();
  EXPECT_TRUE(one.shutdownCompleted());
  EXPECT_FALSE(one.outputStream(0).isReady());
  f.pump();
  EXPECT_TRUE(f.traced(
      " SP: parent got MT_AckShutdown from child sibling 1 that called completeShutdown."));
  EXPECT_TRUE(f.parent().siblingFailed(1));
  EXPECT_TRUE(endsWithEos(f.parent(), 1));
  f.dropChild(1);

  // The area is free again: sibling 1 can come back at the same place.
  SiblingMessenger& again = f.startChild(1);
  EXPECT_TRUE(again.hasWriteArea());
  send(again, 0, "back");
  f.pump();
  f.parent().dropEndOfStream(1);
  EXPECT_EQ(receive(f.parent(), 1), "back");
}

TEST(SiblingMessengerShutdownTest, AChildThatDiesIsReportedAndNoLongerAwaited) {
  Family f;
  SiblingMessenger& one = f.startChild(1);
  f.startChild(2);
  send(one, 2, "to the dying");
  f.pump();
  // Sibling 2 goes away without a word: its pipe's reader disappears.
  f.dropChild(2);
  send(f.parent(), 2, "parent to the dead");
  for (int i = 0; i < 5; ++i) f.pump();
  EXPECT_TRUE(f.parent().siblingFailed(2));
  EXPECT_TRUE(f.traced(" SP: Sending MT_SiblingDied(2) to id 1"));
  EXPECT_TRUE(one.siblingFailed(2));
  EXPECT_EQ(one.outstandingCount(), 0u);
  EXPECT_TRUE(endsWithEos(one, 2));
  EXPECT_EQ(f.parent().outstandingCount(), 0u);

  // With 2 gone (and its end taken) nobody else has to acknowledge 1's shutdown.
  one.dropEndOfStream(2);
  one.initiateShutdown();
  f.pump();
  EXPECT_TRUE(f.traced(" SP: No other siblings have to ack. Will allow child to exit."));
  EXPECT_TRUE(one.shutdownAcknowledged());
  EXPECT_EQ(one.readySibling(), 0);
  EXPECT_TRUE(endsWithEos(one, 0));
}

TEST(SiblingMessengerShutdownTest, AMessageFromASiblingFoundDeadBeforeItWasReadIsDropped) {
  Family f;
  SiblingMessenger& one = f.startChild(1);
  SiblingMessenger& two = f.startChild(2);
  send(two, 1, "last words");
  f.dropChild(2);
  // One learns of the death from its own write, before it reads its pipe,
  // where the dead sibling's last message still waits.
  send(one, 2, "too late");
  const std::vector<Selectable*> under = one.underlying();
  for (auto u = under.rbegin(); u != under.rend(); ++u) {
    const auto& now = one.underlying();
    if (std::find(now.begin(), now.end(), *u) == now.end()) continue;
    testkit::pollLikeASelector(**u);
    if ((*u)->isReady()) one.underlyingIsReady(*u);
  }
  EXPECT_TRUE(one.siblingFailed(2));
  f.pump();
  EXPECT_TRUE(f.traced(" discarding MessageAt from dead sibling 2"));
  EXPECT_TRUE(endsWithEos(one, 2));
}

// --- fatal protocol violations --------------------------------------------------------

TEST(SiblingMessengerDeathTest, ProtocolViolationsEndTheProcess) {
  // Raw control messages, from sibling 9 unless said otherwise, written into
  // the pipe of member `to`.
  const auto m = [](MT t, std::int64_t v, int from = 9) {
    return ControlMessage::make(t, v, from);
  };
  struct Raw {
    int to;
    std::vector<ControlMessage> msgs;
    const char* text;
  };
  const Raw raws[] = {
      {1,
       {m(MT::ExtraOffset, 64), m(MT::ExtraSize, 64), m(MT::ExtraSiblingId, 3)},
       "Too big a stack: "},
      {1, {m(MT::SiblingAt, 3)}, "Stack size is 0 on SiblingAt"},
      {1,
       {m(MT::ExtraSize, 64), m(MT::ExtraOffset, 64), m(MT::SiblingAt, 3)},
       "No ExtraOffset on SiblingAt"},
      {1, {ControlMessage(5, 9)}, "Got MT_Undefined"},
      {1, {m(MT::IAmUp, 0)}, "Got IAmUp but we're a child"},
      {1, {m(MT::RequestPeer, 4)}, "Got RequestPeer but we're a child"},
      {0, {m(MT::SiblingDied, 4)}, "MT_SiblingDied not valid to parent"},
      {1, {m(MT::AckShutdown, 1)}, "Protocol violation; got AckShutdown unexpectedly"},
      {1, {m(MT::MessageAt, 8, 0)}, "is not a block of the write area"},
      {0,
       {m(MT::IAmUp, 0, 5000)},
       "Control message from out of range sibling id: IAmUp.0. .from:5000."},
  };
  // A shutdown call out of turn, after initiateShutdown().
  const std::pair<void (SiblingMessenger::*)(), const char*> calls[] = {
      {&SiblingMessenger::completeShutdown, "Protocol violation; premature completeShutdown()"},
      {&SiblingMessenger::initiateShutdown, "Shutdown already in progress..."},
  };
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const Raw& c : raws) {
    SCOPED_TRACE(c.text);
    EXPECT_DEATH(
        {
          Family f;
          f.startChild(1);
          RawSibling raw(f, 9);
          raw.write(c.to, c.msgs);
          f.pump();
        },
        c.text);
  }
  for (const auto& [call, text] : calls) {
    SCOPED_TRACE(text);
    EXPECT_DEATH(
        {
          Family f;
          SiblingMessenger& one = f.startChild(1);
          one.initiateShutdown();
          (one.*call)();
        },
        text);
  }
  EXPECT_DEATH(SiblingMessenger(129, Family().conf()), "my_sibling_id is out of range.");
}

// --- a real process that dies ----------------------------------------------------------

TEST(SiblingMessengerProcessTest, AKilledChildIsNoticedThroughItsProcessWatch) {
  using Clock = std::chrono::steady_clock;
  Family f;
  SiblingMessenger& one = f.startChild(1);
  const int pid = os::forkProcess();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    SiblingMessenger three(3, f.conf());
    for (;;) {
      testkit::pumpMessengers({&three});
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  ASSERT_EQ(f.parent().takeNewSibling(), 1);
  std::optional<int> up;
  for (; up != 3 && Clock::now() < deadline; up = f.parent().takeNewSibling()) f.pump();
  ASSERT_EQ(up, 3);
  send(one, 3, "never read");
  f.pump();
  ASSERT_EQ(one.outstandingCount(), 1u);

  os::sendSignal(pid, SIGKILL);
  const auto killed = Clock::now();
  while (!(one.siblingFailed(3) && one.outstandingCount() == 0) &&
         Clock::now() - killed < std::chrono::seconds(5)) {
    f.pump();
  }
  const auto tookUs =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - killed).count();
  RecordProperty("noticed_after_us", static_cast<int>(tookUs));
  EXPECT_TRUE(f.parent().siblingFailed(3));
  EXPECT_TRUE(one.siblingFailed(3));
  EXPECT_EQ(one.outstandingCount(), 0u);
  EXPECT_TRUE(endsWithEos(one, 3));
  EXPECT_LT(tookUs, 100000);
  EXPECT_TRUE(os::waitForExit(pid).signalled);
}

}  // namespace
}  // namespace io
