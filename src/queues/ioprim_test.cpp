#include "queues/ioprim.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "io/exceptions.h"
#include "queues/codec.h"
#include "queues/devent.h"
#include "testkit/events.h"

namespace queues {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Hands out write areas of a fixed size and records every commit.
class RecordingOStream : public io::OStream {
 public:
  explicit RecordingOStream(std::size_t area_size) : area_(area_size) {}
  std::string name() const override { return "recording"; }
  bool isReady() override { return true; }
  std::size_t writeBegin(std::uint8_t*& data) override {
    data = area_.data();
    return area_.size();
  }
  void writeCommit(std::size_t n) override {
    commits.emplace_back(area_.begin(), area_.begin() + static_cast<std::ptrdiff_t>(n));
  }
  bool flush() override { return true; }
  void close() override {}

  std::vector<Bytes> commits;

 private:
  Bytes area_;
};

// Shows the given areas one after the other and records every commit. Like
// a stream from a sibling, an area arrives only while the reader waits (the
// selector's poll), and asking before it has arrived throws ENotReady.
class ScriptedIStream : public io::IStream {
 public:
  explicit ScriptedIStream(std::deque<Bytes> areas) : areas_(std::move(areas)) {}
  std::string name() const override { return "scripted"; }
  bool isReady() override { return arrived_ || areas_.empty(); }
  // An area on its way is worth a look at once.
  bool deadline(htime::usec_time& when) const override {
    when = htime::usec_time();
    return !arrived_ && !areas_.empty();
  }
  void poll() override { arrived_ = true; }
  std::size_t readBegin(const std::uint8_t*& data) override {
    if (!isReady()) throw io::ENotReady(name());
    if (areas_.empty()) throw io::EEndOfStream(name());
    data = areas_.front().data() + offset_;
    return areas_.front().size() - offset_;
  }
  void readCommit(std::size_t n) override {
    commits.push_back(n);
    offset_ += n;
    if (offset_ == areas_.front().size()) {
      areas_.pop_front();
      offset_ = 0;
      arrived_ = false;
    }
  }
  void close() override {}

  std::vector<std::size_t> commits;

 private:
  std::deque<Bytes> areas_;
  std::size_t offset_ = 0;
  bool arrived_ = false;
};

template <class T>
Bytes bytesOf(const T& value) {
  testkit::Loopback loop;
  queues::write(loop.writer(), value);
  loop.writer().flush();
  return loop.drain();
}

template <class T>
T readBack(const Bytes& bytes) {
  testkit::Loopback loop;
  loop.feed(bytes);
  T value{};
  queues::read(loop.reader(), value);
  EXPECT_EQ(loop.unread(), 0u) << "bytes left over";
  return value;
}

TEST(PrimitiveEncoding, FixedWidthLittleEndianAndCountedContainers) {
  EXPECT_EQ(bytesOf(std::uint32_t{0x04030201}), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(bytesOf(std::int32_t{-2}), (Bytes{0xfe, 0xff, 0xff, 0xff}));
  EXPECT_EQ(bytesOf(std::int64_t{0x0102030405060708}), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(bytesOf(std::uint16_t{0x0102}), (Bytes{2, 1, 0, 0}));
  EXPECT_EQ(bytesOf(1.0), (Bytes{0, 0, 0, 0, 0, 0, 0xf0, 0x3f}));
  EXPECT_EQ(bytesOf(queues::QUEUE_NONE), (Bytes{0xff, 0xff, 0xff, 0xff}));
  EXPECT_EQ(bytesOf(true), (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(bytesOf(htime::usec_time(5, 7)), (Bytes{5, 0, 0, 0, 7, 0, 0, 0}));
  // Strings: an eight-byte length and no terminator.
  EXPECT_EQ(bytesOf(std::string("abc")), (Bytes{3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'}));
  EXPECT_EQ(bytesOf(tql::id_t{1, 2}), (Bytes{2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(bytesOf(std::set<std::uint32_t>{9, 1}), (Bytes{2, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0}));
  EXPECT_EQ(bytesOf(std::map<std::uint32_t, bool>{{2, true}}),
            (Bytes{1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0}));
  const std::list<std::pair<std::int32_t, std::string>> details = {{7, "x"}};
  EXPECT_EQ(bytesOf(details), (Bytes{1, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 'x'}));
}

TEST(PrimitiveEncoding, ReadingAcceptsWhatAPeerMaySend) {
  EXPECT_TRUE(readBack<bool>({0, 2, 0, 0}));  // any non-zero word
  EXPECT_FALSE(readBack<bool>({0, 0, 0, 0}));
  EXPECT_EQ(readBack<std::string>({3, 0, 0, 0, 0, 0, 0, 0, 'a', 0, 'c'}), std::string("a\0c", 3));
  EXPECT_EQ(readBack<tql::id_t>({3, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0}),
            (tql::id_t{0, 1, 9}));
}

TEST(WriteAreas, PrimitivesAreNeverSplit) {
  RecordingOStream out(6);
  ioprim io(nullptr, &out);
  io.put<std::uint32_t>(1);
  io.put<std::uint32_t>(2);  // 2 bytes left: commits 4, takes a new area
  io.put<std::uint16_t>(3);
  io.flush();
  ASSERT_EQ(out.commits.size(), 2u);
  EXPECT_EQ(out.commits[0], (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(out.commits[1], (Bytes{2, 0, 0, 0, 3, 0}));
}

TEST(WriteAreas, StringBytesFillEveryArea) {
  RecordingOStream out(10);
  ioprim io(nullptr, &out);
  const std::string text = "abcdefghijklmnop";
  io.putString(text.data(), text.size());
  io.flush();
  ASSERT_EQ(out.commits.size(), 3u);
  EXPECT_EQ(out.commits[0], (Bytes{16, 0, 0, 0, 0, 0, 0, 0, 'a', 'b'}));
  EXPECT_EQ(out.commits[1], (Bytes{'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l'}));
  EXPECT_EQ(out.commits[2], (Bytes{'m', 'n', 'o', 'p'}));
}

TEST(WriteAreasDeathTest, AreaTooSmallForAPrimitiveAborts) {
  RecordingOStream out(3);
  ioprim io(nullptr, &out);
  EXPECT_DEATH(io.put<std::uint32_t>(1),
               "Assertion failed: New write area of size 3 too small for primitive write");
}

TEST(ReadAreas, PrimitivesMaySpanAreas) {
  ScriptedIStream in({{1, 2}, {3}, {4, 5, 6, 7, 8}, {9, 10}});
  ioprim io(&in, nullptr);
  EXPECT_EQ(io.get<std::uint32_t>(), 0x04030201u);
  EXPECT_EQ(io.get<std::uint32_t>(), 0x08070605u);
  EXPECT_EQ(io.get<std::uint16_t>(), 0x0a09);
  EXPECT_EQ(in.commits, (std::vector<std::size_t>{2, 1, 5, 2}));
}

TEST(ReadAreas, AnEventSplitAcrossDeliveriesIsReadWhole) {
  const devent_t<IMMEDIATE_STATE> sent(QUEUE_ALRM, 7, {{2, 5}, 3});
  testkit::Loopback loop;
  loop.writer().writeEvent(sent);
  loop.writer().flush();
  const Bytes bytes = loop.drain();
  const auto middle = bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2);
  ScriptedIStream in({Bytes(bytes.begin(), middle), Bytes(middle, bytes.end())});
  ioprim io(&in, nullptr);
  EXPECT_EQ(io.readEvent()->toString(), sent.toString());
  EXPECT_THROW(io.readEvent(), io::EEndOfStream);
}

TEST(ReadAreas, AnAreaReadToItsEndIsCommittedAtOnce) {
  ScriptedIStream in({{1, 0, 0, 0, 2, 0, 0, 0}, {3, 0, 0, 0}});
  ioprim io(&in, nullptr);
  io.get<std::uint32_t>();
  EXPECT_TRUE(in.commits.empty());  // half read: held
  io.get<std::uint32_t>();
  EXPECT_EQ(in.commits, (std::vector<std::size_t>{8}));  // before anything else is asked for
}

TEST(ReadAreas, StringsGrowOnlyByWhatArrives) {
  // A length of 2^62 followed by three bytes: the reader fails at the end of
  // the input instead of trying to make room for the declared length.
  ScriptedIStream in({{0, 0, 0, 0, 0, 0, 0, 0x40, 'a', 'b', 'c'}});
  ioprim io(&in, nullptr);
  std::string text;
  EXPECT_THROW(io.getString(text), io::EEndOfStream);
  EXPECT_EQ(text, "abc");
}

}  // namespace
}  // namespace queues
