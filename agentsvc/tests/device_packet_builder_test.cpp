// The client-side management packet helpers: what they build must read back
// through the wire header's accessors.
#include "tgx/device_packet_builder.h"

#include <gtest/gtest.h>

#include <string>

#include "tgx/device_packet.h"

namespace tgx::agent::packet {
namespace {

TEST(DevicePacketBuilder, HeaderFieldsReadBackThroughTheWireAccessors) {
  const Bytes payload = {0xAA, 0xBB, 0xCC};
  const Bytes p = BuildPacket(kFlagExpectsAnswer, 5, 0x1234, payload);
  ASSERT_EQ(kHeaderSize + payload.size(), p.size());
  EXPECT_EQ(kMagicValue, LoadBe16(p.data() + kMagic));
  EXPECT_EQ(kVersionValue, p[kVersion]);
  EXPECT_EQ(kFlagExpectsAnswer, Flags(p.data()));
  EXPECT_EQ(0x05, Opcode(p.data()));
  EXPECT_EQ(0x1234, Transaction(p.data()));
  EXPECT_EQ(payload.size(), PayloadLength(p.data()));
  EXPECT_EQ(0, LoadBe16(p.data() + kLocalMarker));
  EXPECT_EQ(payload, Bytes(p.begin() + kHeaderSize, p.end()));
}

TEST(DevicePacketBuilder, RegistrationPayloadFollowsTheRegisterLayout) {
  const std::uint16_t events[] = {0x0102, 0x0A0B};
  Bytes p =
      BuildPacket(kFlagExpectsAnswer, kOpRegister, 1, RegistrationPayload(0x11223344, events, 90));
  const std::uint8_t* d = p.data();
  EXPECT_EQ(0, d[registration::kPrefix]);
  EXPECT_EQ(0x11223344u, LoadBe32(d + registration::kKey));
  EXPECT_EQ(0, LoadBe16(d + registration::kFirstParameter));
  EXPECT_EQ(0, LoadBe16(d + registration::kSecondParameter));
  const std::size_t count = registration::kRegisterCodeCount;
  ASSERT_EQ(2, LoadBe16(d + count));
  EXPECT_EQ(0x0102, LoadBe16(d + count + 2));
  EXPECT_EQ(0x0A0B, LoadBe16(d + count + 4));
  const std::size_t third = count + 6;
  EXPECT_EQ(0u, LoadBe32(d + third));
  const std::size_t block = third + registration::kThirdParameterSize;
  EXPECT_EQ(0, LoadBe16(d + block));  // no optional block
  const std::size_t duration = block + 2;
  ASSERT_EQ(duration + registration::kDurationSize, p.size());
  EXPECT_EQ(90u * 60000, DurationMilliseconds(LoadBe32(d + duration)));
  // The payload's tail after N, with no codes, is the minimum the service accepts.
  const Bytes bare = RegistrationPayload(1, {}, 0);
  EXPECT_EQ(registration::kRegisterCodeCount - kHeaderSize + registration::kTailMinimum,
            bare.size());
}

TEST(DevicePacketText, NamesTheKindAndDumpsThePayload) {
  const Bytes event = BuildPacket(0, kOpNotification, 0, Bytes{'A', 0x00});
  EXPECT_EQ(
      "event opcode=10 id=0 flags=0x00 payload=2 bytes\n"
      "  0000  41 00                                            A.\n",
      FormatPacket(event));
  const Bytes answer = BuildPacket(kFlagAnswer, 5, 7, {});
  EXPECT_EQ("answer opcode=5 id=7 flags=0x01 payload=0 bytes\n", FormatPacket(answer));

  Bytes seventeen(17);
  for (std::size_t i = 0; i < seventeen.size(); ++i)
    seventeen[i] = static_cast<std::uint8_t>('a' + i);
  const std::string dump = HexDump(seventeen);
  EXPECT_EQ(
      "  0000  61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70  abcdefghijklmnop\n"
      "  0010  71                                               q\n",
      dump);
}

}  // namespace
}  // namespace tgx::agent::packet
