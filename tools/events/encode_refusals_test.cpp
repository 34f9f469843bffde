// What `encode` refuses although every member it reads is well formed: input
// it could not write, or that the event reader would not read back. Each is
// refused with its place in the document and nothing is written.
#include <gtest/gtest.h>

#include <string>

#include "events/commands.h"
#include "io/memory_stream.h"

namespace events {
namespace {

std::string refusal(const std::string& document) {
  io::MemoryStreamPair streams;
  try {
    encodeEvents(document, "in.json", streams.out);
  } catch (const EBadInput& e) {
    EXPECT_EQ(streams.pipe.unread(), 0u) << "wrote part of a refused document";
    return e.text();
  }
  return "(not refused)";
}

// {"class_": "Check", "id": "0.1.0", "children": [{... depth levels ...}]}
std::string chain(int depth) {
  std::string open, close;
  for (int i = 0; i < depth; ++i) {
    open += R"({"class_": "Check", "id": "0.1.)" + std::to_string(i) + R"(", "children": [)";
    close += "]}";
  }
  return open + R"({"class_": "Check", "id": "0.2"})" + close;
}

TEST(EncodeRefusals, OwnedNodesAndNestedEventsMustBeGiven) {
  EXPECT_EQ(refusal(R"([{"type": "SYS_EXIT", "dest": "alrm"},
                       {"type": "RETURN_TQL_SELECT_PATCH", "dest": "alrm", "data": {"id": "0.1"}}])"),
            R"(in.json: /1/data: needs "patch" (an object with its subtree))");
  EXPECT_EQ(refusal(R"({"type": "RETURN_TQL_SELECT_PATCH", "dest": "alrm"})"),
            R"(in.json: /data: needs "patch" (an object with its subtree))");
  EXPECT_EQ(refusal(R"({"type": "SCHEDULE_EVENT_RELATIVE", "dest": "schd", "data": {}})"),
            R"(in.json: /data: needs "ev" (a nested event))");
}

TEST(EncodeRefusals, NestingIsBoundedLikeTheReader) {
  const std::string patch = R"({"type": "RETURN_TQL_SELECT_PATCH", "dest": "alrm", "data": )"
                            R"({"id": "0.1", "patch": )";
  EXPECT_EQ(refusal(patch + chain(60) + "}}"), "(not refused)");
  EXPECT_EQ(refusal(patch + chain(150) + "}}"),
            "in.json: (top): the event reader would refuse this event: Event data nested deeper "
            "than 100 levels");
  // JSON far deeper than any event: refused before it is walked, without
  // running out of stack.
  const std::string deep = R"({"type": "SYS_EXIT", "dest": "alrm", "data": )" +
                           std::string(200000, '[') + std::string(200000, ']') + "}";
  EXPECT_EQ(refusal(deep).substr(0, 18), "in.json: /data/0/0");
  EXPECT_NE(refusal(deep).find(": nested deeper than 800 levels"), std::string::npos);
}

}  // namespace
}  // namespace events
