#pragma once
// The read side the descriptor-backed input streams share: one buffer,
// filled by a single non-blocking read only when everything read before was
// consumed, and what that read found besides bytes (the writer gone, an
// error, nothing yet). The streams own the descriptor and their texts.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "error/system_error.h"
#include "io/exceptions.h"
#include "os/fd.h"

namespace io {

class ReadBuffer {
 public:
  explicit ReadBuffer(std::size_t capacity)
      : capacity_(capacity), data_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity)) {}

  // Nothing to hand out and nothing ended: the stream waits for bytes.
  [[nodiscard]] bool wantsBytes() const { return begin_ == end_ && !eof_ && error_ == 0; }
  [[nodiscard]] bool isReady() const { return begin_ < end_ || eof_ || error_ != 0; }
  [[nodiscard]] std::size_t unread() const { return end_ - begin_; }
  [[nodiscard]] int error() const { return error_; }

  // Reads into the empty buffer unless the last read found nothing.
  void poll(int fd) {
    if (!would_block_) fill(fd);
  }
  // The descriptor signalled: read, and go on waiting unless that made the
  // stream ready.
  [[nodiscard]] bool ignoreSignal(int fd) {
    would_block_ = false;
    fill(fd);
    return !isReady();
  }
  void forgetWouldBlock() { would_block_ = false; }

  // One read when the buffer is empty and nothing has ended; fd < 0 (no
  // descriptor yet) reads nothing.
  void fill(int fd) {
    if (fd < 0 || !wantsBytes()) return;
    const os::IoResult r = os::readSome(fd, data_.get(), capacity_);
    would_block_ = r.wouldBlock;
    if (r.wouldBlock) return;
    if (r.error != 0) {
      error_ = r.error;
    } else if (r.bytes == 0) {
      eof_ = true;
    } else {
      begin_ = 0;
      end_ = r.bytes;
    }
  }

  // The unread bytes after a fill; 0 when nothing has arrived. Throws
  // EEndOfStream once the writer is gone and every byte was read, and the
  // kept error after that.
  [[nodiscard]] std::size_t readBegin(int fd, const std::string& name, const std::uint8_t*& data) {
    fill(fd);
    data = data_.get() + begin_;
    if (begin_ < end_) return end_ - begin_;
    if (eof_) throw EEndOfStream(name);
    if (error_ != 0) error::throwSystemError("Error in " + name, error_);
    return 0;
  }
  // The caller checked n <= unread().
  void consume(std::size_t n) {
    begin_ += n;
    // Consumed: the next read fills the whole buffer.
    if (begin_ == end_) begin_ = end_ = 0;
  }

 private:
  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t begin_ = 0;  // next unread byte
  std::size_t end_ = 0;    // end of the bytes read
  bool eof_ = false;
  bool would_block_ = false;  // the last read found nothing
  int error_ = 0;
};

}  // namespace io
