// An object's flat property store reads, writes and prints exactly as an
// ordered map of properties: the same bytes in give the same contents, the
// same bytes out and the same text.
#include "queues/tql_values.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "io/memory_stream.h"

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
    for (const auto& [number, p] : flat) got[number] = static_cast<tql::property_int_t&>(*p).value;
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(written([&](ioprim& io) { queues::write(io, flat); }),
              written([&](ioprim& io) { queues::write(io, tree); }));
    EXPECT_EQ(text(flat), text(tree));
  }
}

}  // namespace
}  // namespace queues
