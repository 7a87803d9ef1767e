#include "chanlib/packet.h"

#include <gtest/gtest.h>

#include <vector>

#include "chanlib/credit.h"
#include "chanlib/shared_layout.h"

namespace tgx::chanlib {
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

TEST(Credit, CountersSaturateAndNeverGoNegative) {
  EXPECT_EQ(7, AddCredit(5, 2));
  EXPECT_EQ(0xFFFF, AddCredit(0xFFF0, 0x100));
  EXPECT_EQ(0, UseCredit(0));
  EXPECT_EQ(4, UseCredit(5));
}

TEST(Credit, CreditRequestGrantsWhatTheRingHasFree) {
  // 10 slots, 3 held, 2 promised: 5 free.
  EXPECT_EQ(4, CreditRequestGrant(10, 3, 2, 4, 0));
  EXPECT_EQ(5, CreditRequestGrant(10, 3, 2, 9, 0));
  // 0xFFFF means "up to the maximum outstanding", when that is a real bound.
  EXPECT_EQ(3, CreditRequestGrant(10, 3, 2, 0xFFFF, 3));
  EXPECT_EQ(5, CreditRequestGrant(10, 3, 2, 0xFFFF, 0));
  EXPECT_EQ(5, CreditRequestGrant(10, 3, 2, 0xFFFF, 0xFFFF));
  // A printer that sent beyond its credit gets nothing.
  EXPECT_EQ(0, CreditRequestGrant(10, 9, 3, 5, 0));
}

TEST(Credit, OutgoingCreditByteOnlyOnTheSharedManagementChannel) {
  EXPECT_EQ(0, OutgoingCreditByte(0x10, 10, 0, 0));
  EXPECT_EQ(0, OutgoingCreditByte(0x30, 10, 0, 0));
  EXPECT_EQ(1, OutgoingCreditByte(0x20, 10, 0, 0));  // 10 free > 8
  EXPECT_EQ(1, OutgoingCreditByte(0x20, 10, 1, 0));  // 9 free > 8
  EXPECT_EQ(8, OutgoingCreditByte(0x20, 10, 1, 1));
  EXPECT_EQ(1, OutgoingCreditByte(0x20, 10, 5, 4));
  EXPECT_EQ(0, OutgoingCreditByte(0x20, 10, 6, 4));
  EXPECT_EQ(0, OutgoingCreditByte(0x20, 10, 8, 4));
}

TEST(SharedLayout, RecordsSitAtTheirOffsetsInTheMainTable) {
  std::vector<std::byte> table(main_table::kSize);
  MainTableView view(table.data());
  EXPECT_EQ(table.data() + 2 * 48, reinterpret_cast<std::byte*>(&view.portCommand(2)));
  EXPECT_EQ(table.data() + 0x0600 + 29 * 56, reinterpret_cast<std::byte*>(&view.socket(29)));
  EXPECT_EQ(table.data() + 0x1C00 + 48, reinterpret_cast<std::byte*>(&view.connection(1)));
  EXPECT_EQ(table.data() + 0x3000 + 4 * 60, reinterpret_cast<std::byte*>(&view.port(4)));
  EXPECT_EQ(table.data() + 0x4500 + 35 * 80, reinterpret_cast<std::byte*>(&view.channel(35)));

  // Fields are little-endian in the shared table.
  PortCommandRecord& record = view.portCommand(1);
  record.bufferB = 0x00020105;
  record.status = 1;
  EXPECT_EQ(std::byte{0x05}, table[48 + 36]);
  EXPECT_EQ(std::byte{0x01}, table[48 + 37]);
  EXPECT_EQ(std::byte{0x02}, table[48 + 38]);
  EXPECT_EQ(std::byte{0x01}, table[48 + 20]);
  record.bufferA = -1;
  EXPECT_EQ(-1, record.bufferA.get());
  EXPECT_EQ(std::byte{0xFF}, table[48 + 35]);
}

}  // namespace
}  // namespace tgx::chanlib
