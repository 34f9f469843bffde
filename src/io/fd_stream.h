#pragma once
// Buffered streams over file descriptors: standard input and output, and the
// pipes between processes. The descriptor is switched to non-blocking mode
// (its flags come back when the stream closes) and is the stream's wait
// handle, so a selector wakes when bytes arrive or room frees up.
//
// Bytes move only in the read and write system calls: a reader gets a
// pointer into the stream's buffer, a writer fills the buffer in place.
// A new read starts only when everything read was consumed; the write
// buffer is reused from the start once all of it is out.
//
// An I/O error is kept and reported as error::ESystemError at the next
// readBegin, writeBegin, flush or close.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "io/read_buffer.h"
#include "io/stream.h"

namespace io {

enum class FdOwnership {
  take,   // the stream closes the descriptor
  borrow  // the descriptor stays open (standard input and output)
};

class FdIStream : public IStream {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  FdIStream(int fd, std::string name, FdOwnership ownership = FdOwnership::take,
            std::size_t buffer_size = kBufferSize);
  ~FdIStream() override;

  [[nodiscard]] std::string name() const override { return "FdIStream(" + name_ + ")"; }
  // Waits for bytes while the buffer is empty.
  [[nodiscard]] OsHandle handle() const override;
  // Bytes are buffered, the writer is gone, or an error is kept.
  [[nodiscard]] bool isReady() override;
  // Reads into an empty buffer unless the last read found nothing.
  void poll() override;
  // The descriptor has bytes (or news): read them, and go on waiting unless
  // that made the stream ready.
  [[nodiscard]] bool ignoreSignal() override;

  // Reads when the buffer is empty; 0 when nothing has arrived. Throws
  // EEndOfStream once the writer is gone and every byte was read.
  [[nodiscard]] std::size_t readBegin(const std::uint8_t*& data) override;
  void readCommit(std::size_t n) override;
  void close() override;

 private:
  void release() noexcept;
  [[nodiscard]] int liveFd() const { return closed_ ? -1 : fd_; }

  int fd_;
  FdOwnership ownership_;
  int original_flags_;  // restored on release; -1: left as they were
  ReadBuffer buffer_;
  bool closed_ = false;
  std::string name_;
};

class FdOStream : public OStream {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  // Also makes a write to a pipe without reader fail with an error instead
  // of killing the process (SIGPIPE is ignored process-wide).
  FdOStream(int fd, std::string name, FdOwnership ownership = FdOwnership::take,
            std::size_t buffer_size = kBufferSize);
  // Writes what the descriptor takes without waiting, then closes; call
  // close() to be sure everything is written.
  ~FdOStream() override;

  [[nodiscard]] std::string name() const override { return "FdOStream(" + name_ + ")"; }
  // Waits for room while bytes are buffered.
  [[nodiscard]] OsHandle handle() const override;
  // Nothing is buffered, or an error is kept.
  [[nodiscard]] bool isReady() override;
  // Writes buffered bytes as far as the descriptor takes them.
  void poll() override;
  [[nodiscard]] bool ignoreSignal() override;

  // Free space behind the buffered bytes. A full buffer is written out
  // first; 0 when the descriptor takes nothing more without waiting.
  [[nodiscard]] std::size_t writeBegin(std::uint8_t*& data) override;
  void writeCommit(std::size_t n) override;
  // Writes everything buffered, waiting for room as needed; true.
  [[nodiscard]] bool flush() override;
  // Flushes, then closes.
  void close() override;

 private:
  void push();
  void pushAll();
  void throwIfFailed() const;
  void release() noexcept;

  int fd_;
  FdOwnership ownership_;
  int original_flags_;  // restored on release; -1: left as they were
  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t sent_ = 0;   // start of the bytes not yet written
  std::size_t end_ = 0;    // end of the committed bytes
  std::size_t given_ = 0;  // space handed out by the last writeBegin
  int error_ = 0;
  bool closed_ = false;
  std::string name_;
};

}  // namespace io
