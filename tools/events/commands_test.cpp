#include "events/commands.h"

#include <gtest/gtest.h>

#include <sstream>

#include "io/memory_stream.h"
#include "queues/devent.h"
#include "testkit/events.h"

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
  std::string errorOf(PrintFormat format = PrintFormat::text) {
    try {
      print(format);
    } catch (const EBadInput& e) {
      return e.text();
    }
    return "(no error)";
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
  EXPECT_EQ(errorOf(), "capture.bin: byte " + std::to_string(encode(checkin_).size()) +
                           " (event 2): input ends inside the event, after 10 of its bytes");
  EXPECT_EQ(out_.str(), checkin_.toString());
}

TEST_F(PrintEventsTest, UnknownTypeWordIsReportedNotFatal) {
  feed(checkin_);
  feed({0xc8, 0, 0, 0, 2, 0, 0, 0});
  EXPECT_EQ(errorOf(PrintFormat::json),
            "capture.bin: byte " + std::to_string(encode(checkin_).size()) +
                " (event 2): fdio >> event: unknown type index: 200 old was 180 dest 2 (read up "
                "to byte 40)");
  EXPECT_TRUE(out_.str().ends_with("\n]\n"));
}

TEST_F(PrintEventsTest, MalformedPayloadIsReported) {
  // A CHECKIN whose id claims five components.
  feed({180, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0});
  EXPECT_EQ(errorOf(),
            "capture.bin: byte 0 (event 1): small vector resize overflow 5 > 3 (read up to byte "
            "20)");
}

class EncodeEventsTest : public ::testing::Test {
 protected:
  std::string errorOf(const std::string& document) {
    try {
      encodeEvents(document, "in.json", streams_.out);
    } catch (const EBadInput& e) {
      return e.text();
    }
    return "(no error)";
  }
  io::MemoryStreamPair streams_;
};

TEST_F(EncodeEventsTest, OneEventWithoutAnArray) {
  EXPECT_EQ(encodeEvents(R"({"type": "SYS_EXIT", "dest": "alrm"})", "in.json", streams_.out), 1u);
  EXPECT_EQ(streams_.pipe.unread(), 20u);
}

TEST_F(EncodeEventsTest, SyntaxErrorGivesLineAndColumn) {
  EXPECT_EQ(errorOf("[\n  {\"type\": \"SYS_EXIT\",}\n]"),
            "in.json: parse error at line 2, column 23: syntax error while parsing object key - "
            "unexpected '}'; expected string literal");
}

TEST_F(EncodeEventsTest, BadEventWritesNothingAndNamesItsPlace) {
  EXPECT_EQ(errorOf(R"([{"type": "SYS_EXIT", "dest": "alrm"},
                       {"type": "SYS_EXIT", "dest": "alrm", "data": {"code": true}}])"),
            "in.json: /1/data/code: expected an integer from -2147483648 to 2147483647, found "
            "true");
  EXPECT_EQ(streams_.pipe.unread(), 0u);
}

}  // namespace
}  // namespace events
