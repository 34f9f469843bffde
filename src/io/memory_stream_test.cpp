#include "io/memory_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "io/exceptions.h"
#include "testkit/matcher.h"

namespace io {
namespace {

// Writes `text` through as many write areas as it takes.
void write(OStream& out, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    std::uint8_t* data = nullptr;
    const std::size_t room = out.writeBegin(data);
    ASSERT_GT(room, 0u);
    const std::size_t n = std::min(room, text.size() - done);
    std::memcpy(data, text.data() + done, n);
    out.writeCommit(n);
    done += n;
  }
}

// Reads what is there now, one readBegin at a time; records each piece size.
std::string readAvailable(IStream& in, std::vector<std::size_t>* pieces = nullptr) {
  std::string got;
  const std::uint8_t* data = nullptr;
  while (std::size_t n = in.readBegin(data)) {
    got.append(reinterpret_cast<const char*>(data), n);
    if (pieces != nullptr) pieces->push_back(n);
    in.readCommit(n);
  }
  return got;
}

TEST(MemoryStream, BytesArriveOnFlushThroughSmallAreas) {
  MemoryStreamPair s(3, 4);
  write(s.out, "abcdefgh");
  // Two full areas went out when the writer asked for more room.
  EXPECT_EQ(s.pipe.unread(), 6u);
  EXPECT_FALSE(s.out.isReady());
  EXPECT_TRUE(s.out.flush());
  std::vector<std::size_t> pieces;
  EXPECT_EQ(readAvailable(s.in, &pieces), "abcdefgh");
  EXPECT_EQ(pieces, (std::vector<std::size_t>{4, 4}));
  EXPECT_FALSE(s.in.isReady());
}

TEST(MemoryStream, PartialCommitsAndLateWritesKeepEarlierPointersValid) {
  MemoryStreamPair s(16, 5);
  write(s.out, "0123456789");
  ASSERT_TRUE(s.out.flush());
  const std::uint8_t* data = nullptr;
  ASSERT_EQ(s.in.readBegin(data), 5u);
  write(s.out, "abcdefghijklmnop");  // a new piece behind the one being read
  ASSERT_TRUE(s.out.flush());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 5), "01234");
  s.in.readCommit(2);
  ASSERT_EQ(s.in.readBegin(data), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 5), "23456");
  s.in.readCommit(5);
  EXPECT_EQ(readAvailable(s.in), "789abcdefghijklmnop");
}

TEST(MemoryStream, EndOfStreamOnlyAfterTheLastByte) {
  MemoryStreamPair s;
  write(s.out, "xy");
  s.out.close();  // flushes
  EXPECT_TRUE(s.in.isReady());
  const std::uint8_t* data = nullptr;
  ASSERT_EQ(s.in.readBegin(data), 2u);
  s.in.readCommit(2);
  HX_EXPECT_THROW_TEXT(s.in.readBegin(data), EEndOfStream, "EOS from MemoryIStream(memory)");
}

TEST(MemoryStreamDeathTest, MisuseAborts) {
  MemoryStreamPair s;
  const std::uint8_t* data = nullptr;
  write(s.out, "abc");
  ASSERT_TRUE(s.out.flush());
  EXPECT_EQ(s.in.readBegin(data), 3u);
  EXPECT_DEATH(s.in.readCommit(4),
               "Assertion failed: Overcommit in MemoryIStream\\(memory\\) 4 is 1 bytes");
  s.in.close();
  EXPECT_DEATH(s.in.close(), "Assertion failed: Double close on MemoryIStream\\(memory\\)");
}

}  // namespace
}  // namespace io
