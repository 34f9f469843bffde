#include <gtest/gtest.h>

#include "error/exception.h"
#include "io/exceptions.h"
#include "queues/devent.h"
#include "queues/ioprim.h"
#include "testkit/events.h"
#include "testkit/matcher.h"

namespace queues {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testkit::Loopback;

// An event header: four little-endian words.
Bytes header(std::int32_t type, std::int32_t dest, std::uint32_t uid, std::uint32_t exception) {
  Bytes bytes;
  for (const auto word :
       {static_cast<std::uint32_t>(type), static_cast<std::uint32_t>(dest), uid, exception}) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
  }
  return bytes;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The first bytes of `ev` in wire form.
Bytes encodedStart(const queues::event& ev, std::size_t n) {
  const Bytes bytes = testkit::encode(ev);
  return Bytes(bytes.begin(),
               bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size())));
}

// A stream that holds `bytes`, as a peer wrote them, and then ends.
std::unique_ptr<Loopback> fed(const Bytes& bytes) {
  auto loop = std::make_unique<Loopback>();
  loop->feed(bytes);
  loop->closeWriter();
  return loop;
}

TEST(EventEncoding, ExceptionReplyIsHeaderThenText) {
  const queues::exevent ev(queues::QUEUE_DBMS, 9, "x");
  EXPECT_EQ(testkit::encode(ev), (header(195, 2, 9, 1) + Bytes{1, 0, 0, 0, 0, 0, 0, 0, 'x'}));
}

TEST(EventEncoding, AlarmPayloadFieldsInOrder) {
  const queues::devent_t<queues::SET_STATUS> ev(queues::QUEUE_DBMS, 0, {{1, 2}, 13, 100, 200});
  const Bytes expected = header(183, 2, 0, 0) +
                         Bytes{2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 13, 0, 0, 0} +
                         Bytes{100, 0, 0, 0, 0, 0, 0, 0, 200, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(testkit::encode(ev), expected);
}

TEST(EventEncoding, PropertyIsCodeNumberNullAuxThenValue) {
  queues::devent_t<queues::RETURN_TQL_SELECT_PATCH> ev(queues::QUEUE_DBMS, 3);
  ev.data.patch = std::make_unique<tql::object_t>();
  auto p = std::make_unique<tql::property_int_t>(105, -2);
  p->aux = 7;
  ev.data.patch->properties.insert(std::move(p));
  const Bytes object_start = Bytes(16, 0) +                    // class_, flags, tags, id
                             Bytes(16, 0) +                    // version
                             Bytes{1, 0, 0, 0, 105, 0, 0, 0};  // one property, number 105
  const Bytes property =
      Bytes{19, 0, 0, 0, 105, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0} + Bytes{0xfe, 0xff, 0xff, 0xff};
  const Bytes expected = header(81, 2, 3, 0) + Bytes{0, 0, 0, 0} + object_start + property;
  EXPECT_EQ(encodedStart(ev, expected.size()), expected);
}

TEST(EventEncoding, AbsentPropertyIsTypeCodeZero) {
  queues::devent_t<queues::TQL_SELECT> ev(queues::QUEUE_DBMS, 1);
  ev.data.pattern.where.emplace_back(nullptr, 1);
  // root_ids, class_, flags, tag, next, cond_next, where count, then the condition.
  const Bytes expected = header(79, 2, 1, 0) + Bytes(24, 0) + Bytes{1, 0, 0, 0} +
                         Bytes{0, 0, 0, 0} + Bytes{1, 0, 0, 0};
  EXPECT_EQ(encodedStart(ev, expected.size()), expected);
}

TEST(EventReading, ExceptionReplyCarryingTheReplyTypeIsAnExevent) {
  const queues::EventPtr ev =
      fed(header(111, 2, 9, 1) + Bytes{2, 0, 0, 0, 0, 0, 0, 0, 'n', 'o'})->receive();
  ASSERT_NE(dynamic_cast<queues::exevent*>(ev.get()), nullptr);
  EXPECT_EQ(ev->type, queues::MESSAGE_EXCEPTION);
  EXPECT_TRUE(ev->exception);
  EXPECT_EQ(ev->dest, queues::QUEUE_DBMS);
  EXPECT_EQ(ev->inresponse, 9u);
  EXPECT_EQ(static_cast<queues::exevent&>(*ev).text, "no");
}

TEST(EventReading, ReservedTypesCarryAnInt32) {
  const auto ev = fed(header(70, 0, 1, 0) + Bytes{42, 0, 0, 0})->receive();
  EXPECT_EQ(ev->type, 70);
  using Reserved = queues::devent<queues::event_t(70), std::int32_t>;
  EXPECT_EQ(static_cast<Reserved&>(*ev).data, 42);
}

TEST(EventReading, UnknownPropertyCodeYieldsNoPropertyAndReadsOn) {
  // RETURN_TQL_SELECT_PATCH: id 1.2, an object with two map entries, the
  // first of an unknown type code (only its 4 bytes), then seq.
  const auto loop =
      fed(header(81, 2, 1, 0) + Bytes{2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0} +  // id
          Bytes(16, 0) + Bytes(16, 0) +                         // class, flags, tags, id; version
          Bytes{2, 0, 0, 0} + Bytes{5, 0, 0, 0, 99, 0, 0, 0} +  // key 5: code 99
          Bytes{6, 0, 0, 0, 20, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0} +
          Bytes{0, 0, 0, 0} + Bytes(12, 0) +                       // children; origin
          Bytes{1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0});  // seq
  const auto ev = loop->receive();
  const auto& data = static_cast<queues::devent_t<queues::RETURN_TQL_SELECT_PATCH>&>(*ev).data;
  ASSERT_EQ(data.patch->properties.size(), 1u);
  EXPECT_EQ(data.patch->properties.at(6)->toString(), "9");
  EXPECT_EQ(data.seq, (tql::version_t{1, 2}));
  EXPECT_EQ(loop->unread(), 0u);
}

// --- Hostile input: every case fails cleanly with an exception. ---

TEST(EventReading, EndOfInputAnywhereInsideAnEventEndsTheStream) {
  const Bytes whole = testkit::encode(
      queues::devent_t<queues::PUT_INCIDENTLOG>(queues::QUEUE_DBMS, 1, {10, {1}, "text", 2}));
  for (std::size_t cut = 1; cut < whole.size(); ++cut) {
    const auto loop = fed(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_THROW(loop->receive(), io::EEndOfStream) << "cut at " << cut;
  }
}

// Huge string lengths: see ReadAreas.StringsGrowOnlyByWhatArrives.
TEST(EventReading, HugeCountsCostOnlyWhatArrives) {
  // CLEAR_FIRE_FLAG: a list of ids claiming 4 billion entries, then one.
  EXPECT_THROW(fed(header(68, 2, 1, 0) + Bytes{0xff, 0xff, 0xff, 0xff} + Bytes(4, 0))->receive(),
               io::EEndOfStream);
}

TEST(EventReading, IdWithMoreThanThreeComponentsIsRejected) {
  HX_EXPECT_THROW_TEXT(fed(header(54, 2, 1, 0) + Bytes{4, 0, 0, 0} + Bytes(16, 0))->receive(),
                       error::ERange, "small vector resize overflow 4 > 3");
}

TEST(EventReading, MalformedBignumTextIsRejected) {
  queues::devent_t<queues::RETURN_TQL_SELECT_PATCH> ev(queues::QUEUE_DBMS, 3);
  ev.data.patch = std::make_unique<tql::object_t>();
  ev.data.patch->properties.insert(std::make_unique<tql::property_bignum_t>(1, 123));
  Bytes bytes = testkit::encode(ev);
  const std::size_t digit =
      bytes.size() - 12 - 16 - 4 - 1;  // the last digit, before children, origin, seq
  ASSERT_EQ(bytes[digit], '3');
  bytes[digit] = 'x';
  EXPECT_THROW(fed(bytes)->receive(), error::EParseError);
}

TEST(EventReading, NestingIsLimited) {
  // SCHEDULE_EVENT_RELATIVE events nested inside each other, far deeper than
  // any real use.
  Bytes bytes;
  for (int i = 0; i < kMaxReadNesting + 5; ++i) {
    bytes = bytes + header(129, 1, 1, 0) + Bytes(8, 0);
  }
  EXPECT_THROW(fed(bytes + header(1, 0, 0, 0) + Bytes(4, 0))->receive(), error::EParseError);

  // A tree of objects each with one child.
  Bytes tree = header(80, 2, 1, 0) + Bytes(8, 0) + Bytes{1, 0, 0, 0};
  for (int i = 0; i < kMaxReadNesting + 5; ++i) {
    tree = tree + Bytes(8, 0) + Bytes(4, 0) + Bytes(4, 0) + Bytes(16, 0) + Bytes(4, 0) +
           Bytes{1, 0, 0, 0};
  }
  EXPECT_THROW(fed(tree)->receive(), error::EParseError);

  // Well within the limit.
  queues::EventPtr ev = std::make_unique<queues::devent_t<queues::SYS_EXIT>>(queues::QUEUE_MAIN);
  for (int i = 0; i < 40; ++i) {
    ev = std::make_unique<queues::devent_t<queues::SCHEDULE_EVENT_ABSOLUTE>>(
        queues::QUEUE_SCHD, i, scheduler::Schedule_Event_Absolute_Data{{}, std::move(ev)});
  }
  Loopback deep;
  deep.send(*ev);
  EXPECT_EQ(deep.receive()->toString(), ev->toString());
}

TEST(EventReading, BadEventsThrowWhenAskedTo) {
  Loopback loop;
  loop.reader().throwOnBadEventForTest(true);
  loop.feed(header(197, 0, 0, 0) + header(195, 0, 0, 0));
  loop.closeWriter();
  HX_EXPECT_THROW_TEXT(loop.receive(), error::EParseError,
                       "fdio >> event: unknown type index: 197 old was 0 dest 0");
  EXPECT_THROW(loop.receive(), error::EParseError);
}

// --- Framing errors between siblings are internal failures. ---

TEST(EventReadingDeathTest, BrokenFramingAborts) {
  Loopback loop;
  loop.send(queues::devent_t<queues::IMMEDIATE_STATE>(queues::QUEUE_DBMS, 1));
  loop.feed(header(196, 0, 0, 0));
  loop.closeWriter();
  loop.receive();
  EXPECT_DEATH(loop.receive(),
               "Assertion failed: fdio >> event: unknown type index: 196 old was 178 dest 2");
  EXPECT_DEATH(fed(header(0, 0, 0, 0))->receive(), "unknown type index: 0 old was 0 dest 0");
  EXPECT_DEATH(fed(header(-1, 0, 0, 0))->receive(), "unknown type index: -1 old");
  EXPECT_DEATH(fed(header(195, 0, 0, 0))->receive(),
               "Assertion failed: Found exevent with .exception == 0");
}

TEST(EventWritingDeathTest, UnknownTypeAborts) {
  queues::devent_t<queues::SYS_EXIT> ev(queues::QUEUE_MAIN);
  ev.type = queues::INVALID_TAIL;
  Loopback loop;
  EXPECT_DEATH(loop.send(ev), "Assertion failed: fdio << event: unknown type index: 196");
}

}  // namespace
}  // namespace queues
