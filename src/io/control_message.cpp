#include "io/control_message.h"

#include "error/check.h"

namespace io {

namespace {

bool isOffsetType(MessageType type) {
  return type >= MessageType::MessageAt && type <= MessageType::ExtraSize;
}

// The low byte of an id-like type's word.
std::uint32_t idCode(MessageType type) {
  if (type == MessageType::RequestPeer) return 0;
  return static_cast<std::uint32_t>(static_cast<int>(type) - 4) * 8;
}

}  // namespace

const char* messageTypeName(MessageType type) {
  switch (type) {
    case MessageType::MT_Undefined:
      return "Undefined";
    case MessageType::MessageAt:
      return "MessageAt";
    case MessageType::AckMessageAt:
      return "AckMessageAt";
    case MessageType::ExtraOffset:
      return "ExtraOffset";
    case MessageType::ExtraSize:
      return "ExtraSize";
    case MessageType::RequestPeer:
      return "RequestPeer";
    case MessageType::IAmUp:
      return "IAmUp";
    case MessageType::SiblingAt:
      return "SiblingAt";
    case MessageType::InitShutdown:
      return "InitShutdown";
    case MessageType::AckShutdown:
      return "AckShutdown";
    case MessageType::ExtraSiblingId:
      return "ExtraSiblingId";
    case MessageType::SiblingDied:
      return "SiblingDied";
  }
  return "Undefined";
}

ControlMessage ControlMessage::make(MessageType type, std::int64_t value, int sender) {
  HX_CHECK(type != MessageType::MT_Undefined, "Cannot build an MT_Undefined control message");
  if (isOffsetType(type)) {
    HX_CHECK(value >= 0 && value <= 0xfffffff8 && value % 8 == 0,
             "Control message value " + std::to_string(value) + " is not a 32-bit multiple of 8");
    return ControlMessage(static_cast<std::uint32_t>(value) + static_cast<std::uint32_t>(type),
                          sender);
  }
  HX_CHECK(value >= kMinId && value <= kMaxId,
           "Sibling id " + std::to_string(value) + " does not fit a control message");
  const auto upper = static_cast<std::uint32_t>(static_cast<std::int32_t>(value)) << 8;
  return ControlMessage(upper | idCode(type), sender);
}

ControlMessage ControlMessage::decode(const std::uint8_t* bytes) {
  std::uint32_t word = 0;
  std::uint32_t sender = 0;
  for (int i = 3; i >= 0; --i) {
    word = (word << 8) | bytes[i];
    sender = (sender << 8) | bytes[4 + i];
  }
  return ControlMessage(word, static_cast<std::int32_t>(sender));
}

std::array<std::uint8_t, ControlMessage::kSize> ControlMessage::encode() const {
  std::array<std::uint8_t, kSize> out{};
  const auto sender = static_cast<std::uint32_t>(sender_);
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<std::uint8_t>(word_ >> (8 * i));
    out[4 + i] = static_cast<std::uint8_t>(sender >> (8 * i));
  }
  return out;
}

MessageType ControlMessage::type() const {
  const std::uint32_t low3 = word_ & 7u;
  if (low3 >= 1 && low3 <= 4) return static_cast<MessageType>(low3);
  if (low3 != 0) return MessageType::MT_Undefined;
  const std::uint32_t code = word_ & 0xffu;
  if (code == 0) return MessageType::RequestPeer;
  if (code == 8 || code > 56) return MessageType::MT_Undefined;
  return static_cast<MessageType>(code / 8 + 4);
}

std::int64_t ControlMessage::value() const {
  const MessageType t = type();
  if (t == MessageType::MT_Undefined) return 0;
  if (isOffsetType(t)) return word_ & ~std::uint32_t{7};
  // Arithmetic shift of the signed word keeps the id's sign.
  return static_cast<std::int32_t>(word_) >> 8;
}

std::string ControlMessage::toString() const {
  const MessageType t = type();
  if (t == MessageType::MT_Undefined) return "Undefined";
  return std::string(messageTypeName(t)) + "(" + std::to_string(value()) +
         ") [from:" + std::to_string(sender_) + "]";
}

}  // namespace io
