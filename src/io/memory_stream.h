#pragma once
// An in-memory one-way byte pipe for tests: a MemoryOStream writes into a
// MemoryPipe, a MemoryIStream reads from it. Both sides can cut the bytes
// into small pieces so that tests can put every value across a boundary:
// the writer hands out a write area of a chosen size, and the reader shows
// at most a chosen number of bytes per readBegin.
//
// Like a real buffered stream, written bytes reach the pipe when the write
// area is full and the writer asks for more space, on flush, and on close.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "io/stream.h"

namespace io {

class MemoryPipe {
 public:
  static constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

  MemoryPipe() = default;
  MemoryPipe(const MemoryPipe&) = delete;
  MemoryPipe& operator=(const MemoryPipe&) = delete;

  // Bytes written (delivered by the writer) and not yet read.
  [[nodiscard]] std::size_t unread() const { return unread_; }
  [[nodiscard]] bool writerClosed() const { return writer_closed_; }
  // Appends n bytes for the reader.
  void deliver(const std::uint8_t* bytes, std::size_t n);
  void closeWriter() { writer_closed_ = true; }

 private:
  friend class MemoryIStream;
  // Delivered pieces; a piece never moves once appended, so a pointer from
  // readBegin stays valid while the writer goes on.
  std::deque<std::vector<std::uint8_t>> pieces_;
  std::size_t front_offset_ = 0;  // read position in pieces_.front()
  std::size_t unread_ = 0;
  bool writer_closed_ = false;
};

class MemoryOStream : public OStream {
 public:
  // `pipe` must outlive the stream. `area_size`: the size of the write area.
  explicit MemoryOStream(MemoryPipe& pipe, std::size_t area_size = 4096,
                         std::string name = "memory");

  [[nodiscard]] std::string name() const override { return "MemoryOStream(" + name_ + ")"; }
  // True when nothing is buffered.
  [[nodiscard]] bool isReady() override;
  // Delivers buffered bytes to the pipe (a selector's pass does this too).
  void poll() override;

  [[nodiscard]] std::size_t writeBegin(std::uint8_t*& data) override;
  void writeCommit(std::size_t n) override;
  [[nodiscard]] bool flush() override;
  // Flushes and marks the pipe's writer closed; the reader sees end of
  // stream after the last byte.
  void close() override;

  // Bytes committed but not yet delivered.
  [[nodiscard]] std::size_t buffered() const { return end_ - sent_; }

 private:
  MemoryPipe* pipe_;
  std::vector<std::uint8_t> area_;
  std::size_t sent_ = 0;   // start of the bytes not yet delivered
  std::size_t end_ = 0;    // end of the committed bytes
  std::size_t given_ = 0;  // space handed out by the last writeBegin
  bool closed_ = false;
  std::string name_;
};

class MemoryIStream : public IStream {
 public:
  // `pipe` must outlive the stream. `area_size`: at most this many bytes per
  // readBegin.
  explicit MemoryIStream(MemoryPipe& pipe, std::size_t area_size = MemoryPipe::kUnlimited,
                         std::string name = "memory");

  [[nodiscard]] std::string name() const override { return "MemoryIStream(" + name_ + ")"; }
  // True when bytes are waiting or the writer has closed.
  [[nodiscard]] bool isReady() override;

  [[nodiscard]] std::size_t readBegin(const std::uint8_t*& data) override;
  void readCommit(std::size_t n) override;
  void close() override;

 private:
  MemoryPipe* pipe_;
  std::size_t area_size_;
  std::size_t given_ = 0;  // bytes shown by the last readBegin, not yet committed
  bool closed_ = false;
  std::string name_;
};

// A pipe with its writer and reader, for tests that need both ends.
struct MemoryStreamPair {
  explicit MemoryStreamPair(std::size_t write_area = 4096,
                            std::size_t read_area = MemoryPipe::kUnlimited)
      : out(pipe, write_area), in(pipe, read_area) {}
  MemoryPipe pipe;
  MemoryOStream out;
  MemoryIStream in;
};

}  // namespace io
