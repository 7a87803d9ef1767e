#include "replies.h"

#include <cstring>

namespace tgx::agentcli {

namespace wire = tgx::agent;

std::int32_t SendResult(std::int32_t status, std::uint32_t sent) {
  constexpr std::uint32_t kPartial = wire::result::kPartialSend;
  if (status >= 0) {
    if ((static_cast<std::uint32_t>(status) & kPartial) == kPartial) return status & 0xFFFF;
    return static_cast<std::int32_t>(sent);
  }
  if (static_cast<std::uint32_t>(status) == wire::result::kBusy) return 0;
  return status;
}

std::int32_t TakeReceivedData(std::span<const std::uint8_t, wire::recv::kReplySize> reply,
                              std::uint8_t* buffer, std::int32_t size) {
  const std::int32_t status = ReplyStatus(reply);
  if (status < 0) return status;
  const std::uint32_t count = wire::LoadLe32(reply.data() + wire::recv::kCount);
  if (count > static_cast<std::uint32_t>(size)) {
    return static_cast<std::int32_t>(wire::result::kClientBufferTooSmall);
  }
  // The data area holds 4096 bytes; a larger count is a malformed reply.
  if (count > wire::recv::kDataCapacity) return -1;
  std::memcpy(buffer, reply.data() + wire::recv::kData, count);
  return static_cast<std::int32_t>(count);
}

std::int32_t TakeCapabilityOutput(
    std::span<const std::uint8_t, wire::get_channel_capability::kReplySize> reply,
    std::uint8_t* output, std::uint32_t outputSize, std::uint32_t* outputLength) {
  namespace cap = wire::get_channel_capability;
  const std::int32_t status = ReplyStatus(reply);
  if (status < 0) return status;
  const std::uint32_t count = wire::LoadLe32(reply.data() + cap::kOutputLength);
  if (count <= outputSize && count <= cap::kDataCapacity) {
    std::memcpy(output, reply.data() + cap::kOutput, count);
    *outputLength = count;
  }
  return status;
}

}  // namespace tgx::agentcli
