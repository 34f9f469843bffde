#pragma once
// Reads one BER element into a value as its bytes arrive, in pieces of any
// size: identifier and length octets are parsed here, the content goes to the
// value through allocate, append and readDone, and the elements of a
// constructed value go to whatever value it answers for their tags. Both the
// definite and the indefinite length forms are accepted. Lengths are checked
// against the enclosing elements but never used to size a buffer, so hostile
// input costs no more memory than its own bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "protocol/ber_value.h"

namespace protocol {

class BerReader {
 public:
  // Deep enough for every message, shallow enough that hostile nesting
  // cannot exhaust the stack when the values it built are destroyed.
  static constexpr std::size_t kDefaultMaxDepth = 64;

  // `root` receives the element and must outlive the reader.
  explicit BerReader(BerValue& root, std::size_t maxDepth = kDefaultMaxDepth);
  BerReader(const BerReader&) = delete;
  BerReader& operator=(const BerReader&) = delete;

  // Consumes bytes of the element and returns how many it used: all of them
  // until the element is complete, then none beyond its end. Throws EBer on
  // malformed input, after which the reader may not be fed again.
  std::size_t feed(std::span<const std::uint8_t> bytes);
  bool done() const { return state_ == State::done; }
  // Throws EBer "BER element truncated after <n> bytes" unless the element is
  // complete; call it when the input has ended.
  void finish() const;

 private:
  enum class State { identifier, tagNumber, lengthFirst, lengthMore, content, done };
  struct Frame {
    BerConstructed* value;
    std::uint64_t end;    // one past the last content byte; definite form only
    std::uint64_t limit;  // no byte of this frame's elements may reach here
    bool indefinite;
  };

  void consume(std::uint8_t octet);
  void identifierOctet(std::uint8_t octet);
  void tagNumberOctet(std::uint8_t octet);
  void lengthOctet(std::uint8_t octet);
  void headerDone(bool indefinite);
  void endOfContents();
  void startConstructed(BerValue& value, bool indefinite);
  void startPrimitive(BerValue& value);
  void elementDone();
  std::uint64_t limit() const;
  [[noreturn]] void fail(const std::string& what) const;

  BerValue& root_;
  std::size_t max_depth_;
  std::vector<Frame> frames_;
  State state_ = State::identifier;
  bool failed_ = false;
  std::uint64_t pos_ = 0;  // bytes consumed so far

  // The header being parsed.
  std::uint8_t first_identifier_ = 0;
  tag_t tag_ = 0;
  std::uint32_t tag_number_ = 0;
  bool first_tag_group_ = false;
  std::uint8_t first_length_ = 0;
  std::size_t length_octets_left_ = 0;
  std::uint64_t length_ = 0;

  // The primitive whose content is arriving.
  BerPrimitive* primitive_ = nullptr;
  std::uint64_t content_left_ = 0;
};

// Encodes a value; constructed values in the given length form.
std::vector<std::uint8_t> encode(const BerValue& value,
                                 LengthForm constructedForm = LengthForm::definite);

// Reads exactly one element from `bytes` into `value`. Throws EBer on
// malformed or truncated input and on bytes left after the element.
void decode(std::span<const std::uint8_t> bytes, BerValue& value,
            std::size_t maxDepth = BerReader::kDefaultMaxDepth);

}  // namespace protocol
