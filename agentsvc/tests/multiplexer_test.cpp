// The packet multiplexer on its own: identifier rewriting and restoring,
// routing of answers and notifications, event-registration merging, departure.
#include <gtest/gtest.h>

#include "messages.h"
#include "multiplexer.h"

namespace tgx::agent {
namespace {

using test::Bytes;

std::vector<std::uint16_t> CodesOf(const Bytes& p, std::size_t count_at) {
  const std::uint16_t n = packet::LoadBe16(p.data() + count_at);
  std::vector<std::uint16_t> codes;
  for (std::uint16_t i = 0; i < n; ++i) {
    codes.push_back(
        static_cast<std::uint16_t>(p[count_at + 2 + 2 * i] | (p[count_at + 3 + 2 * i] << 8)));
  }
  return codes;
}

Bytes TakeQueue(ClientLink& link) {
  Bytes out(link.queue.size());
  link.queue.Take(out.data(), out.size());
  return out;
}

class MultiplexerTest : public ::testing::Test {
 protected:
  explicit MultiplexerTest(std::uint16_t channel = kSharedManagementChannel)
      : mux_(channel, [this] { return now_; }) {
    a_ = &links_.emplace_back(10, 0x0000);
    b_ = &links_.emplace_back(11, 0x1000);
    a_->SetConnected(true);
    b_->SetConnected(true);
  }

  std::uint32_t SendFrom(ClientLink& link, const Bytes& data) {
    return mux_.Outgoing(link, data, links_, [this](std::span<const std::uint8_t> p) {
      sent_.emplace_back(p.begin(), p.end());
      return transmit_result_;
    });
  }

  void FromPrinter(const Bytes& data) {
    read_buffer_.Feed(data);
    mux_.Incoming(read_buffer_, links_);
  }

  std::uint32_t now_ = 1000000;
  ClientLinks links_;
  ClientLink* a_;
  ClientLink* b_;
  PacketMultiplexer mux_;
  std::vector<Bytes> sent_;
  std::uint32_t transmit_result_ = 0;
  packet::Splitter read_buffer_{packet::Answers::kAccepted};
};

TEST_F(MultiplexerTest, RewritesIdentifiersPerClientAndRestoresThem) {
  const Bytes request = test::DevicePacket(3, 5, packet::kFlagExpectsAnswer, Bytes(4, 9));
  ASSERT_EQ(SendFrom(*a_, request), 0u);
  ASSERT_EQ(SendFrom(*b_, request), 0u);
  ASSERT_EQ(sent_.size(), 2u);
  const std::uint16_t id_a = packet::Transaction(sent_[0].data());
  const std::uint16_t id_b = packet::Transaction(sent_[1].data());
  EXPECT_NE(id_a, id_b);
  EXPECT_EQ(id_a & 0xF000, 0x0000);
  EXPECT_EQ(id_b & 0xF000, 0x1000);
  EXPECT_NE(id_a & 0x0FFF, 0);
  // Only the identifier changed.
  Bytes expected = sent_[0];
  packet::SetTransaction(expected.data(), 5);
  EXPECT_EQ(expected, request);

  // The printer answers b first, in one read with a's answer split behind it.
  Bytes answer_a = test::DevicePacket(3, id_a, packet::kFlagAnswer, Bytes(2, 0xAA));
  Bytes answer_b = test::DevicePacket(3, id_b, packet::kFlagAnswer, Bytes(3, 0xBB));
  Bytes stream = answer_b;
  stream.insert(stream.end(), answer_a.begin(), answer_a.begin() + 5);
  FromPrinter(stream);
  FromPrinter(Bytes(answer_a.begin() + 5, answer_a.end()));
  packet::SetTransaction(answer_a.data(), 5);
  packet::SetTransaction(answer_b.data(), 5);
  EXPECT_EQ(TakeQueue(*a_), answer_a);
  EXPECT_EQ(TakeQueue(*b_), answer_b);
  EXPECT_EQ(mux_.pending_identifiers(), 0u);
}

TEST_F(MultiplexerTest, AnswersWithoutMappingGoByTheirTopBits) {
  const Bytes unknown = test::DevicePacket(3, 0x1234, packet::kFlagAnswer, {});
  const Bytes no_id = test::DevicePacket(3, 0, packet::kFlagAnswer, {});
  const Bytes nobody = test::DevicePacket(3, 0x7001, packet::kFlagAnswer, {});
  Bytes stream = unknown;
  for (const Bytes* p : {&no_id, &nobody}) stream.insert(stream.end(), p->begin(), p->end());
  FromPrinter(stream);
  EXPECT_EQ(TakeQueue(*b_), unknown);
  EXPECT_EQ(a_->queue.size(), 0u);
}

TEST_F(MultiplexerTest, NotificationsReachEveryConnectedClient) {
  ClientLink& c = links_.emplace_back(12, 0x2000);  // not connected: takes nothing
  const Bytes note = test::DevicePacket(packet::kOpNotification, 0, 0, Bytes(6, 3));
  FromPrinter(note);
  EXPECT_EQ(TakeQueue(*a_), note);
  EXPECT_EQ(TakeQueue(*b_), note);
  EXPECT_EQ(c.queue.size(), 0u);
}

TEST_F(MultiplexerTest, InvalidStreamsAreDropped) {
  Bytes bad = test::DevicePacket(3, 1, packet::kFlagAnswer, {});
  EXPECT_EQ(SendFrom(*a_, bad), result::kBadPacketStream);
  EXPECT_EQ(0u, a_->parse_buffer.Buffered());
  EXPECT_TRUE(sent_.empty());
  // A partial packet waits for the next Send.
  const Bytes good = test::DevicePacket(3, 0, 0, Bytes(30, 1));
  EXPECT_EQ(SendFrom(*a_, Bytes(good.begin(), good.begin() + 25)), 0u);
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(SendFrom(*a_, Bytes(good.begin() + 25, good.end())), 0u);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0], good);

  Bytes garbage(40, 0xEE);
  FromPrinter(garbage);
  EXPECT_EQ(0u, read_buffer_.Buffered());
  EXPECT_EQ(a_->queue.size(), 0u);
}

TEST_F(MultiplexerTest, FailedSendReleasesIdentifiersOfTheRest) {
  Bytes two = test::DevicePacket(3, 7, packet::kFlagExpectsAnswer, {});
  const Bytes second = test::DevicePacket(4, 8, packet::kFlagExpectsAnswer, {});
  two.insert(two.end(), second.begin(), second.end());
  transmit_result_ = result::kBusy;
  EXPECT_EQ(SendFrom(*a_, two), result::kBusy);
  EXPECT_EQ(sent_.size(), 1u);
  EXPECT_EQ(mux_.pending_identifiers(), 0u);
}

TEST_F(MultiplexerTest, RunsOutOfIdentifiersPerSlot) {
  const Bytes request = test::DevicePacket(3, 5, packet::kFlagExpectsAnswer, {});
  for (int i = 0; i < 4095; ++i) ASSERT_EQ(SendFrom(*a_, request), 0u) << i;
  EXPECT_EQ(SendFrom(*a_, request), result::kBusy);
  EXPECT_EQ(sent_.size(), 4095u);
  // The other slot is unaffected.
  EXPECT_EQ(SendFrom(*b_, request), 0u);
  // An answer frees one identifier again.
  FromPrinter(test::DevicePacket(3, packet::Transaction(sent_[17].data()), 1, {}));
  EXPECT_EQ(SendFrom(*a_, request), 0u);
}

TEST_F(MultiplexerTest, MergesRegistrationsOfTwoClients) {
  const std::uint32_t key = 0xCAFE0001;
  const std::uint32_t hour = 0x01000000;
  ASSERT_EQ(SendFrom(*a_, test::RegistrationPacket(8, 1, key, {1, 2}, hour)), 0u);
  ASSERT_EQ(SendFrom(*b_, test::RegistrationPacket(8, 1, key, {2, 3}, hour)), 0u);
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_EQ(CodesOf(sent_[0], packet::registration::kRegisterCodeCount),
            (std::vector<std::uint16_t>{1, 2}));
  EXPECT_EQ(CodesOf(sent_[1], packet::registration::kRegisterCodeCount),
            (std::vector<std::uint16_t>{1, 2, 3}));
  EXPECT_EQ(packet::PayloadLength(sent_[1].data()), 21 + 2 * 3);
  EXPECT_EQ(sent_[1].size(), 20u + 27u);
  EXPECT_EQ(packet::LoadBe32(sent_[1].data() + sent_[1].size() - 4), hour);
  EXPECT_EQ(packet::LoadBe32(sent_[1].data() + 31 + 6), 0x33333333u);  // third parameter
  EXPECT_EQ(mux_.subscription_count(), 1u);

  // a leaves {1, 2}: code 1 goes, nothing is sent, a is answered locally.
  ASSERT_EQ(SendFrom(*a_, test::RegistrationPacket(9, 2, key, {1, 2}, 0)), 0u);
  EXPECT_EQ(sent_.size(), 2u);
  const Bytes answer = TakeQueue(*a_);
  ASSERT_EQ(answer.size(), 28u);
  EXPECT_EQ(answer[packet::kFlags], packet::kFlagAnswer);
  EXPECT_EQ(packet::Opcode(answer.data()), 9);
  EXPECT_EQ(packet::Transaction(answer.data()), 2);  // the client's own identifier
  EXPECT_EQ(packet::PayloadLength(answer.data()), 8);
  EXPECT_EQ(packet::LoadBe16(answer.data() + packet::kLocalMarker), 1);
  EXPECT_EQ(packet::LoadBe32(answer.data() + 20), key);
  EXPECT_EQ(packet::LoadBe16(answer.data() + 24), 0x1111);
  EXPECT_EQ(packet::LoadBe16(answer.data() + 26), 0);
  // Only the two registers sent to the printer still wait for their answers.
  EXPECT_EQ(mux_.pending_identifiers(), 2u);

  // b leaves {2, 3}: the merged set empties, one unregister with {2, 3} goes out.
  ASSERT_EQ(SendFrom(*b_, test::RegistrationPacket(9, 3, key, {2, 3}, 0)), 0u);
  ASSERT_EQ(sent_.size(), 3u);
  EXPECT_EQ(packet::Opcode(sent_[2].data()), 9);
  EXPECT_EQ(CodesOf(sent_[2], packet::registration::kUnregisterCodeCount),
            (std::vector<std::uint16_t>{2, 3}));
  EXPECT_EQ(packet::PayloadLength(sent_[2].data()), 19 + 2 * 2);
  EXPECT_EQ(packet::LoadBe32(sent_[2].data() + sent_[2].size() - 4), 0u);
  EXPECT_EQ(mux_.subscription_count(), 0u);
}

TEST_F(MultiplexerTest, CodesAreOrderedBySecondByteFirst) {
  ASSERT_EQ(SendFrom(*a_, test::RegistrationPacket(8, 1, 7, {0x0100, 0x0002, 0x0000}, 0)), 0u);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(CodesOf(sent_[0], packet::registration::kRegisterCodeCount),
            (std::vector<std::uint16_t>{0x0002, 0x0100}));
}

TEST_F(MultiplexerTest, MergedDurationKeepsTheLaterEnd) {
  const std::uint32_t key = 42;
  auto last_duration = [this] {
    return packet::LoadBe32(sent_.back().data() + sent_.back().size() - 4);
  };
  // 90 minutes.
  SendFrom(*a_, test::RegistrationPacket(8, 0, key, {1}, 0x001E0000 | 0x01000000));
  EXPECT_EQ(last_duration(), 0x011E0000u);
  // 10 minutes later b asks for 30 minutes: 80 minutes are left, they stay.
  now_ += 10 * 60000;
  SendFrom(*b_, test::RegistrationPacket(8, 0, key, {2}, 0x001E0000));
  EXPECT_EQ(last_duration(), 0x01140000u);  // 1 h 20 min
  // b asks for 3 hours: the later end wins.
  SendFrom(*b_, test::RegistrationPacket(8, 0, key, {2}, 0x03000000));
  EXPECT_EQ(last_duration(), 0x03000000u);
  // A registration without limit makes the merged one unlimited.
  SendFrom(*a_, test::RegistrationPacket(8, 0, key, {1}, 0));
  EXPECT_EQ(last_duration(), 0u);
}

TEST_F(MultiplexerTest, MalformedRegistrationsAreNeitherSentNorAnswered) {
  const Bytes whole = test::RegistrationPacket(8, 4, 9, {1, 2}, 0);
  Bytes cut(whole.begin(), whole.end() - 3);  // duration cut short
  packet::SetPayloadLength(cut.data(), static_cast<std::uint16_t>(cut.size() - 20));
  EXPECT_EQ(SendFrom(*a_, cut), 0u);
  EXPECT_TRUE(sent_.empty());
  EXPECT_EQ(a_->queue.size(), 0u);
  EXPECT_EQ(mux_.subscription_count(), 0u);
  EXPECT_EQ(mux_.pending_identifiers(), 0u);
}

TEST_F(MultiplexerTest, DepartureDropsRegistrationsSilently) {
  SendFrom(*a_, test::RegistrationPacket(8, 0, 5, {1, 2}, 0));
  SendFrom(*b_, test::RegistrationPacket(8, 0, 5, {2}, 0));
  mux_.Depart(a_->socket);
  EXPECT_EQ(sent_.size(), 2u);
  EXPECT_EQ(mux_.subscription_count(), 1u);
  // b's unregister of {2} now empties the subscription and is sent with {2} only.
  SendFrom(*b_, test::RegistrationPacket(9, 0, 5, {2}, 0));
  ASSERT_EQ(sent_.size(), 3u);
  EXPECT_EQ(CodesOf(sent_[2], packet::registration::kUnregisterCodeCount),
            (std::vector<std::uint16_t>{2}));
  mux_.Depart(b_->socket);
  EXPECT_EQ(mux_.subscription_count(), 0u);
}

class SingleClientMultiplexerTest : public MultiplexerTest {
 protected:
  SingleClientMultiplexerTest() : MultiplexerTest(kSingleManagementChannel) {}
};

TEST_F(SingleClientMultiplexerTest, LeavesIdentifiersAlone) {
  const Bytes request = test::DevicePacket(3, 0x0ABC, packet::kFlagExpectsAnswer, {});
  ASSERT_EQ(SendFrom(*a_, request), 0u);
  EXPECT_EQ(sent_[0], request);
  const Bytes answer = test::DevicePacket(3, 0x0ABC, packet::kFlagAnswer, {});
  FromPrinter(answer);
  EXPECT_EQ(TakeQueue(*a_), answer);
}

}  // namespace
}  // namespace tgx::agent
