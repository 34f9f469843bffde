#pragma once
// Zero-copy byte streams. A reader asks for the bytes that have arrived
// (readBegin), uses some and says how many (readCommit); a writer asks for
// free space (writeBegin), fills some and commits it (writeCommit). Nothing
// is copied between the stream's buffer and the caller. A pointer from
// readBegin or writeBegin is good until the next call on the same stream.
// A value that straddles two areas is the caller's to assemble: it commits
// what it has used and asks again.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "io/selectable.h"

namespace io {

class IStream : public virtual Selectable {
 public:
  // Points `data` at the unread bytes and returns their count; 0 when nothing
  // has arrived yet. Throws EEndOfStream once the stream has ended and every
  // byte was read.
  [[nodiscard]] virtual std::size_t readBegin(const std::uint8_t*& data) = 0;
  // Consumes n of the bytes that readBegin gave.
  virtual void readCommit(std::size_t n) = 0;
  virtual void close() = 0;
};

class OStream : public virtual Selectable {
 public:
  // Points `data` at free space and returns its size (0 while the stream
  // cannot take more without waiting).
  [[nodiscard]] virtual std::size_t writeBegin(std::uint8_t*& data) = 0;
  // Commits n bytes of the space writeBegin gave.
  virtual void writeCommit(std::size_t n) = 0;
  // Pushes out what is buffered; true when everything is written. Streams
  // over descriptors wait for room until it is.
  [[nodiscard]] virtual bool flush() = 0;
  virtual void close() = 0;
};

using IStreamPtr = std::unique_ptr<IStream>;
using OStreamPtr = std::unique_ptr<OStream>;

}  // namespace io
