#include "io/fd_stream.h"

#include "error/check.h"
#include "error/system_error.h"
#include "io/exceptions.h"
#include "os/fd.h"
#include "os/poll.h"

namespace io {

namespace {

std::string overcommitText(const std::string& name, std::size_t n, std::size_t room) {
  return "Overcommit in " + name + " " + std::to_string(n) + " is " + std::to_string(n - room) +
         " bytes past end of buffer";
}

// What a stream needs of its descriptor: non-blocking reads or writes. A
// borrowed pipe, FIFO or terminal is opened anew with a description of its
// own, because the non-blocking flag belongs to the description, which other
// processes may share (a shell's terminal; standard error with 2>&1, whose
// messages would then be lost to EAGAIN), and no exit path, however abrupt,
// could reliably put it back. A regular file never waits and stays as it
// is. Anything else (a socket, or when /proc cannot be used) is switched to
// non-blocking and switched back on release; `flags` then holds its flags.
struct NonblockingUse {
  int fd;
  FdOwnership ownership;
  int flags = -1;  // to restore on release; -1: nothing was changed
};

NonblockingUse useNonblocking(int fd, FdOwnership ownership, bool forWriting) {
  if (ownership == FdOwnership::borrow) {
    if (const int own = os::reopenPrivately(fd, forWriting); own >= 0) {
      return {own, FdOwnership::take};
    }
    if (os::isRegularFile(fd)) return {fd, ownership};
  }
  const int flags = os::statusFlags(fd);
  os::setNonblocking(fd, true);
  return {fd, ownership, flags};
}

void releaseDescriptor(int fd, FdOwnership ownership, int flags) noexcept {
  if (flags >= 0) {
    try {
      os::setStatusFlags(fd, flags);
    } catch (const error::Exception&) {
      // Closing matters more than the flags of a descriptor in trouble.
    }
  }
  if (ownership == FdOwnership::take) os::closeFdQuietly(fd);
}

}  // namespace

// ---- FdIStream ----

FdIStream::FdIStream(int fd, std::string name, FdOwnership ownership, std::size_t buffer_size)
    : buffer_(buffer_size), name_(std::move(name)) {
  HX_CHECK(buffer_size > 0, "FdIStream needs a buffer");
  const NonblockingUse use = useNonblocking(fd, ownership, false);
  fd_ = use.fd;
  ownership_ = use.ownership;
  original_flags_ = use.flags;
}

FdIStream::~FdIStream() {
  if (!closed_) release();
}

OsHandle FdIStream::handle() const {
  return {fd_, !closed_ && buffer_.wantsBytes() ? os::kReadable : short{0}};
}

bool FdIStream::isReady() { return buffer_.isReady(); }

void FdIStream::poll() { buffer_.poll(liveFd()); }

bool FdIStream::ignoreSignal() { return buffer_.ignoreSignal(liveFd()); }

std::size_t FdIStream::readBegin(const std::uint8_t*& data) {
  HX_CHECK(!closed_, "Read on closed " + name());
  return buffer_.readBegin(fd_, name(), data);
}

void FdIStream::readCommit(std::size_t n) {
  HX_CHECK(n <= buffer_.unread(), overcommitText(name(), n, buffer_.unread()));
  buffer_.consume(n);
}

void FdIStream::close() {
  HX_CHECK(!closed_, "Double close on " + name());
  release();
  if (buffer_.error() != 0) error::throwSystemError("Error in " + name(), buffer_.error());
}

void FdIStream::release() noexcept {
  closed_ = true;
  releaseDescriptor(fd_, ownership_, original_flags_);
}

// ---- FdOStream ----

FdOStream::FdOStream(int fd, std::string name, FdOwnership ownership, std::size_t buffer_size)
    : capacity_(buffer_size),
      buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(buffer_size)),
      name_(std::move(name)) {
  HX_CHECK(buffer_size > 0, "FdOStream needs a buffer");
  os::ignoreBrokenPipeSignal();
  const NonblockingUse use = useNonblocking(fd, ownership, true);
  fd_ = use.fd;
  ownership_ = use.ownership;
  original_flags_ = use.flags;
}

FdOStream::~FdOStream() {
  if (closed_) return;
  push();
  release();
}

OsHandle FdOStream::handle() const {
  const bool has_bytes = !closed_ && sent_ < end_ && error_ == 0;
  return {fd_, has_bytes ? os::kWritable : short{0}};
}

bool FdOStream::isReady() { return error_ != 0 || sent_ == end_; }

void FdOStream::poll() { push(); }

bool FdOStream::ignoreSignal() {
  push();
  return !isReady();
}

void FdOStream::push() {
  if (closed_ || sent_ == end_ || error_ != 0) return;
  const os::IoResult r = os::writeSome(fd_, buffer_.get() + sent_, end_ - sent_);
  if (r.wouldBlock) return;
  if (r.error != 0) {
    error_ = r.error;
    return;
  }
  sent_ += r.bytes;
  if (sent_ == end_) sent_ = end_ = 0;
}

void FdOStream::pushAll() {
  for (;;) {
    push();
    if (sent_ == end_ || error_ != 0) return;
    if (const int failed = os::waitForFd(fd_, os::kWritable); failed != 0) {
      error_ = failed;
      return;
    }
  }
}

void FdOStream::throwIfFailed() const {
  if (error_ != 0) error::throwSystemError(name() + " write", error_);
}

std::size_t FdOStream::writeBegin(std::uint8_t*& data) {
  HX_CHECK(!closed_, "Write on closed " + name());
  throwIfFailed();
  if (end_ == capacity_) {
    push();
    throwIfFailed();
  }
  data = buffer_.get() + end_;
  given_ = capacity_ - end_;
  return given_;
}

void FdOStream::writeCommit(std::size_t n) {
  HX_CHECK(n <= given_, overcommitText(name(), n, given_));
  end_ += n;
  given_ -= n;
}

bool FdOStream::flush() {
  HX_CHECK(!closed_, "Flush on closed " + name());
  throwIfFailed();
  pushAll();
  throwIfFailed();
  return true;
}

void FdOStream::close() {
  HX_CHECK(!closed_, "Double close on " + name());
  pushAll();
  release();
  throwIfFailed();
}

void FdOStream::release() noexcept {
  closed_ = true;
  releaseDescriptor(fd_, ownership_, original_flags_);
}

}  // namespace io
