#include "events/commands.h"

#include <gtest/gtest.h>

#include <sstream>

#include "io/memory_stream.h"
#include "queues/devent.h"
#include "testkit/events.h"
#include "testkit/matcher.h"

namespace events {
namespace {

using testkit::encode;

class PrintEventsTest : public ::testing::Test {
 protected:
  void feed(const std::vector<std::uint8_t>& bytes) { pipe_.deliver(bytes.data(), bytes.size()); }
  void feed(const queues::event& ev) { feed(encode(ev)); }
  std::size_t print(PrintFormat format = PrintFormat::text) {
    pipe_.closeWriter();
    io::MemoryIStream in(pipe_, 5);  // small areas: values straddle them
    return printEvents(in, "capture.bin", out_, format);
  }

  io::MemoryPipe pipe_;
  std::ostringstream out_;
  queues::devent_t<queues::CHECKIN> checkin_{queues::QUEUE_DBMS, 0, {{1, 4}, 1700000000}};
  queues::devent_t<queues::SYS_EXIT> exit_{queues::QUEUE_MAIN, 3, {0}};
};

TEST_F(PrintEventsTest, JsonOutputIsAnArrayThatEncodesBackToTheSameBytes) {
  feed(checkin_);
  feed(exit_);
  print(PrintFormat::json);
  io::MemoryStreamPair again;
  EXPECT_EQ(encodeEvents(out_.str(), "printed", again.out), 2u);
  std::vector<std::uint8_t> expected = encode(checkin_);
  const std::vector<std::uint8_t> second = encode(exit_);
  expected.insert(expected.end(), second.begin(), second.end());
  std::vector<std::uint8_t> bytes;
  while (again.pipe.unread() > 0) {
    const std::uint8_t* data = nullptr;
    const std::size_t n = again.in.readBegin(data);
    bytes.insert(bytes.end(), data, data + n);
    again.in.readCommit(n);
  }
  EXPECT_EQ(bytes, expected);
}

// --- Bad input: the events before it are printed, the error says where. ---

TEST_F(PrintEventsTest, InputEndingInsideAnEventGivesItsOffset) {
  feed(checkin_);
  std::vector<std::uint8_t> cut = encode(exit_);
  cut.resize(10);
  feed(cut);
  HX_EXPECT_THROW_TEXT(print(), EBadInput,
                       "capture.bin: byte " + std::to_string(encode(checkin_).size()) +
                           " (event 2): input ends inside the event, after 10 of its bytes");
  EXPECT_EQ(out_.str(), checkin_.toString());
}

TEST_F(PrintEventsTest, UnknownTypeWordIsReportedNotFatal) {
  feed(checkin_);
  feed({0xc8, 0, 0, 0, 2, 0, 0, 0});
  HX_EXPECT_THROW_TEXT(print(PrintFormat::json), EBadInput,
                       "capture.bin: byte " + std::to_string(encode(checkin_).size()) +
                           " (event 2): fdio >> event: unknown type index: 200 old was 180 dest "
                           "2 (read up to byte 40)");
  EXPECT_TRUE(out_.str().ends_with("\n]\n"));
}

TEST_F(PrintEventsTest, MalformedPayloadIsReported) {
  // A CHECKIN whose id claims five components.
  feed({180, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0});
  HX_EXPECT_THROW_TEXT(print(), EBadInput,
                       "capture.bin: byte 0 (event 1): small vector resize overflow 5 > 3 (read "
                       "up to byte 20)");
}

TEST(EncodeEvents, OneEventNeedsNoArrayAndSyntaxErrorsGiveLineAndColumn) {
  io::MemoryStreamPair streams;
  EXPECT_EQ(encodeEvents(R"({"type": "SYS_EXIT", "dest": "alrm"})", "in.json", streams.out), 1u);
  EXPECT_EQ(streams.pipe.unread(), 20u);
  HX_EXPECT_THROW_TEXT(encodeEvents("[\n  {\"type\": \"SYS_EXIT\",}\n]", "in.json", streams.out),
                       EBadInput,
                       "in.json: parse error at line 2, column 23: syntax error while parsing "
                       "object key - unexpected '}'; expected string literal");
}

}  // namespace
}  // namespace events
