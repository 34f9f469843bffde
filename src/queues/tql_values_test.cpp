// An object's flat property store, its compact tags and its sparse origin
// read, write and print exactly as the ordered map, the set and the record
// they stand for: the same bytes in give the same contents, the same bytes
// out and the same text.
#include "queues/tql_values.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "error/exception.h"
#include "io/memory_stream.h"
#include "testkit/matcher.h"

namespace queues {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes written(const std::function<void(ioprim&)>& write) {
  io::MemoryStreamPair streams;
  ioprim io(nullptr, &streams.out);
  write(io);
  io.flush();
  Bytes bytes;
  while (streams.pipe.unread() > 0) {
    const std::uint8_t* data = nullptr;
    const std::size_t n = streams.in.readBegin(data);
    bytes.insert(bytes.end(), data, data + n);
    streams.in.readCommit(n);
  }
  return bytes;
}

template <class T>
T readFrom(const Bytes& bytes) {
  io::MemoryPipe pipe;
  pipe.deliver(bytes.data(), bytes.size());
  pipe.closeWriter();
  io::MemoryIStream in(pipe);
  ioprim io(&in, nullptr);
  T value;
  queues::read(io, value);
  EXPECT_EQ(pipe.unread(), 0u);
  return value;
}

template <class T>
std::string text(const T& value) {
  std::ostringstream out;
  queues::print(out, value, 1);
  return out.str();
}

struct Entry {
  std::uint32_t number;
  std::uint32_t code;  // 19 (int) with `value`; any other code reads as no property
  std::int32_t value;
};

TEST(PropertyMapForm, ReadsWritesAndPrintsAsAnOrderedMap) {
  constexpr std::uint32_t kInt = tql::property_int_t::kTypeCode;
  const struct {
    const char* name;
    std::vector<Entry> entries;
    std::map<std::uint32_t, std::int32_t> expected;
  } cases[] = {
      {"none", {}, {}},
      {"out of order",
       {{40, kInt, 3}, {8, kInt, 2}, {50, kInt, 5}, {3, kInt, 1}, {9, kInt, 4}},
       {{3, 1}, {8, 2}, {9, 4}, {40, 3}, {50, 5}}},
      {"a repeated number keeps the later value",
       {{8, kInt, 1}, {3, kInt, 2}, {8, kInt, 7}},
       {{3, 2}, {8, 7}}},
      {"an unknown type code is dropped, also over an earlier value",
       {{8, kInt, 1}, {5, 99, 0}, {8, 0, 0}, {2, 200, 0}},
       {{8, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes bytes = written([&c](ioprim& io) {
      io.put<std::uint32_t>(static_cast<std::uint32_t>(c.entries.size()));
      for (const Entry& e : c.entries) {
        io.put<std::uint32_t>(e.number);
        io.put<std::uint32_t>(e.code);
        if (e.code != kInt) continue;
        for (std::uint32_t field : {e.number, 0u, 0u}) io.put<std::uint32_t>(field);  // null, aux
        io.put<std::int32_t>(e.value);
      }
    });
    const auto flat = readFrom<tql::PropertyMap>(bytes);
    const auto tree = readFrom<std::map<std::uint32_t, tql::property_ptr>>(bytes);
    std::map<std::uint32_t, std::int32_t> got;
    for (const auto& p : flat) got[p->property] = static_cast<tql::property_int_t&>(*p).value;
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(written([&](ioprim& io) { queues::write(io, flat); }),
              written([&](ioprim& io) { queues::write(io, tree); }));
    EXPECT_EQ(text(flat), text(tree));
  }
}

// In memory the number and the null flag share a word; on the wire each has
// its own. Numbers at both ends of their range come back with their flag,
// and write the same bytes again.
TEST(PropertyForm, NumberNullAndAuxSurviveARoundTripAtTheEndsOfTheRange) {
  constexpr std::uint32_t kEnum = tql::property_enum_t::kTypeCode;
  for (const std::uint32_t number :
       {0u, 1u, tql::kMaxPropertyNumber - 1, tql::kMaxPropertyNumber}) {
    for (const std::uint32_t isNull : {0u, 1u}) {
      SCOPED_TRACE(std::to_string(number) + (isNull != 0 ? " null" : ""));
      const Bytes bytes = written([&](ioprim& io) {
        for (std::uint32_t field : {kEnum, number, isNull, 0xffffffffu, 0xffffffffu, 7u}) {
          io.put<std::uint32_t>(field);
        }
      });
      const auto p = readFrom<tql::property_ptr>(bytes);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(p->property, number);
      EXPECT_EQ(p->isNull, isNull != 0);
      EXPECT_EQ(p->aux, 0xffffffffu);
      EXPECT_EQ(static_cast<const tql::property_enum_t&>(*p).enumType, 0xffffffffu);
      EXPECT_EQ(written([&](ioprim& io) { queues::write(io, p); }), bytes);
    }
  }
}

// A number that does not fit beside the null flag, or a map entry whose key
// names another property than the value it holds, cannot be kept as sent:
// reading either fails with a parse error that says so.
TEST(PropertyForm, NumbersThatCannotBeKeptAreRejected) {
  constexpr std::uint32_t kInt = tql::property_int_t::kTypeCode;
  for (const std::uint32_t number : {tql::kMaxPropertyNumber + 1, 0xffffffffu}) {
    const Bytes bytes = written([&](ioprim& io) {
      for (std::uint32_t field : {kInt, number, 0u, 0u, 5u}) io.put<std::uint32_t>(field);
    });
    HX_EXPECT_THROW_TEXT(
        readFrom<tql::property_ptr>(bytes), error::EParseError,
        "Property number " + std::to_string(number) + " out of range (at most 2147483647)");
  }
  const Bytes mismatch = written([&](ioprim& io) {
    for (std::uint32_t field : {1u, 8u, kInt, 9u, 0u, 0u, 5u}) io.put<std::uint32_t>(field);
  });
  HX_EXPECT_THROW_TEXT(readFrom<tql::PropertyMap>(mismatch), error::EParseError,
                       "Property map entry 8 holds property 9");
}

// Tags read, write and print as a set of numbers: sorted, without repeats.
TEST(TagSetForm, ReadsWritesAndPrintsAsASet) {
  const std::vector<std::vector<std::uint32_t>> cases = {
      {}, {5}, {1, 9, 40}, {40, 9, 1, 9, 0xFFFFFFFFu, 1}};
  for (const auto& tags : cases) {
    SCOPED_TRACE(::testing::PrintToString(tags));
    const Bytes bytes = written([&tags](ioprim& io) {
      io.put<std::uint32_t>(static_cast<std::uint32_t>(tags.size()));
      for (std::uint32_t tag : tags) io.put<std::uint32_t>(tag);
    });
    const auto compact = readFrom<tql::TagSet>(bytes);
    const auto model = readFrom<std::set<std::uint32_t>>(bytes);
    EXPECT_EQ(std::vector<std::uint32_t>(compact.begin(), compact.end()),
              std::vector<std::uint32_t>(model.begin(), model.end()));
    EXPECT_EQ(written([&](ioprim& io) { queues::write(io, compact); }),
              written([&](ioprim& io) { queues::write(io, model); }));
    EXPECT_EQ(text(compact), text(model));
  }
}

// The byte form of a whole object with tags and an origin, field by field.
TEST(ObjectForm, TagsAndOriginTakeTheirPlaces) {
  tql::object_t object;
  object.class_ = 3;
  object.tags = {9, 2};
  object.origin = tql::origin_t{tql::id_t{1}, tql::id_t{}, 6};
  const Bytes bytes = written([&](ioprim& io) { queues::write(io, object); });
  const Bytes expected = {
      3, 0, 0, 0, 0, 0, 0, 0,                           // class_, flags
      2, 0, 0, 0, 2, 0, 0, 0, 9, 0, 0, 0,               // tags
      0, 0, 0, 0,                                       // id
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // version
      0, 0, 0, 0, 0, 0, 0, 0,                           // properties, children
      1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0};  // origin: 1, empty id, 6
  EXPECT_EQ(bytes, expected);
  const auto back = readFrom<tql::object_t>(bytes);
  EXPECT_EQ(back.tags, object.tags);
  EXPECT_EQ(back.origin, object.origin);
  EXPECT_EQ(text(back), text(object));
  EXPECT_NE(
      text(back).find("    origin: {\n      first: 1\n      second: \n      word: 6\n    }\n"),
      std::string::npos)
      << text(back);

  // An all-zero origin reads as nothing held.
  Bytes zero(expected.begin(), expected.end() - 16);  // then two empty ids and 0
  zero.resize(zero.size() + 12, 0);
  EXPECT_TRUE(readFrom<tql::object_t>(zero).origin.isDefault());
}

}  // namespace
}  // namespace queues
