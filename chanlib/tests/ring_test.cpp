#include "chanlib/ring.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "chanlib/result_codes.h"

namespace tgx::chanlib {
namespace {

// A data packet on 5/0x10 carrying payload bytes first, first + 1, ...
std::vector<std::uint8_t> DataPacket(std::size_t payload, std::uint8_t first) {
  std::vector<std::uint8_t> packet(kPacketHeaderSize + payload);
  PacketHeader header{5, 0x10, static_cast<std::uint16_t>(packet.size()), 0, 0};
  std::memcpy(packet.data(), &header, sizeof header);
  std::iota(packet.begin() + kPacketHeaderSize, packet.end(), first);
  return packet;
}

struct RingFixture : ::testing::Test {
  static constexpr std::uint16_t kPacketSize = 16;
  RingDescriptor descriptor = [] {
    RingDescriptor d{};
    d.slotCount = 3;
    return d;
  }();
  std::vector<std::byte> buffer = std::vector<std::byte>(3 * kPacketSize);
  Ring ring{descriptor, buffer, kPacketSize};
};

TEST_F(RingFixture, TakesPayloadAcrossPacketsAndTheEnd) {
  ASSERT_EQ(kOk, ring.Store(DataPacket(10, 0)));   // 16 bytes at 0
  ASSERT_EQ(kOk, ring.Store(DataPacket(10, 10)));  // 16 bytes at 16
  EXPECT_EQ(20, ring.PayloadHeld());
  std::vector<std::uint8_t> out(4);
  ASSERT_EQ(4, ring.Take(out));
  EXPECT_EQ((std::vector<std::uint8_t>{0, 1, 2, 3}), out);
  EXPECT_EQ(4, descriptor.partialBytes);
  EXPECT_EQ(16, ring.PayloadHeld());
  out.resize(10);
  ASSERT_EQ(10, ring.Take(out));
  EXPECT_EQ((std::vector<std::uint8_t>{4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), out);
  EXPECT_EQ(1, descriptor.packetsHeld);

  // Two more packets: the second wraps past the end of the 48-byte buffer.
  ASSERT_EQ(kOk, ring.Store(DataPacket(8, 20)));              // 14 bytes at 32
  ASSERT_EQ(kOk, ring.Store(DataPacket(9, 30)));              // 15 bytes at 46, split 2 + 13
  EXPECT_EQ(kProtocolFailure, ring.Store(DataPacket(1, 0)));  // all three slots full
  EXPECT_EQ(13u, descriptor.writeOffset);
  out.assign(100, 0xEE);
  ASSERT_EQ(6 + 8 + 9, ring.Take(out));
  EXPECT_EQ((std::vector<std::uint8_t>{14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
                                       26, 27, 30, 31, 32, 33, 34, 35, 36, 37, 38}),
            std::vector<std::uint8_t>(out.begin(), out.begin() + 23));
  EXPECT_EQ(0, descriptor.packetsHeld);
  EXPECT_EQ(descriptor.writeOffset, descriptor.readOffset);
  EXPECT_EQ(0, ring.Take(out));
}

TEST_F(RingFixture, PopsWholePacketsWithTheirHeaders) {
  const auto first = DataPacket(3, 1);
  ASSERT_EQ(kOk, ring.Store(first));
  ASSERT_EQ(kOk, ring.Store(DataPacket(0, 0)));
  std::vector<std::uint8_t> out(kPacketSize);
  ASSERT_EQ(9, ring.PopPacket(out));
  EXPECT_EQ(first, std::vector<std::uint8_t>(out.begin(), out.begin() + 9));
  ASSERT_EQ(6, ring.PopPacket(out));
  EXPECT_EQ(0, ring.PopPacket(out));
}

TEST_F(RingFixture, RefusesWhatItCannotHold) {
  EXPECT_EQ(kPacketTooLong, ring.Store(DataPacket(11, 0)));  // 17 > 16
  EXPECT_EQ(kPacketTooLong, ring.Store(std::vector<std::uint8_t>(5)));
  RingDescriptor none{};
  Ring empty(none, {}, kPacketSize);
  EXPECT_FALSE(empty.usable());
  EXPECT_EQ(kNoRing, empty.Store(DataPacket(1, 0)));
  std::vector<std::uint8_t> out(4);
  EXPECT_EQ(kNoRing, empty.Take(out));
  EXPECT_EQ(0, empty.PayloadHeld());
}

TEST_F(RingFixture, DistrustsCorruptCounters) {
  descriptor.readOffset = 48;  // past the buffer
  EXPECT_FALSE(ring.usable());
  std::vector<std::uint8_t> out(4);
  EXPECT_EQ(kNoRing, ring.Take(out));

  descriptor.readOffset = 0;
  descriptor.packetsHeld = 4;  // more than the slots
  EXPECT_FALSE(ring.usable());

  // A header in the buffer that claims more than the packet size.
  descriptor.packetsHeld = 1;
  buffer[2] = std::byte{0x01};
  EXPECT_EQ(-1, ring.PayloadHeld());
  EXPECT_EQ(kPacketTooLong, ring.Take(out));
  EXPECT_EQ(kPacketTooLong, ring.PopPacket(out));
}

TEST_F(RingFixture, ReservesOutgoingPacketsInTwoPiecesAtTheEnd) {
  descriptor.writeOffset = 40;
  descriptor.readOffset = 40;
  const Ring::Pieces pieces = ring.Reserve(12);
  EXPECT_EQ(buffer.data() + 40, pieces.first.data());
  EXPECT_EQ(8u, pieces.first.size());
  EXPECT_EQ(buffer.data(), pieces.second.data());
  EXPECT_EQ(4u, pieces.second.size());
  ring.Release(12);
  EXPECT_EQ(4u, descriptor.writeOffset);
  EXPECT_EQ(4u, descriptor.readOffset);
  EXPECT_TRUE(ring.Reserve(17).first.empty());
}

}  // namespace
}  // namespace tgx::chanlib
