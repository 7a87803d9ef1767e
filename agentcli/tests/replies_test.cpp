// The reply decoders on replies the service would never send well-formed.
#include <gtest/gtest.h>

#include <array>

#include "replies.h"
#include "tgx/agentcli.h"

namespace tgx::agentcli {
namespace {

namespace wire = tgx::agent;

TEST(AgentClientReplies, SendResultReadsPartialBusyAndFailedStatuses) {
  EXPECT_EQ(1000, SendResult(0, 1000));
  EXPECT_EQ(512, SendResult(0x40100200, 1000));
  EXPECT_EQ(0, SendResult(0x40100000, 1000));
  EXPECT_EQ(1000, SendResult(0x00000123, 1000));  // positive without the partial bits
  EXPECT_EQ(0, SendResult(static_cast<std::int32_t>(0xC010000B), 1000));
  EXPECT_EQ(static_cast<std::int32_t>(0xC01000FC),
            SendResult(static_cast<std::int32_t>(0xC01000FC), 1000));
}

TEST(AgentClientReplies, CapabilityOutputIsCopiedOnlyWhenItFitsTheCallersBuffer) {
  std::array<std::uint8_t, wire::get_channel_capability::kReplySize> reply{};
  wire::StoreLe32(reply.data() + wire::get_channel_capability::kOutputLength, 5);
  reply[wire::get_channel_capability::kOutput] = 'M';
  std::uint8_t output[5] = {};
  std::uint32_t length = 0;
  EXPECT_EQ(0, TakeCapabilityOutput(reply, output, 4, &length));
  EXPECT_EQ(0u, length);
  EXPECT_EQ(0, output[0]);
  EXPECT_EQ(0, TakeCapabilityOutput(reply, output, 5, &length));
  EXPECT_EQ(5u, length);
  EXPECT_EQ('M', output[0]);
}

TEST(AgentClientReplies, CapabilityCountBeyondTheDataAreaCopiesNothing) {
  std::array<std::uint8_t, wire::get_channel_capability::kReplySize> reply{};
  wire::StoreLe32(reply.data() + wire::get_channel_capability::kOutputLength, 2000);
  std::vector<std::uint8_t> output(4096, 0);
  std::uint32_t length = 0;
  EXPECT_EQ(0, TakeCapabilityOutput(reply, output.data(), 4096, &length));
  EXPECT_EQ(0u, length);
  // A failure status is returned as is, with nothing copied.
  wire::SetMessageResult(reply.data(), 0xC010000D);
  wire::StoreLe32(reply.data() + wire::get_channel_capability::kOutputLength, 4);
  EXPECT_EQ(static_cast<std::int32_t>(0xC010000D),
            TakeCapabilityOutput(reply, output.data(), 4096, &length));
  EXPECT_EQ(0u, length);
}

TEST(AgentClientReplies, RecvFailureStatusWinsOverTheCount) {
  std::array<std::uint8_t, wire::recv::kReplySize> reply{};
  wire::SetMessageResult(reply.data(), 0xC010000D);
  wire::StoreLe32(reply.data() + wire::recv::kCount, 10);
  std::uint8_t buffer[4] = {1, 1, 1, 1};
  EXPECT_EQ(static_cast<std::int32_t>(0xC010000D), TakeReceivedData(reply, buffer, 4));
  EXPECT_EQ(1, buffer[0]);
}

}  // namespace
}  // namespace tgx::agentcli
