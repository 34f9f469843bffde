#include "io/pipe_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "error/exception.h"
#include "io/exceptions.h"
#include "io/selector.h"
#include "os/fd.h"
#include "os/poll.h"
#include "os/process_info.h"
#include "testkit/matcher.h"

namespace io {
namespace {

// A real pipe with a one-page kernel buffer, so that a test can fill it.
struct Pipe {
  Pipe() {
    const os::PipeEnds ends = os::makePipe();
    readEnd.reset(ends.readEnd);
    writeEnd.reset(ends.writeEnd);
    size = static_cast<std::size_t>(os::setPipeBufferSize(ends.writeEnd, 4096));
    os::setNonblocking(ends.readEnd, true);
  }
  // Everything the pipe holds now, read past the streams.
  std::string drain() const {
    std::string got;
    std::uint8_t buffer[8192];
    for (;;) {
      const os::IoResult r = os::readSome(readEnd.get(), buffer, sizeof buffer);
      if (r.bytes == 0) return got;
      got.append(reinterpret_cast<const char*>(buffer), r.bytes);
    }
  }
  void put(const std::string& text) const {
    const os::IoResult r = os::writeSome(
        writeEnd.get(), reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    ASSERT_EQ(r.bytes, text.size());
  }
  os::OwnedFd readEnd, writeEnd;
  std::size_t size = 0;
};

// Bytes 0, 1, 2, ... from `from` on, as text: a mix-up of order shows.
std::string pattern(std::size_t from, std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((from + i) * 7 % 251);
  return s;
}

// Commits `text` through writeBegin/writeCommit; returns what was taken.
std::size_t commit(PipeOStream& out, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    std::uint8_t* data = nullptr;
    const std::size_t room = out.writeBegin(data);
    if (room == 0) break;
    const std::size_t n = std::min(room, text.size() - done);
    std::memcpy(data, text.data() + done, n);
    out.writeCommit(n);
    done += n;
  }
  return done;
}

TEST(PipeIStreamTest, MessagesAreReadInOrderAndBufferedBytesBeforeEndOfStream) {
  Pipe pipe;
  PipeIStream in("input");
  const std::uint8_t* data = nullptr;
  EXPECT_EQ(in.readBegin(data), 0u);  // no pipe yet: nothing, no error
  in.setHandle(std::move(pipe.readEnd));
  EXPECT_FALSE(in.isReady());
  EXPECT_EQ(in.handle().events, os::kReadable);

  const std::string sent = pattern(0, 24);
  pipe.put(sent);
  in.poll();
  ASSERT_TRUE(in.isReady());
  EXPECT_EQ(in.handle().events, 0);  // bytes wait to be read: no more reads
  std::string got;
  for (int message = 0; message < 3; ++message) {
    ASSERT_EQ(in.readBegin(data), 24u - 8u * static_cast<std::size_t>(message));
    got.append(reinterpret_cast<const char*>(data), 8);
    in.readCommit(8);
  }
  EXPECT_EQ(got, sent);
  EXPECT_EQ(in.readBegin(data), 0u);
  EXPECT_FALSE(in.isReady());

  // Bytes left when the writer goes come before the end of the stream.
  pipe.put("abcdefgh");
  pipe.writeEnd.reset();
  ASSERT_EQ(in.readBegin(data), 8u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 8), "abcdefgh");
  in.readCommit(8);
  HX_EXPECT_THROW_TEXT(in.readBegin(data), EEndOfStream, "EOS from PipeIStream(input)");
  EXPECT_TRUE(in.isReady());
}

TEST(PipeStreamDeathTest, MisuseEndsTheProcessWithItsText) {
  Pipe pipe;
  PipeIStream in("input");
  in.setHandle(std::move(pipe.readEnd));
  pipe.put("abc");
  const std::uint8_t* rdata = nullptr;
  ASSERT_EQ(in.readBegin(rdata), 3u);
  EXPECT_DEATH(in.readCommit(5),
               "Assertion failed: Overcommit in PipeIStream 5 is 2 bytes past end of buffer");

  PipeOStream out("sibling");
  std::uint8_t* wdata = nullptr;
  ASSERT_EQ(out.writeBegin(wdata), PipeOStream::kBufferSize);
  out.writeCommit(4000);  // the bound is the room left, not the buffer's size
  ASSERT_EQ(out.writeBegin(wdata), 96u);
  EXPECT_DEATH(out.writeCommit(97),
               "Assertion failed: Overcommit in PipeOStream 97 is 1 bytes past end of buffer");

  in.close();
  EXPECT_DEATH(in.close(), "Assertion failed: Double close on PipeIStream");
}

TEST(PipeOStreamTest, CommittedBytesAreHeldUntilPollThenWrittenAtOnce) {
  PipeOStream out("sibling");
  const std::string first = pattern(0, 8), second = pattern(8, 8), third = pattern(16, 8);
  // Committed before the pipe opens: held, and written once it does.
  ASSERT_EQ(commit(out, first), 8u);
  out.poll();
  ASSERT_EQ(commit(out, second), 8u);
  EXPECT_EQ(out.held(), 16u);
  Pipe pipe;
  out.setHandle(std::move(pipe.writeEnd));
  EXPECT_EQ(pipe.drain(), "");  // committed is not written
  EXPECT_TRUE(out.flush());
  EXPECT_EQ(out.held(), 0u);
  EXPECT_TRUE(out.isReady());
  EXPECT_EQ(out.handle().events, 0);  // nothing held: nothing to wait for
  EXPECT_EQ(pipe.drain(), first + second);

  ASSERT_EQ(commit(out, third), 8u);
  EXPECT_FALSE(out.isReady());
  EXPECT_EQ(out.handle().events, os::kWritable);
  ASSERT_EQ(commit(out, first), 8u);
  EXPECT_EQ(pipe.drain(), "");  // held, not written
  out.poll();
  EXPECT_EQ(out.held(), 0u);
  EXPECT_TRUE(out.isReady());
  // Both held messages came in one write: one read sees them together.
  std::uint8_t buffer[64];
  const os::IoResult r = os::readSome(pipe.readEnd.get(), buffer, sizeof buffer);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), r.bytes), third + first);
}

TEST(PipeOStreamTest, TheSelectorHandsHeldBytesToTheKernelBeforeItWaits) {
  Pipe pipe;
  PipeOStream out("sibling");
  PipeIStream in("input");
  out.setHandle(std::move(pipe.writeEnd));
  in.setHandle(std::move(pipe.readEnd));
  Selector<int> selector;
  selector.add(&in, 1);
  ASSERT_EQ(commit(out, pattern(0, 16)), 16u);
  selector.add(&out, 2);
  // The writer is polled before any wait: its bytes are out, and it is the
  // first to be ready; the reader follows.
  EXPECT_EQ(selector.select().second, 2);
  EXPECT_EQ(out.held(), 0u);
  selector.remove(&out);
  EXPECT_EQ(selector.select().second, 1);
  const std::uint8_t* data = nullptr;
  ASSERT_EQ(in.readBegin(data), 16u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 16), pattern(0, 16));
}

TEST(PipeOStreamTest, AFullPipeHoldsTheRestAndResumesWhenTheReaderTakesIt) {
  Pipe pipe;
  PipeOStream out("sibling");
  out.setHandle(std::move(pipe.writeEnd));
  const std::size_t total = pipe.size + 2 * PipeOStream::kBufferSize + 1000;
  const std::string sent = pattern(0, total);
  std::size_t done = commit(out, sent);
  // The pipe took what fitted; the stream's own buffer is full and the
  // pipe has no room: writeBegin gives nothing, nothing is lost.
  EXPECT_EQ(done, pipe.size + PipeOStream::kBufferSize);
  EXPECT_EQ(out.held(), PipeOStream::kBufferSize);
  EXPECT_FALSE(out.flush());
  EXPECT_EQ(out.handle().events, os::kWritable);
  // Until the kernel reports room, more attempts cost no system call. (Not
  // exactly none: a sanitizer's runtime probes memory with writes of its
  // own. A retry per attempt would be a hundred.)
  const long long writes = os::writeCallCount();
  for (int i = 0; i < 100; ++i) {
    out.poll();
    std::uint8_t* data = nullptr;
    EXPECT_EQ(out.writeBegin(data), 0u);
  }
  EXPECT_LT(os::writeCallCount() - writes, 10);

  std::string got;
  while (got.size() < total) {
    got += pipe.drain();
    // What the selector does when the descriptor has room.
    (void)out.ignoreSignal();
    done += commit(out, sent.substr(done));
  }
  ASSERT_EQ(done, total);
  got += pipe.drain();
  EXPECT_TRUE(out.flush());
  got += pipe.drain();
  EXPECT_EQ(got.size(), total);
  EXPECT_TRUE(got == sent) << "bytes reordered or changed";
}

TEST(PipeOStreamTest, WriteErrorsAreThrownOrBreakTheStreamUntilANewPipe) {
  Pipe pipe;
  PipeOStream out("sibling");
  // Writing the read end fails: the error is kept and thrown at the next use.
  out.setHandle(std::move(pipe.readEnd));
  ASSERT_EQ(commit(out, "12345678"), 8u);
  out.poll();
  EXPECT_FALSE(out.broken());
  EXPECT_TRUE(out.isReady());
  std::uint8_t* data = nullptr;
  const std::string bad = "PipeOStream(sibling) write: Bad file descriptor";
  HX_EXPECT_THROW_TEXT(out.writeBegin(data), error::ESystemError, bad);
  HX_EXPECT_THROW_TEXT(static_cast<void>(out.flush()), error::ESystemError, bad);
  // Closing the handle forgets the bytes and the error, reporting nothing.
  out.closeHandle();
  EXPECT_FALSE(out.hasHandle());
  EXPECT_EQ(out.held(), 0u);

  // A vanished reader breaks the stream without killing the process.
  Pipe gone;
  out.setHandle(std::move(gone.writeEnd));
  ASSERT_EQ(commit(out, pattern(0, 24)), 24u);
  gone.readEnd.reset();
  out.poll();  // EPIPE, not SIGPIPE
  EXPECT_TRUE(out.broken());
  EXPECT_EQ(out.held(), 0u);
  EXPECT_TRUE(out.isReady());
  EXPECT_TRUE(out.flush());
  ASSERT_EQ(commit(out, pattern(0, 8)), 8u);  // goes nowhere, is not kept
  EXPECT_EQ(out.held(), 0u);

  // A new pipe for the same sibling starts clean; close writes what is held.
  Pipe fresh;
  out.setHandle(std::move(fresh.writeEnd));
  EXPECT_FALSE(out.broken());
  ASSERT_EQ(commit(out, pattern(3, 8)), 8u);
  out.close();
  EXPECT_EQ(fresh.drain(), pattern(3, 8));
}

}  // namespace
}  // namespace io
