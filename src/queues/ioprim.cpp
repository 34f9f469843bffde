#include "queues/ioprim.h"

#include "error/check.h"
#include "error/exception.h"

namespace queues {

ioprim::NestingGuard::NestingGuard(ioprim& io) : io_(io) {
  if (io_.depth_ >= kMaxReadNesting) {
    throw error::EParseError("Event data nested deeper than " + std::to_string(kMaxReadNesting) +
                             " levels");
  }
  ++io_.depth_;
}

void ioprim::badEvent(const std::string& text) const {
  if (throw_on_bad_event_) throw error::EParseError(text);
  error::assertionFailed(text);
}

void ioprim::getSlow(void* into, std::size_t size) {
  auto* to = static_cast<std::uint8_t*>(into);
  while (size > 0) {
    if (rpos_ == rend_) nextReadArea();
    const std::size_t n = std::min(size, static_cast<std::size_t>(rend_ - rpos_));
    std::memcpy(to, rpos_, n);
    rpos_ += n;
    to += n;
    size -= n;
    if (rpos_ == rend_) commitReadArea();
  }
}

void ioprim::nextReadArea() {
  // Wait first, then ask: a stream from a sibling refuses a readBegin while
  // its next message is still on its way.
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  while (size == 0) {
    if (holding_ && !in_->isReady()) {
      in_->poll();
      // About to wait for input: what the peer may be waiting for goes out
      // first.
      if (!in_->isReady()) flush();
    }
    in_->waitReady();
    size = in_->readBegin(data);
  }
  rstart_ = rpos_ = data;
  rend_ = data + size;
}

void ioprim::commitReadArea() {
  in_->readCommit(static_cast<std::size_t>(rend_ - rstart_));
  rstart_ = rpos_ = rend_ = nullptr;
}

void ioprim::releaseWriteArea() {
  if (wused_ > 0) out_->writeCommit(wused_);
  wstart_ = nullptr;
  wsize_ = wused_ = 0;
}

void ioprim::newWriteArea(std::size_t needed) {
  releaseWriteArea();
  std::uint8_t* data = nullptr;
  std::size_t size = 0;
  // Held bytes leave room behind them; the stream is waited on only when
  // that room is too small.
  if (holding_) size = out_->writeBegin(data);
  if (size < needed) {
    if (!out_->isReady()) out_->waitReady();
    size = out_->writeBegin(data);
  }
  HX_CHECK(size >= needed,
           "New write area of size " + std::to_string(size) + " too small for primitive write");
  wstart_ = data;
  wsize_ = size;
}

void ioprim::putBytes(const void* data, std::size_t size) {
  const auto* from = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    if (wused_ == wsize_) newWriteArea(1);
    const std::size_t n = std::min(size, wsize_ - wused_);
    std::memcpy(wstart_ + wused_, from, n);
    wused_ += n;
    from += n;
    size -= n;
  }
}

void ioprim::flush() {
  releaseWriteArea();
  // A flush that could not write everything leaves the stream to wait on.
  if (!out_->flush() || !out_->isReady()) out_->waitReady();
  holding_ = false;
}

void ioprim::hold() {
  releaseWriteArea();
  holding_ = true;
}

void ioprim::pushHeld() {
  if (!holding_) return;
  out_->poll();
  holding_ = !out_->isReady();
}

}  // namespace queues
