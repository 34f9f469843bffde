// Every event type survives writing and reading: the event read back prints
// and encodes exactly as the one sent, and so does its clone.
#include <gtest/gtest.h>

#include <utility>

#include "queues/devent.h"
#include "testkit/events.h"

namespace queues {
namespace {

using testkit::encode;
using testkit::Loopback;

void expectSame(const queues::event& got, const queues::event& sent) {
  EXPECT_EQ(got.type, sent.type);
  EXPECT_EQ(got.toString(), sent.toString());
  EXPECT_EQ(encode(got), encode(sent)) << got.toString();
}

template <std::size_t N>
void roundTrip(std::uint32_t seed) {
  using Event = queues::devent_t<queues::event_t(N)>;
  SCOPED_TRACE(queues::eventName(queues::event_t(N)) + ", seed " + std::to_string(seed));
  testkit::SampleFiller filler(seed * 1000 + N);
  Event sent(static_cast<queues::queue_t>(N % 23), seed * 7 + N);
  filler.fill(sent.data);

  // Small areas on both sides put values across area boundaries.
  Loopback loop(16, 7);
  loop.send(sent);
  const queues::EventPtr got = loop.receive();
  ASSERT_NE(dynamic_cast<const Event*>(got.get()), nullptr) << got->toString();
  expectSame(*got, sent);
  expectSame(*got->clone(), sent);
  EXPECT_EQ(loop.unread(), 0u);
}

template <std::size_t... I>
void roundTripAll(std::uint32_t seed, std::index_sequence<I...>) {
  (roundTrip<I + 1>(seed), ...);
}

TEST(RoundTrip, EveryEventTypeWithVariedData) {
  for (std::uint32_t seed = 1; seed <= 4; ++seed) {
    roundTripAll(seed, std::make_index_sequence<queues::MESSAGE_EXCEPTION - 1>());
  }
}

TEST(RoundTrip, ExceptionReply) {
  const queues::exevent sent(queues::QUEUE_DBMS, 12, "Specified ID not found in database");
  Loopback loop(16, 7);
  loop.send(sent);
  expectSame(*loop.receive(), sent);
  expectSame(*sent.clone(), sent);
}

TEST(RoundTrip, CloneIsDeep) {
  queues::devent_t<queues::RETURN_TQL_SELECT> original(queues::QUEUE_DBMS, 3);
  testkit::SampleFiller(5).fill(original.data);
  original.data.res.push_back(std::make_unique<tql::object_t>());
  const queues::EventPtr copy = original.clone();
  const std::string before = copy->toString();
  original.data.res.front()->id = tql::id_t{9, 9, 9};
  original.data.res.pop_back();
  EXPECT_EQ(copy->toString(), before);
}

}  // namespace
}  // namespace queues
