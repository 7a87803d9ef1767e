#include "chanlib/dispatch.h"

#include <gtest/gtest.h>

#include "chanlib/result_codes.h"
#include "chanlib/ring.h"
#include "memory_port.h"
#include "tgx/wire/packet_1284.h"

namespace tgx::chanlib {
namespace {

using testing::MemoryPort;

constexpr int kTx = 1;
constexpr int kJob = 2;
constexpr int kManagement = 3;

std::vector<std::uint8_t> Packet(std::uint8_t primary, std::uint8_t secondary,
                                 std::vector<std::uint8_t> body, std::uint8_t credit = 0) {
  std::vector<std::uint8_t> packet(kPacketHeaderSize + body.size());
  PacketHeader header{primary, secondary, static_cast<std::uint16_t>(packet.size()), credit, 0};
  std::memcpy(packet.data(), &header, sizeof header);
  std::copy(body.begin(), body.end(), packet.begin() + kPacketHeaderSize);
  return packet;
}

template <class Body>
std::vector<std::uint8_t> Command(const Body& body, std::uint8_t credit = 1) {
  const TransactionPacket encoded = EncodeTransaction(body);
  std::vector<std::uint8_t> packet(encoded.view().begin(), encoded.view().end());
  packet[4] = credit;
  return packet;
}

struct DispatchTest : ::testing::Test {
  DispatchTest() {
    port.AddTransactionChannel(kTx);
    port.AddChannel(kJob, 7, 0x10, 64, 64);
    port.AddChannel(kManagement, 7, 0x20, 64, 64);
    port.channels[kTx].recv.credit = 2;
    port.channels[kTx].send.credit = 2;
  }
  MemoryPort port;
};

TEST_F(DispatchTest, DataGoesToItsChannelWithItsCredit) {
  port.channels[kJob].recv.credit = 3;
  const auto packet = Packet(7, 0x10, {1, 2, 3}, 4);
  EXPECT_EQ(9, DispatchPacket(port, packet, kJob));
  EXPECT_EQ(4, port.channels[kJob].send.credit);
  EXPECT_EQ(2, port.channels[kJob].recv.credit);
  EXPECT_EQ(1, port.channels[kJob].recv.packetsHeld);
  // For a channel nobody waits on it is kept all the same.
  EXPECT_EQ(0, DispatchPacket(port, Packet(7, 0x20, {9}), kJob));
  EXPECT_EQ(1, port.channels[kManagement].recv.packetsHeld);
  // An empty packet brings credit and nothing to store.
  EXPECT_EQ(0, DispatchPacket(port, Packet(7, 0x10, {}, 1), kJob));
  EXPECT_EQ(5, port.channels[kJob].send.credit);
  EXPECT_EQ(1, port.channels[kJob].recv.packetsHeld);
  EXPECT_TRUE(port.written.empty());
}

TEST_F(DispatchTest, UnknownSocketPairsAreDropped) {
  EXPECT_EQ(kNothingRead, DispatchPacket(port, Packet(9, 0x20, {1}), kJob));
  EXPECT_EQ(kProtocolFailure, DispatchPacket(port, Packet(9, 0x40, {1}), kJob));
  EXPECT_EQ(kProtocolFailure, DispatchPacket(port, std::vector<std::uint8_t>(5), kJob));
}

TEST_F(DispatchTest, RepliesWaitInTheTransactionRing) {
  const auto reply = Command(CreditReply{0, 7, 0x10});
  EXPECT_EQ(10, DispatchPacket(port, reply, kTx));
  Ring ring(port.channels[kTx].recv, port.rings[kTx], 64);
  std::vector<std::uint8_t> out(64);
  ASSERT_EQ(10, ring.PopPacket(out));
  EXPECT_EQ(CreditReply::kCode, out[kCommandOffset]);
  EXPECT_EQ(3, port.channels[kTx].send.credit);
}

TEST_F(DispatchTest, PrinterStartedTransactionsAreRefused) {
  // Sent without credit: the replies use up the host's own.
  EXPECT_EQ(0, DispatchPacket(port, Command(InitCommand{0x20}, 0), kJob));
  EXPECT_EQ(0, DispatchPacket(port, Command(OpenChannelCommand{3, 0x40, 512, 512, 1, 1}, 0), kJob));
  EXPECT_EQ(0, DispatchPacket(port, Command(CloseChannelCommand{7, 0x10}, 0), kJob));
  ASSERT_EQ(3u, port.written.size());
  EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 9, 1, 0, 0x80, 4, 0x10}), port.written[0]);
  const auto open = DecodeTransaction<OpenChannelReply>(port.written[1]);
  ASSERT_TRUE(open);
  EXPECT_EQ(kResultRefused, open->result);
  EXPECT_EQ(3, open->primarySocket);
  EXPECT_EQ(0x40, open->secondarySocket);
  const auto close = DecodeTransaction<CloseChannelReply>(port.written[2]);
  ASSERT_TRUE(close);
  EXPECT_EQ(kResultRefused, close->result);
  // Each reply grants one packet and uses a sending credit (floor 0).
  EXPECT_EQ(0, port.channels[kTx].send.credit);
}

TEST_F(DispatchTest, CreditAndCreditRequestFromThePrinter) {
  EXPECT_EQ(0, DispatchPacket(port, Command(CreditCommand{7, 0x10, 6}), kJob));
  EXPECT_EQ(6, port.channels[kJob].send.credit);
  EXPECT_EQ(0, DispatchPacket(port, Command(CreditCommand{8, 0x10, 6}), kJob));

  port.channels[kManagement].recv.credit = 2;
  port.channels[kManagement].recv.packetsHeld = 1;  // 7 slots free
  EXPECT_EQ(0, DispatchPacket(port, Command(CreditRequestCommand{7, 0x20, 0xFFFF, 4}), kJob));
  EXPECT_EQ(6, port.channels[kManagement].recv.credit);
  EXPECT_EQ(0, DispatchPacket(port, Command(CreditRequestCommand{7, 0x20, 0xFFFF, 0}), kJob));
  EXPECT_EQ(9, port.channels[kManagement].recv.credit);
  EXPECT_EQ(0, DispatchPacket(port, Command(CreditRequestCommand{9, 0x20, 1, 1}), kJob));

  ASSERT_EQ(5u, port.written.size());
  EXPECT_EQ(kResultSuccess, DecodeTransaction<CreditReply>(port.written[0])->result);
  EXPECT_EQ(kResultUnknownChannel, DecodeTransaction<CreditReply>(port.written[1])->result);
  const auto grant = DecodeTransaction<CreditRequestReply>(port.written[2]);
  ASSERT_TRUE(grant);
  EXPECT_EQ(kResultSuccess, grant->result);
  EXPECT_EQ(4, grant->credit);
  EXPECT_EQ(3, DecodeTransaction<CreditRequestReply>(port.written[3])->credit);
  EXPECT_EQ(kResultUnknownChannel, DecodeTransaction<CreditRequestReply>(port.written[4])->result);
}

TEST_F(DispatchTest, ExitEndsTheSessionAfterItsReply) {
  EXPECT_EQ(kSessionEnded, DispatchPacket(port, Command(ExitCommand{}), kJob));
  ASSERT_EQ(1u, port.written.size());
  EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 8, 1, 0, 0x88, 0}), port.written[0]);
}

TEST_F(DispatchTest, ErrorAnswersAFollowingExitAndMarksThePort) {
  port.input.push_back(Command(ExitCommand{}));
  EXPECT_EQ(kSessionEnded, DispatchPacket(port, Command(ErrorNotice{{1, 2, 3}}), kJob));
  EXPECT_EQ(kPortPrinterError, port.portState);
  ASSERT_EQ(1u, port.written.size());
  EXPECT_EQ(ExitReply::kCode, port.written[0][kCommandOffset]);
  EXPECT_EQ(2, port.channels[kTx].recv.credit);  // 1, then the reply's grant
  EXPECT_EQ(1, port.channels[kTx].send.credit);  // 2, less the reply
}

TEST_F(DispatchTest, MalformedOrUnknownCommandsAreProtocolFailures) {
  auto cut = Command(OpenChannelCommand{3, 0x40, 512, 512, 1, 1});
  cut.resize(12);
  cut[3] = 12;
  EXPECT_EQ(kProtocolFailure, DispatchPacket(port, cut, kJob));
  EXPECT_EQ(kProtocolFailure, DispatchPacket(port, Packet(0, 0, {0x09, 'x'}), kJob));
  EXPECT_EQ(kProtocolFailure, DispatchPacket(port, Packet(0, 0, {0x42}), kJob));
  EXPECT_TRUE(port.written.empty());
}

TEST(ReadPacket, ReadsHeaderThenTheRestInAtMostFourReads) {
  MemoryPort port;
  std::vector<std::uint8_t> packet;
  EXPECT_EQ(kNothingRead, ReadPacket(port, packet));

  const auto whole = Packet(7, 0x10, {1, 2, 3, 4, 5, 6, 7, 8});
  port.input.emplace_back(whole.begin(), whole.begin() + 6);
  for (int i = 6; i < 14; i += 2) port.input.emplace_back(whole.begin() + i, whole.begin() + i + 2);
  EXPECT_EQ(14, ReadPacket(port, packet));
  EXPECT_EQ(whole, packet);

  port.input.emplace_back(whole.begin(), whole.begin() + 6);
  for (int i = 6; i < 11; ++i) port.input.emplace_back(whole.begin() + i, whole.begin() + i + 1);
  EXPECT_EQ(kShortPacket, ReadPacket(port, packet));
}

TEST(ReadPacket, BrokenHeadersAreReported) {
  MemoryPort port;
  std::vector<std::uint8_t> packet;
  port.input.push_back({0, 0, 0});
  EXPECT_EQ(kBrokenHeader, ReadPacket(port, packet));
  port.input.push_back({0, 0, 0, 5, 0, 0});
  EXPECT_EQ(kBrokenHeader, ReadPacket(port, packet));
  port.input.push_back(Packet(7, 0x10, {}));
  EXPECT_EQ(6, ReadPacket(port, packet));
}

TEST(PumpReadResult, MapsReadErrors) {
  EXPECT_EQ(kSessionEnded, PumpReadResult(kPortNotOpen));
  EXPECT_EQ(kProtocolFailure, PumpReadResult(kBrokenHeader));
  EXPECT_EQ(kProtocolFailure, PumpReadResult(kShortPacket));
  EXPECT_EQ(kWorkerTimeout, PumpReadResult(kWorkerTimeout));
  EXPECT_EQ(kNothingRead, PumpReadResult(kReadFailed));
  EXPECT_EQ(14, PumpReadResult(14));
}

}  // namespace
}  // namespace tgx::chanlib
