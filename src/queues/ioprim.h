#pragma once
// The event stream: primitive reads and writes over one input and one output
// byte stream. Values are copied straight between the caller and the
// stream's own buffer areas (readBegin/writeBegin), so encoding an event
// costs no allocation beyond the values themselves.
//
// Writing: a primitive is never split between two write areas. When the
// current area cannot hold it, the used part is committed, the stream is
// waited on and a new area taken; strings and byte strings are copied in
// pieces across as many areas as they need.
//
// Reading: a primitive may span read areas. As soon as an area has been read
// to its end it is committed, so a message read completely is released at
// once rather than when the next event is read.
//
// All integers are little-endian, fixed width, without alignment.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "io/stream.h"
#include "queues/event.h"

namespace queues {

static_assert(std::endian::native == std::endian::little,
              "the event encoding copies integers in host byte order");

// Recursive data (object trees, pattern trees, metric groups, nested
// events) read from a stream may nest at most this deep; deeper input is
// rejected rather than allowed to exhaust the stack.
inline constexpr int kMaxReadNesting = 100;

class ioprim {
 public:
  // Either stream may be null for a one-way stream; it must then not be used
  // in that direction. The streams must outlive this object.
  ioprim(io::IStream* in, io::OStream* out) : in_(in), out_(out) {}
  ioprim(const ioprim&) = delete;
  ioprim& operator=(const ioprim&) = delete;

  // --- Events ---
  // Writes the 16-byte header and then the event's data. A type outside 1
  // to 195 fails an internal check.
  void writeEvent(const queues::event& ev);
  // Reads one whole event. End of input, also in the middle of an event,
  // throws io::EEndOfStream; malformed data throws error::Exception.
  queues::EventPtr readEvent();
  // Hands what was written to the output stream and waits until it can take
  // more.
  void flush();
  // Hands what was written to the output stream without waiting for it to
  // go out: the stream writes it when its buffer fills or when polled, and
  // everything held is flushed before this object waits for input. Bytes
  // and their order are those of flush(); only the write calls are fewer.
  void hold();
  // Writes what the output stream takes now of what is held.
  void pushHeld();
  // Flushes what is held, if anything.
  void flushHeld() {
    if (holding_) flush();
  }
  [[nodiscard]] bool holding() const { return holding_; }

  // --- Primitives ---
  template <class T>
  void put(T value) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (wsize_ - wused_ < sizeof(T)) newWriteArea(sizeof(T));
    std::memcpy(wstart_ + wused_, &value, sizeof(T));
    wused_ += sizeof(T);
  }

  template <class T>
  T get() {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    // Strictly more than needed: a read that empties the area takes the
    // slow path, which commits the area.
    if (static_cast<std::size_t>(rend_ - rpos_) > sizeof(T)) {
      std::memcpy(&value, rpos_, sizeof(T));
      rpos_ += sizeof(T);
    } else {
      getSlow(&value, sizeof(T));
    }
    return value;
  }

  // Raw bytes, split across write areas as needed.
  void putBytes(const void* data, std::size_t size);
  // A string or byte string: 8-byte length, then the bytes.
  void putString(const void* data, std::size_t size) {
    put<std::uint64_t>(size);
    putBytes(data, size);
  }

  // Reads a string or byte string (8-byte length, then the bytes) into any
  // container of bytes with `clear` and `insert`. The container grows only
  // by the bytes that actually arrive, so a hostile length costs nothing
  // beyond the end of input.
  template <class Bytes>
  void getString(Bytes& into) {
    std::uint64_t left = get<std::uint64_t>();
    into.clear();
    while (left > 0) {
      if (rpos_ == rend_) nextReadArea();
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, std::uint64_t(rend_ - rpos_)));
      into.insert(into.end(), rpos_, rpos_ + n);
      rpos_ += n;
      left -= n;
      if (rpos_ == rend_) commitReadArea();
    }
  }

  // Counts one level of nesting for as long as it lives; throws
  // error::EParseError past kMaxReadNesting.
  class NestingGuard {
   public:
    explicit NestingGuard(ioprim& io);
    ~NestingGuard() { --io_.depth_; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

   private:
    ioprim& io_;
  };

  // Input that breaks the event framing itself (an unknown type number, an
  // ordinary event of the exception type) fails an internal check: between
  // sibling processes of one program family it means a broken peer. A fuzz
  // target that must keep going turns these checks into error::EParseError.
  [[noreturn]] void badEvent(const std::string& text) const;
  void throwOnBadEventForTest(bool enable) { throw_on_bad_event_ = enable; }

 private:
  void getSlow(void* into, std::size_t size);
  void nextReadArea();
  void commitReadArea();
  void newWriteArea(std::size_t needed);
  void releaseWriteArea();

  io::IStream* in_;
  io::OStream* out_;

  std::uint8_t* wstart_ = nullptr;
  std::size_t wsize_ = 0;
  std::size_t wused_ = 0;

  const std::uint8_t* rstart_ = nullptr;
  const std::uint8_t* rend_ = nullptr;
  const std::uint8_t* rpos_ = nullptr;

  int depth_ = 0;
  // Bytes were handed to the output stream that it may not have written.
  bool holding_ = false;
  std::int32_t last_read_type_ = 0;
  std::int32_t last_read_dest_ = 0;
  bool throw_on_bad_event_ = false;
};

}  // namespace queues
