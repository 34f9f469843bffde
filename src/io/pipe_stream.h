#pragma once
// Buffered streams over the pipes between sibling processes: each process
// reads its own input pipe with a PipeIStream and writes into a sibling's
// pipe with a PipeOStream. Both start without a descriptor and get it once
// the pipe exists or has been opened (setHandle); the descriptor is
// non-blocking and is the stream's wait handle.
//
// PipeOStream holds committed bytes until the process is about to wait (the
// selector polls its selectables first), until its buffer is full, or until
// flush: a batch of small messages then costs one write(2). Bytes are never
// reordered or changed. A reader that went away (EPIPE; SIGPIPE is ignored)
// marks the stream broken and drops what it held; other errors are kept and
// thrown at the next writeBegin, flush or close.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/read_buffer.h"
#include "io/stream.h"
#include "os/owned_fd.h"

namespace io {

class PipeIStream : public IStream {
 public:
  static constexpr std::size_t kBufferSize = 4096;

  explicit PipeIStream(std::string name);
  ~PipeIStream() override;

  // Takes the read end (closing a previous one) and makes it non-blocking.
  void setHandle(os::OwnedFd fd);
  [[nodiscard]] bool hasHandle() const { return fd_.valid(); }

  [[nodiscard]] std::string name() const override { return "PipeIStream(" + name_ + ")"; }
  // Waits for bytes while the buffer is empty.
  [[nodiscard]] OsHandle handle() const override;
  // An error is kept, the writers are gone, or bytes are unread.
  [[nodiscard]] bool isReady() override;
  // Reads into an empty buffer unless the last read found nothing.
  void poll() override;
  [[nodiscard]] bool ignoreSignal() override;

  // Reads when the buffer is empty; 0 when nothing has arrived. Throws
  // EEndOfStream once every writer is gone and every byte was read.
  [[nodiscard]] std::size_t readBegin(const std::uint8_t*& data) override;
  void readCommit(std::size_t n) override;
  void close() override;

 private:
  [[nodiscard]] int liveFd() const { return closed_ ? -1 : fd_.get(); }

  os::OwnedFd fd_;
  ReadBuffer buffer_;
  bool closed_ = false;
  std::string name_;
};

class PipeOStream : public OStream {
 public:
  static constexpr std::size_t kBufferSize = 4096;

  // Also makes a write to a pipe without reader fail with EPIPE instead of
  // killing the process (SIGPIPE is ignored process-wide).
  explicit PipeOStream(std::string name);
  // Hands the kernel what it takes without waiting, then closes.
  ~PipeOStream() override;

  // Takes the write end (closing a previous one), makes it non-blocking and
  // clears a kept error and the broken flag. Bytes held so far stay and go
  // to the new pipe.
  void setHandle(os::OwnedFd fd);
  [[nodiscard]] bool hasHandle() const { return fd_.valid(); }
  // Drops the held bytes and closes the descriptor; reports nothing.
  void closeHandle() noexcept;

  [[nodiscard]] std::string name() const override { return "PipeOStream(" + name_ + ")"; }
  // Waits for room while bytes are held.
  [[nodiscard]] OsHandle handle() const override;
  // Nothing is held, or an error or a broken pipe is kept.
  [[nodiscard]] bool isReady() override;
  // Hands every held byte to the kernel, in one write when the pipe has room.
  void poll() override;
  [[nodiscard]] bool ignoreSignal() override;

  // Free space behind the held bytes. No system call unless the buffer is
  // full; then one write attempt, and 0 until everything held is out (a
  // pipe takes a write of up to 4096 bytes whole or not at all).
  [[nodiscard]] std::size_t writeBegin(std::uint8_t*& data) override;
  // Commits bytes without a system call: they are held until poll, flush or
  // a full buffer. On a broken stream they are dropped.
  void writeCommit(std::size_t n) override;
  // One write attempt, never waits; returns isReady().
  [[nodiscard]] bool flush() override;
  // One write attempt, then closes; a kept error is thrown after closing.
  void close() override;

  // The reader is gone (EPIPE); held bytes were dropped.
  [[nodiscard]] bool broken() const { return broken_; }
  // Bytes committed and not yet written.
  [[nodiscard]] std::size_t held() const { return end_ - sent_; }

 private:
  void push();
  void throwIfFailed() const;

  os::OwnedFd fd_;
  std::array<std::uint8_t, kBufferSize> buffer_{};
  std::size_t sent_ = 0;   // start of the bytes not yet written
  std::size_t end_ = 0;    // end of the committed bytes
  std::size_t given_ = 0;  // space handed out by the last writeBegin
  int error_ = 0;
  bool broken_ = false;
  // The pipe was full at the last write: no further attempt until the
  // kernel says there is room (ignoreSignal) or a flush asks for one, so
  // that a writer that keeps committing to a full pipe makes no system call
  // per message.
  bool blocked_ = false;
  bool closed_ = false;
  std::string name_;
};

}  // namespace io
