#include "tgx/wire/packet_1284.h"

#include <gtest/gtest.h>

#include <vector>

namespace tgx::wire {
namespace {

std::vector<std::uint8_t> Bytes(const TransactionPacket& packet) {
  return {packet.view().begin(), packet.view().end()};
}

TEST(Packet, CommandsEncodeWithHeaderCreditAndBigEndianFields) {
  EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 8, 1, 0, 0x00, 0x01}),
            Bytes(EncodeTransaction(InitCommand{1})));
  EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 17, 1, 0, 0x01, 0x05, 0x10, 0x10, 0x00, 0x10, 0x00,
                                       0xFF, 0xFF, 0xFF, 0xFF}),
            Bytes(EncodeTransaction(OpenChannelCommand{5, 0x10, 4096, 4096, 0xFFFF, 0xFFFF})));
  EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 9, 1, 0, 0x02, 0x05, 0x20}),
            Bytes(EncodeTransaction(CloseChannelCommand{5, 0x20})));
  EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 11, 1, 0, 0x03, 0x05, 0x20, 0x01, 0x02}),
            Bytes(EncodeTransaction(CreditCommand{5, 0x20, 0x0102})));
  EXPECT_EQ(
      (std::vector<std::uint8_t>{0, 0, 0, 13, 1, 0, 0x04, 0x05, 0x10, 0xFF, 0xFF, 0xFF, 0xFF}),
      Bytes(EncodeTransaction(CreditRequestCommand{5, 0x10, 0xFFFF, 0xFFFF})));
  EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 7, 1, 0, 0x08}),
            Bytes(EncodeTransaction(ExitCommand{})));
  EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 9, 1, 0, 0x80, 4, 0x10}),
            Bytes(EncodeTransaction(InitReply{kResultRefused, kHostRevision})));
}

TEST(Packet, RepliesDecodeFromTheWire) {
  const std::vector<std::uint8_t> wire{0, 0,    0,    16,   2,    0,    0x81, 0,
                                       5, 0x10, 0x02, 0x00, 0x01, 0x00, 0x00, 0x07};
  const auto reply = DecodeTransaction<OpenChannelReply>(wire);
  ASSERT_TRUE(reply);
  EXPECT_EQ(0, reply->result);
  EXPECT_EQ(5, reply->primarySocket);
  EXPECT_EQ(0x10, reply->secondarySocket);
  EXPECT_EQ(512, reply->sendPacketSize);
  EXPECT_EQ(256, reply->recvPacketSize);
  EXPECT_EQ(7, reply->credit);
  const PacketHeader header = DecodeHeader(wire);
  EXPECT_EQ(16, header.length);
  EXPECT_EQ(2, header.credit);
  // Another code, or a body cut short, is no such reply.
  EXPECT_FALSE(DecodeTransaction<CloseChannelReply>(wire));
  EXPECT_FALSE(DecodeTransaction<OpenChannelReply>(std::span(wire).first(15)));
  EXPECT_FALSE(TransactionCode(std::span(wire).first(6)));
  // Trailing bytes beyond the body are ignored.
  std::vector<std::uint8_t> longer = wire;
  longer.push_back(0xEE);
  EXPECT_TRUE(DecodeTransaction<OpenChannelReply>(longer));
}

}  // namespace
}  // namespace tgx::wire
