// Service replies of any content through the client library's reply readers.
// Input: the caller's two buffer sizes (8 bytes), the reply header (12 bytes),
// the reply's count field (4 bytes), then its data. Whatever the reply says,
// nothing is written beyond the caller's buffer and no count beyond it is
// reported.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "replies.h"

namespace {

namespace wire = tgx::agent;

struct Input {
  const std::uint8_t* header;
  std::uint32_t count;
  const std::uint8_t* data;
  std::size_t size;
};

// A reply of N bytes: the header, the data from byte 12 (as much as fits before
// the count field), the count at `countAt`.
template <std::size_t N>
std::array<std::uint8_t, N> ReplyFrom(const Input& in, std::size_t countAt) {
  std::array<std::uint8_t, N> reply{};
  std::memcpy(reply.data(), in.header, wire::header::kSize);
  std::memcpy(reply.data() + wire::header::kSize, in.data,
              std::min(in.size, countAt - wire::header::kSize));
  wire::StoreLe32(reply.data() + countAt, in.count);
  return reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 24) return 0;
  // Buffer sizes up to 8 KiB, so that the fuzzer reaches both sides of 4096.
  const auto recvSize = static_cast<std::int32_t>(wire::LoadLe32(data) % 8192) + 1;
  const std::uint32_t outputSize = wire::LoadLe32(data + 4) % 8192 + 1;
  const Input in{data + 8, wire::LoadLe32(data + 20), data + 24, size - 24};

  const auto recvReply = ReplyFrom<wire::recv::kReplySize>(in, wire::recv::kCount);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(recvSize));
  const std::int32_t got = tgx::agentcli::TakeReceivedData(recvReply, buffer.data(), recvSize);
  if (got > recvSize || got > static_cast<std::int32_t>(wire::recv::kDataCapacity)) {
    __builtin_trap();
  }

  const auto capReply = ReplyFrom<wire::get_channel_capability::kReplySize>(
      in, wire::get_channel_capability::kOutputLength);
  std::vector<std::uint8_t> output(outputSize);
  std::uint32_t outputLength = 0;
  const std::int32_t status =
      tgx::agentcli::TakeCapabilityOutput(capReply, output.data(), outputSize, &outputLength);
  if (outputLength > outputSize || (status < 0 && outputLength != 0)) __builtin_trap();

  const std::int32_t sent =
      tgx::agentcli::SendResult(tgx::agentcli::ReplyStatus(recvReply), wire::send::kMaxCount);
  if (sent > static_cast<std::int32_t>(wire::send::kMaxCount)) __builtin_trap();
  return 0;
}
