// The management packet splitter: whole packets however the bytes arrive, and
// a stream that does not start with a valid header handed back whole.
#include "tgx/wire/device_packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace tgx::wire::device_packet {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Packet(std::uint8_t flags, std::uint16_t opcode, std::uint16_t id, const Bytes& payload) {
  Bytes p(kHeaderSize);
  StoreBe16(p.data() + kMagic, kMagicValue);
  p[kVersion] = kVersionValue;
  p[kFlags] = flags;
  StoreBe16(p.data() + kOpcode, opcode);
  SetTransaction(p.data(), id);
  SetPayloadLength(p.data(), static_cast<std::uint16_t>(payload.size()));
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

std::vector<Bytes> Drain(Splitter& splitter) {
  std::vector<Bytes> found;
  Bytes packet;
  while (splitter.Next(packet) == Splitter::Status::kPacket) found.push_back(packet);
  return found;
}

TEST(DevicePacketSplitter, FindsPacketsSplitAnywhereAndJoinedTogether) {
  const Bytes first = Packet(kFlagExpectsAnswer, 5, 1, Bytes{1, 2, 3, 4, 5});
  const Bytes second = Packet(kFlagAnswer, 128, 2, {});
  Bytes stream = first;
  stream.insert(stream.end(), second.begin(), second.end());
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    Splitter splitter(Answers::kAccepted);
    std::vector<Bytes> found;
    for (const auto& piece : {std::span(stream).first(cut), std::span(stream).subspan(cut)}) {
      splitter.Feed(piece);
      for (Bytes& p : Drain(splitter)) found.push_back(std::move(p));
    }
    ASSERT_EQ(2u, found.size()) << "cut at " << cut;
    EXPECT_EQ(first, found[0]);
    EXPECT_EQ(second, found[1]);
    EXPECT_EQ(0u, splitter.Buffered());
  }
}

TEST(DevicePacketSplitter, KeepsAPartialPacketUntilItIsWhole) {
  const Bytes p = Packet(0, 3, 7, Bytes(300, 0xAB));
  Splitter splitter(Answers::kRefused);
  splitter.Feed(std::span(p).first(25));
  Bytes out;
  EXPECT_EQ(Splitter::Status::kNeedMore, splitter.Next(out));
  EXPECT_EQ(25u, splitter.Buffered());
  splitter.Feed(std::span(p).subspan(25));
  ASSERT_EQ(Splitter::Status::kPacket, splitter.Next(out));
  EXPECT_EQ(p, out);
}

TEST(DevicePacketSplitter, HandsBackEverythingHeldWhenTheHeaderIsNotAPacket) {
  const Bytes good = Packet(0, 5, 1, Bytes{9, 9});
  Bytes bad_magic = good, bad_version = good;
  bad_magic[kMagic] ^= 0xFF;
  bad_version[kVersion] = 0x11;
  for (const Bytes& bad : {bad_magic, bad_version, Packet(0, 0, 1, {}), Packet(0, 129, 1, {})}) {
    Splitter splitter(Answers::kAccepted);
    splitter.Feed(good);
    splitter.Feed(bad);
    splitter.Feed(Bytes{0x77});
    Bytes out;
    ASSERT_EQ(Splitter::Status::kPacket, splitter.Next(out));
    EXPECT_EQ(good, out);
    ASSERT_EQ(Splitter::Status::kBroken, splitter.Next(out));
    Bytes held = bad;
    held.push_back(0x77);
    EXPECT_EQ(held, out);
    EXPECT_EQ(0u, splitter.Buffered());
    EXPECT_EQ(Splitter::Status::kNeedMore, splitter.Next(out));
  }
}

TEST(DevicePacketSplitter, AHostNeverSendsAnswers) {
  const Bytes answer = Packet(kFlagAnswer | kFlagExpectsAnswer, 3, 5, {});
  EXPECT_TRUE(HeaderValid(answer.data(), Answers::kAccepted));
  EXPECT_FALSE(HeaderValid(answer.data(), Answers::kRefused));
  Splitter from_host(Answers::kRefused);
  from_host.Feed(answer);
  Bytes out;
  EXPECT_EQ(Splitter::Status::kBroken, from_host.Next(out));
}

TEST(DevicePacket, DurationPacking) {
  EXPECT_EQ(PackDuration(90 * 60000), 0x011E0000u);  // 1 h, 30 min, 0 ms
  EXPECT_EQ(DurationMilliseconds(0x011E0000u), 90u * 60000u);
  EXPECT_EQ(PackDuration(3600000 + 61234), 0x010104D2u);   // 1 h 1 min 1234 ms
  EXPECT_EQ(PackDuration(300ull * 3600000) >> 24, 0xFFu);  // hours saturate
}

}  // namespace
}  // namespace tgx::wire::device_packet
