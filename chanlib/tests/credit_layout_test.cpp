#include <gtest/gtest.h>

#include <vector>

#include "chanlib/credit.h"
#include "chanlib/shared_layout.h"

namespace tgx::chanlib {
namespace {

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
