// Reading the service's replies: what each call takes from a whole reply whose
// command code has been checked. Pure functions of the reply bytes, so that
// malformed replies can be tried on them directly.
#pragma once

#include <cstdint>
#include <span>

#include "tgx/wire/agent_wire.h"

namespace tgx::agentcli {

// The signed status at reply byte 8.
inline std::int32_t ReplyStatus(std::span<const std::uint8_t> reply) {
  return static_cast<std::int32_t>(agent::MessageResult(reply.data()));
}

// The result of AuCbtSend for `sent` data bytes answered with `status`: the
// accepted count of a partial send, all of them, 0 when the printer was busy,
// or the failure status.
std::int32_t SendResult(std::int32_t status, std::uint32_t sent);

// The result of AuCbtRecv: a failure status as is; 0xC0100001 when the data
// does not fit the caller's `size` bytes (nothing copied); -1 for a count
// beyond the reply's data area; else the count, with that many bytes copied
// into `buffer`.
std::int32_t TakeReceivedData(std::span<const std::uint8_t, agent::recv::kReplySize> reply,
                              std::uint8_t* buffer, std::int32_t size);

// The result of AuCbtGetChannelCapability: the reply status; when it is not
// negative and the output fits both `outputSize` and the reply's data area,
// the output is copied and its length stored through `outputLength` (which the
// caller has set to 0).
std::int32_t TakeCapabilityOutput(
    std::span<const std::uint8_t, agent::get_channel_capability::kReplySize> reply,
    std::uint8_t* output, std::uint32_t outputSize, std::uint32_t* outputLength);

}  // namespace tgx::agentcli
