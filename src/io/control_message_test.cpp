#include "io/control_message.h"

#include <gtest/gtest.h>

namespace io {
namespace {

struct Encoding {
  MessageType type;
  std::int64_t value;
  std::uint32_t word;
  const char* printed;  // from sender 0
};

TEST(ControlMessageTest, EveryTypeHasItsWordAndBytesAndComesBack) {
  const Encoding table[] = {
      {MessageType::MessageAt, 4096, 4096 + 1, "MessageAt(4096) [from:0]"},
      {MessageType::AckMessageAt, 0xfffffff8, 0xfffffff8 + 2, "AckMessageAt(4294967288) [from:0]"},
      {MessageType::ExtraOffset, 64, 64 + 3, "ExtraOffset(64) [from:0]"},
      {MessageType::ExtraSize, 8, 8 + 4, "ExtraSize(8) [from:0]"},
      {MessageType::RequestPeer, 7, 7 * 256, "RequestPeer(7) [from:0]"},
      {MessageType::IAmUp, 0, 16, "IAmUp(0) [from:0]"},
      {MessageType::SiblingAt, 3, 3 * 256 + 24, "SiblingAt(3) [from:0]"},
      {MessageType::InitShutdown, 128, 128 * 256 + 32, "InitShutdown(128) [from:0]"},
      {MessageType::AckShutdown, -5, 0xfffffb00u + 40, "AckShutdown(-5) [from:0]"},
      {MessageType::ExtraSiblingId, 2, 2 * 256 + 48, "ExtraSiblingId(2) [from:0]"},
      {MessageType::SiblingDied, -127, 0xffff8100u + 56, "SiblingDied(-127) [from:0]"},
  };
  for (const Encoding& e : table) {
    SCOPED_TRACE(e.printed);
    const ControlMessage m = ControlMessage::make(e.type, e.value, 0);
    EXPECT_EQ(m.word(), e.word);
    EXPECT_EQ(m.type(), e.type);
    EXPECT_EQ(m.value(), e.value);
    EXPECT_EQ(m.toString(), e.printed);
    EXPECT_EQ(ControlMessage::decode(m.encode().data()), m);
  }
  // On the wire: the word little-endian, then the signed sender.
  const ControlMessage m = ControlMessage::make(MessageType::SiblingAt, 3, -2);
  const std::array<std::uint8_t, 8> expected{24, 3, 0, 0, 0xfe, 0xff, 0xff, 0xff};
  EXPECT_EQ(m.encode(), expected);
  EXPECT_EQ(ControlMessage::decode(expected.data()).sender(), -2);
  EXPECT_EQ(m.toString(), "SiblingAt(3) [from:-2]");
}

TEST(ControlMessageTest, EveryUndefinedPatternDecodesAsUndefined) {
  const std::uint32_t undefined[] = {5,          6,           7,          8,          64, 0x100 + 8,
                                     0x100 + 64, 0x100 + 255, 0xffffffff, 0xfffffffd, 200};
  for (const std::uint32_t word : undefined) {
    SCOPED_TRACE(word);
    const ControlMessage m(word, 4);
    EXPECT_EQ(m.type(), MessageType::MT_Undefined);
    EXPECT_EQ(m.toString(), "Undefined");
  }
  // Every low byte with clear low bits other than 8 and above 56 is defined.
  for (std::uint32_t low = 0; low <= 56; low += 8) {
    EXPECT_EQ(ControlMessage(0x300 + low, 0).type() == MessageType::MT_Undefined, low == 8) << low;
  }
}

TEST(ControlMessageDeathTest, ValuesThatDoNotFitTheWordAreRefused) {
  EXPECT_DEATH((void)ControlMessage::make(MessageType::MessageAt, 12, 0), "not a 32-bit multiple");
  EXPECT_DEATH((void)ControlMessage::make(MessageType::ExtraSize, std::int64_t{1} << 32, 0),
               "not a 32-bit multiple");
  EXPECT_DEATH((void)ControlMessage::make(MessageType::SiblingAt, ControlMessage::kMaxId + 1, 0),
               "does not fit");
}

}  // namespace
}  // namespace io
