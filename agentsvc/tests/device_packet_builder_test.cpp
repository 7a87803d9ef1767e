// The client-side management packet helpers: what they build must read back
// through the wire header's accessors, and the stream splitter must find
// packet boundaries however the bytes arrive.
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
  EXPECT_EQ(kMagicValue, LoadBE16(p.data() + kMagic));
  EXPECT_EQ(kVersionValue, p[kVersion]);
  EXPECT_EQ(kFlagExpectsAnswer, Flags(p.data()));
  EXPECT_EQ(0x05, Opcode(p.data()));
  EXPECT_EQ(0x1234, Transaction(p.data()));
  EXPECT_EQ(payload.size(), PayloadLength(p.data()));
  EXPECT_EQ(0, LoadBE16(p.data() + kLocalMarker));
  EXPECT_EQ(payload, Bytes(p.begin() + kHeaderSize, p.end()));
}

TEST(DevicePacketBuilder, RegistrationPayloadFollowsTheRegisterLayout) {
  const std::uint16_t events[] = {0x0102, 0x0A0B};
  Bytes p =
      BuildPacket(kFlagExpectsAnswer, kOpRegister, 1, RegistrationPayload(0x11223344, events, 90));
  const std::uint8_t* d = p.data();
  EXPECT_EQ(0, d[registration::kPrefix]);
  EXPECT_EQ(0x11223344u, LoadBE32(d + registration::kKey));
  EXPECT_EQ(0, LoadBE16(d + registration::kFirstParameter));
  EXPECT_EQ(0, LoadBE16(d + registration::kSecondParameter));
  const std::size_t count = registration::kRegisterCodeCount;
  ASSERT_EQ(2, LoadBE16(d + count));
  EXPECT_EQ(0x0102, LoadBE16(d + count + 2));
  EXPECT_EQ(0x0A0B, LoadBE16(d + count + 4));
  const std::size_t third = count + 6;
  EXPECT_EQ(0u, LoadBE32(d + third));
  const std::size_t block = third + registration::kThirdParameterSize;
  EXPECT_EQ(0, LoadBE16(d + block));  // no optional block
  const std::size_t duration = block + 2;
  ASSERT_EQ(duration + registration::kDurationSize, p.size());
  EXPECT_EQ(90u * 60000, DurationMilliseconds(LoadBE32(d + duration)));
  // The payload's tail after N, with no codes, is the minimum the service accepts.
  const Bytes bare = RegistrationPayload(1, {}, 0);
  EXPECT_EQ(registration::kRegisterCodeCount - kHeaderSize + registration::kTailMinimum,
            bare.size());
}

TEST(DevicePacketStream, FindsPacketsSplitAnywhereAndJoinedTogether) {
  const Bytes first = BuildPacket(0, 5, 1, Bytes{1, 2, 3, 4, 5});
  const Bytes second = BuildPacket(kFlagAnswer, 6, 2, {});
  Bytes stream = first;
  stream.insert(stream.end(), second.begin(), second.end());

  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    PacketStream splitter;
    std::vector<Bytes> found;
    for (const auto& piece : {std::span(stream).first(cut), std::span(stream).subspan(cut)}) {
      splitter.Append(piece);
      for (auto item = splitter.Next(); item.kind != PacketStream::Kind::kNeedMore;
           item = splitter.Next()) {
        ASSERT_EQ(PacketStream::Kind::kPacket, item.kind) << "cut at " << cut;
        found.push_back(item.bytes);
      }
    }
    ASSERT_EQ(2u, found.size()) << "cut at " << cut;
    EXPECT_EQ(first, found[0]);
    EXPECT_EQ(second, found[1]);
  }
}

TEST(DevicePacketStream, HandsBackEverythingHeldWhenTheHeaderIsNotAPacket) {
  // A wrong magic, a wrong version, opcode 0xFA (beyond the last).
  for (std::size_t at : {kMagic, kVersion, kOpcode + 1}) {
    Bytes bad = BuildPacket(0, 5, 1, Bytes{9, 9});
    bad[at] ^= 0xFF;
    bad.push_back(0x77);
    PacketStream splitter;
    splitter.Append(bad);
    const PacketStream::Item item = splitter.Next();
    EXPECT_EQ(PacketStream::Kind::kGarbage, item.kind) << "byte " << at;
    EXPECT_EQ(bad, item.bytes);
    EXPECT_EQ(PacketStream::Kind::kNeedMore, splitter.Next().kind);
  }
  // Opcode 0 lies below the first valid opcode.
  PacketStream splitter;
  splitter.Append(BuildPacket(0, 0, 1, {}));
  EXPECT_EQ(PacketStream::Kind::kGarbage, splitter.Next().kind);
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
