#include "io/pipe_stream.h"

#include <cerrno>

#include "error/check.h"
#include "error/system_error.h"
#include "io/exceptions.h"
#include "os/fd.h"
#include "os/poll.h"

namespace io {

namespace {

std::string overcommitText(const char* stream, std::size_t n, std::size_t room) {
  return std::string("Overcommit in ") + stream + " " + std::to_string(n) + " is " +
         std::to_string(n - room) + " bytes past end of buffer";
}

}  // namespace

// ---- PipeIStream ----

PipeIStream::PipeIStream(std::string name) : buffer_(kBufferSize), name_(std::move(name)) {}

PipeIStream::~PipeIStream() = default;

void PipeIStream::setHandle(os::OwnedFd fd) {
  os::setNonblocking(fd.get(), true);
  fd_ = std::move(fd);
  buffer_.forgetWouldBlock();
}

OsHandle PipeIStream::handle() const {
  return {fd_.get(), !closed_ && buffer_.wantsBytes() ? os::kReadable : short{0}};
}

bool PipeIStream::isReady() { return buffer_.isReady(); }

void PipeIStream::poll() { buffer_.poll(liveFd()); }

bool PipeIStream::ignoreSignal() { return buffer_.ignoreSignal(liveFd()); }

std::size_t PipeIStream::readBegin(const std::uint8_t*& data) {
  HX_CHECK(!closed_, "Read on closed " + name());
  return buffer_.readBegin(liveFd(), name(), data);
}

void PipeIStream::readCommit(std::size_t n) {
  HX_CHECK(n <= buffer_.unread(), overcommitText("PipeIStream", n, buffer_.unread()));
  buffer_.consume(n);
}

void PipeIStream::close() {
  HX_CHECK(!closed_, "Double close on PipeIStream");
  closed_ = true;
  fd_.reset();
  if (buffer_.unread() == 0 && buffer_.error() != 0) {
    error::throwSystemError("Error in " + name(), buffer_.error());
  }
}

// ---- PipeOStream ----

PipeOStream::PipeOStream(std::string name) : name_(std::move(name)) {
  os::ignoreBrokenPipeSignal();
}

PipeOStream::~PipeOStream() {
  if (!closed_) push();
}

void PipeOStream::setHandle(os::OwnedFd fd) {
  os::setNonblocking(fd.get(), true);
  fd_ = std::move(fd);
  error_ = 0;
  broken_ = false;
  blocked_ = false;
}

void PipeOStream::closeHandle() noexcept {
  fd_.reset();
  sent_ = end_ = given_ = 0;
}

OsHandle PipeOStream::handle() const {
  const bool has_bytes = !closed_ && sent_ < end_ && error_ == 0 && !broken_;
  return {fd_.get(), has_bytes ? os::kWritable : short{0}};
}

bool PipeOStream::isReady() { return error_ != 0 || broken_ || sent_ == end_; }

void PipeOStream::poll() {
  if (!blocked_) push();
}

bool PipeOStream::ignoreSignal() {
  blocked_ = false;
  push();
  return !isReady();
}

void PipeOStream::push() {
  if (closed_ || !fd_.valid() || sent_ == end_ || error_ != 0 || broken_) return;
  const os::IoResult r = os::writeSome(fd_.get(), buffer_.data() + sent_, end_ - sent_);
  if (r.wouldBlock) {
    blocked_ = true;
    return;
  }
  if (r.error == EPIPE) {
    broken_ = true;
    sent_ = end_ = 0;
    return;
  }
  if (r.error != 0) {
    error_ = r.error;
    return;
  }
  sent_ += r.bytes;
  if (sent_ == end_) sent_ = end_ = 0;
}

void PipeOStream::throwIfFailed() const {
  if (error_ != 0) error::throwSystemError(name() + " write", error_);
}

std::size_t PipeOStream::writeBegin(std::uint8_t*& data) {
  HX_CHECK(!closed_, "Write on closed " + name());
  throwIfFailed();
  if (end_ == buffer_.size() && !blocked_) {
    push();
    throwIfFailed();
  }
  data = buffer_.data() + end_;
  given_ = buffer_.size() - end_;
  return given_;
}

void PipeOStream::writeCommit(std::size_t n) {
  HX_CHECK(n <= given_, overcommitText("PipeOStream", n, given_));
  given_ -= n;
  // Nobody reads the pipe any more: what is written is lost anyway.
  if (broken_) return;
  end_ += n;
}

bool PipeOStream::flush() {
  HX_CHECK(!closed_, "Flush on closed " + name());
  throwIfFailed();
  blocked_ = false;
  push();
  throwIfFailed();
  return isReady();
}

void PipeOStream::close() {
  HX_CHECK(!closed_, "Double close on PipeOStream");
  push();
  closed_ = true;
  fd_.reset();
  throwIfFailed();
}

}  // namespace io
