#include "io/memory_stream.h"

#include <algorithm>

#include "error/check.h"
#include "io/exceptions.h"

namespace io {

// ---- MemoryPipe ----

void MemoryPipe::deliver(const std::uint8_t* bytes, std::size_t n) {
  HX_CHECK(!writer_closed_, "Write to closed MemoryPipe");
  if (n == 0) return;
  pieces_.emplace_back(bytes, bytes + n);
  unread_ += n;
}

// ---- MemoryOStream ----

MemoryOStream::MemoryOStream(MemoryPipe& pipe, std::size_t area_size, std::string name)
    : pipe_(&pipe), area_(area_size), name_(std::move(name)) {
  HX_CHECK(area_size > 0, "MemoryOStream needs a write area");
}

bool MemoryOStream::isReady() { return sent_ == end_; }

void MemoryOStream::poll() {
  if (closed_ || sent_ == end_) return;
  pipe_->deliver(area_.data() + sent_, end_ - sent_);
  sent_ = end_ = 0;
}

std::size_t MemoryOStream::writeBegin(std::uint8_t*& data) {
  HX_CHECK(!closed_, "Write on closed " + name());
  if (end_ == area_.size()) poll();
  data = area_.data() + end_;
  given_ = area_.size() - end_;
  return given_;
}

void MemoryOStream::writeCommit(std::size_t n) {
  HX_CHECK(n <= given_, "Overcommit in " + name() + " " + std::to_string(n) + " is " +
                            std::to_string(n - given_) + " bytes past end of buffer");
  end_ += n;
  given_ -= n;
}

bool MemoryOStream::flush() {
  HX_CHECK(!closed_, "Flush on closed " + name());
  poll();
  return sent_ == end_;
}

void MemoryOStream::close() {
  HX_CHECK(!closed_, "Double close on " + name());
  poll();
  closed_ = true;
  pipe_->closeWriter();
}

// ---- MemoryIStream ----

MemoryIStream::MemoryIStream(MemoryPipe& pipe, std::size_t area_size, std::string name)
    : pipe_(&pipe), area_size_(area_size), name_(std::move(name)) {
  HX_CHECK(area_size > 0, "MemoryIStream needs a read area");
}

bool MemoryIStream::isReady() { return pipe_->unread_ > 0 || pipe_->writer_closed_; }

std::size_t MemoryIStream::readBegin(const std::uint8_t*& data) {
  HX_CHECK(!closed_, "Read on closed " + name());
  MemoryPipe& p = *pipe_;
  given_ = 0;
  if (p.unread_ == 0) {
    if (p.writer_closed_) throw EEndOfStream(name());
    data = nullptr;
    return 0;
  }
  const std::size_t want = std::min(area_size_, p.unread_);
  // Join pieces until the first holds `want` contiguous bytes. Only pieces
  // behind the read position change, and the last readBegin's pointer is
  // void from here on anyway.
  while (p.pieces_.front().size() - p.front_offset_ < want) {
    auto first = std::move(p.pieces_.front());
    p.pieces_.pop_front();
    first.erase(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(p.front_offset_));
    p.front_offset_ = 0;
    auto& next = p.pieces_.front();
    first.insert(first.end(), next.begin(), next.end());
    next = std::move(first);
  }
  data = p.pieces_.front().data() + p.front_offset_;
  given_ = want;
  return want;
}

void MemoryIStream::readCommit(std::size_t n) {
  HX_CHECK(n <= given_, "Overcommit in " + name() + " " + std::to_string(n) + " is " +
                            std::to_string(n - given_) + " bytes past end of buffer");
  MemoryPipe& p = *pipe_;
  given_ -= n;
  p.unread_ -= n;
  p.front_offset_ += n;
  while (!p.pieces_.empty() && p.front_offset_ == p.pieces_.front().size()) {
    p.pieces_.pop_front();
    p.front_offset_ = 0;
  }
}

void MemoryIStream::close() {
  HX_CHECK(!closed_, "Double close on " + name());
  closed_ = true;
}

}  // namespace io
