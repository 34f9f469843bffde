#pragma once
// The 8-byte control messages that siblings exchange over their pipes,
// little-endian:
//   bytes 0-3  word: the type and its value
//   bytes 4-7  the sender's sibling id, signed
// Offset-like types keep their type in the low 3 bits (1 to 4) and their
// value (a multiple of 8) in the rest of the word. Id-like types keep a
// code in the low byte (low 3 bits clear) and a signed sibling id in the
// upper 24 bits. Every other pattern is undefined.
#include <array>
#include <cstdint>
#include <string>

namespace io {

enum class MessageType : int {
  MT_Undefined = 0,
  MessageAt = 1,
  AckMessageAt = 2,
  ExtraOffset = 3,
  ExtraSize = 4,
  RequestPeer = 5,
  IAmUp = 6,
  SiblingAt = 7,
  InitShutdown = 8,
  AckShutdown = 9,
  ExtraSiblingId = 10,
  SiblingDied = 11,
};

[[nodiscard]] const char* messageTypeName(MessageType type);

class ControlMessage {
 public:
  static constexpr std::size_t kSize = 8;
  // Sibling ids that fit the 24 bits of an id-like word.
  static constexpr std::int64_t kMinId = -(std::int64_t{1} << 23);
  static constexpr std::int64_t kMaxId = (std::int64_t{1} << 23) - 1;

  ControlMessage() = default;
  ControlMessage(std::uint32_t word, std::int32_t sender) : word_(word), sender_(sender) {}

  // Builds a message of a defined type. For offset-like types the value must
  // be a multiple of 8 below 2^32, for id-like types a sibling id in
  // [kMinId, kMaxId]; anything else fails an internal check.
  [[nodiscard]] static ControlMessage make(MessageType type, std::int64_t value, int sender);

  [[nodiscard]] static ControlMessage decode(const std::uint8_t* bytes);
  [[nodiscard]] std::array<std::uint8_t, kSize> encode() const;

  [[nodiscard]] std::uint32_t word() const { return word_; }
  [[nodiscard]] int sender() const { return sender_; }
  // MT_Undefined for every pattern the table does not define.
  [[nodiscard]] MessageType type() const;
  // The offset or size (offset-like types) or the sibling id (id-like
  // types); 0 for an undefined message.
  [[nodiscard]] std::int64_t value() const;

  // "SiblingAt(3) [from:0]"; "Undefined" for an undefined message.
  [[nodiscard]] std::string toString() const;

  friend bool operator==(const ControlMessage& a, const ControlMessage& b) {
    return a.word_ == b.word_ && a.sender_ == b.sender_;
  }

 private:
  std::uint32_t word_ = 0;
  std::int32_t sender_ = 0;
};

}  // namespace io
