#include "io/fd_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "io/exceptions.h"
#include "io/selector.h"
#include "os/fd.h"
#include "testkit/matcher.h"

namespace io {
namespace {

// Streams over a real pipe. The pipe's own buffer is one page, so a test can
// fill it without writing much.
class FdStreamTest : public ::testing::Test {
 protected:
  FdStreamTest() {
    ends_ = os::makePipe();
    pipe_size_ = static_cast<std::size_t>(os::setPipeBufferSize(ends_.writeEnd, 4096));
  }
  ~FdStreamTest() override {
    if (!in_) os::closeFdQuietly(ends_.readEnd);
    if (!out_) os::closeFdQuietly(ends_.writeEnd);
  }
  void openIn(std::size_t buffer) {
    in_ = std::make_unique<FdIStream>(ends_.readEnd, "pipe", FdOwnership::take, buffer);
  }
  void openOut(std::size_t buffer) {
    out_ = std::make_unique<FdOStream>(ends_.writeEnd, "pipe", FdOwnership::take, buffer);
  }
  // Writes through the stream's buffer; returns how much it took.
  std::size_t write(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      std::uint8_t* data = nullptr;
      const std::size_t room = out_->writeBegin(data);
      if (room == 0) break;
      const std::size_t n = std::min(room, text.size() - done);
      std::memcpy(data, text.data() + done, n);
      out_->writeCommit(n);
      done += n;
    }
    return done;
  }
  // Reads everything there is now; records the size of each piece.
  std::string read(std::vector<std::size_t>* pieces = nullptr) {
    std::string got;
    const std::uint8_t* data = nullptr;
    while (std::size_t n = in_->readBegin(data)) {
      got.append(reinterpret_cast<const char*>(data), n);
      if (pieces != nullptr) pieces->push_back(n);
      in_->readCommit(n);
    }
    return got;
  }

  os::PipeEnds ends_;
  std::size_t pipe_size_ = 0;
  std::unique_ptr<FdIStream> in_;
  std::unique_ptr<FdOStream> out_;
};

std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
  return s;
}

TEST_F(FdStreamTest, WritesLargerThanTheBufferArriveInBufferSizedReads) {
  openIn(10);
  openOut(16);
  const std::string text = pattern(100);
  EXPECT_EQ(write(text), 100u);
  EXPECT_TRUE(out_->flush());
  EXPECT_TRUE(out_->isReady());
  std::vector<std::size_t> pieces;
  EXPECT_EQ(read(&pieces), text);
  EXPECT_EQ(pieces, std::vector<std::size_t>(10, 10));
  EXPECT_FALSE(in_->isReady());
}

TEST_F(FdStreamTest, PartialCommitsAndEndOfStreamAfterTheBufferedBytes) {
  openIn(64);
  openOut(64);
  write("hello");
  out_->close();  // flushes
  in_->poll();
  EXPECT_TRUE(in_->isReady());
  const std::uint8_t* data = nullptr;
  ASSERT_EQ(in_->readBegin(data), 5u);
  in_->readCommit(2);
  ASSERT_EQ(in_->readBegin(data), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 3), "llo");
  in_->readCommit(3);
  HX_EXPECT_THROW_TEXT(in_->readBegin(data), EEndOfStream, "EOS from FdIStream(pipe)");
  EXPECT_TRUE(in_->isReady());
}

TEST_F(FdStreamTest, AFullPipeHoldsBytesUntilTheSelectorSeesRoom) {
  openIn(pipe_size_);
  openOut(2 * pipe_size_);
  const std::string text = pattern(2 * pipe_size_);
  EXPECT_EQ(write(text), text.size());
  out_->poll();  // fills the pipe, half stays buffered
  EXPECT_FALSE(out_->isReady());
  std::uint8_t* space = nullptr;
  EXPECT_EQ(out_->writeBegin(space), 0u);
  std::string got = read();
  EXPECT_EQ(got.size(), pipe_size_);
  Selector<int> selector;
  selector.add(out_.get(), 1);
  EXPECT_EQ(selector.select().second, 1);  // the wait saw room, the rest went out
  got += read();
  EXPECT_EQ(got, text);
}

TEST_F(FdStreamTest, SelectorWakesForArrivingBytes) {
  openIn(64);
  openOut(64);
  Selector<int> selector;
  selector.add(in_.get(), 7);
  HX_EXPECT_THROW_TEXT(selector.select(true), ENotReady, "Selectable <unknown> not ready");
  write("x");
  EXPECT_TRUE(out_->flush());
  EXPECT_EQ(selector.select().second, 7);
  EXPECT_EQ(read(), "x");
  out_->close();
  in_->waitReady();  // end of stream counts as ready
  const std::uint8_t* data = nullptr;
  EXPECT_THROW((void)in_->readBegin(data), EEndOfStream);
}

TEST_F(FdStreamTest, WritingWithoutAReaderFailsAtTheNextCall) {
  openOut(64);
  os::closeFd(ends_.readEnd);
  in_ = nullptr;
  ends_.readEnd = -1;
  write("lost");
  HX_EXPECT_THROW_TEXT(out_->flush(), error::ESystemError, "FdOStream(pipe) write: Broken pipe");
  std::uint8_t* data = nullptr;
  EXPECT_THROW((void)out_->writeBegin(data), error::ESystemError);
  EXPECT_TRUE(out_->isReady());
  HX_EXPECT_THROW_TEXT(out_->close(), error::ESystemError, "FdOStream(pipe) write: Broken pipe");
}

TEST_F(FdStreamTest, AReadErrorIsKeptForTheNextReadBegin) {
  // Reading from a pipe's write end fails.
  in_ = std::make_unique<FdIStream>(ends_.writeEnd, "wrong", FdOwnership::take, 64);
  ends_.writeEnd = -1;
  in_->poll();
  EXPECT_TRUE(in_->isReady());
  const std::uint8_t* data = nullptr;
  HX_EXPECT_THROW_TEXT(in_->readBegin(data), error::ESystemError,
                       "Error in FdIStream(wrong): Bad file descriptor");
  EXPECT_THROW(in_->close(), error::ESystemError);
  in_ = nullptr;
}

// A borrowed pipe may be shared with other processes (standard error with
// 2>&1): its flags are never touched, and it stays open.
TEST_F(FdStreamTest, BorrowedDescriptorsStayOpenWithTheirFlags) {
  out_ = std::make_unique<FdOStream>(ends_.writeEnd, "borrowed", FdOwnership::borrow, 64);
  EXPECT_FALSE(os::isNonblocking(ends_.writeEnd));
  write("abc");
  out_->close();
  EXPECT_FALSE(os::isNonblocking(ends_.writeEnd));
  out_ = nullptr;  // the fixture closes the descriptor
  openIn(64);
  EXPECT_EQ(read(), "abc");
}

using FdStreamDeathTest = FdStreamTest;

TEST_F(FdStreamDeathTest, DoubleCloseAndOvercommitAbort) {
  openIn(8);
  openOut(8);
  std::uint8_t* space = nullptr;
  ASSERT_EQ(out_->writeBegin(space), 8u);
  EXPECT_DEATH(out_->writeCommit(9),
               "Assertion failed: Overcommit in FdOStream\\(pipe\\) 9 is 1 bytes past end of "
               "buffer");
  in_->close();
  EXPECT_DEATH(in_->close(), "Assertion failed: Double close on FdIStream\\(pipe\\)");
}

}  // namespace
}  // namespace io
