// The agent wire protocol: the messages between the agent client library and the
// agent service over loopback TCP. Every message starts with the 12-byte
// AgentHeader; every numeric field is little-endian. Each command has a fixed
// request and reply size (Send's request alone varies with its data).
//
// This header is shared by both ends: the service validates and answers with it,
// the client library builds requests and reads replies with it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tgx/wire/byte_order.h"
#include "tgx/wire/channel_descriptor.h"

namespace tgx::agent {

// ---- Little-endian field access -------------------------------------------------

using ::tgx::wire::LoadLe16;
using ::tgx::wire::LoadLe32;
using ::tgx::wire::StoreLe16;
using ::tgx::wire::StoreLe32;

// ---- Endpoint ---------------------------------------------------------------------

inline constexpr char kServiceAddress[] = "127.0.0.1";
inline constexpr std::uint16_t kServicePort = 50229;
// Environment variable that moves the port on both ends (tests).
inline constexpr char kPortVariable[] = "TGX_AGENT_PORT";

// ---- AgentHeader -------------------------------------------------------------------

namespace header {
inline constexpr std::size_t kLength = 0;  // u32 total length, header included
inline constexpr std::size_t kCode = 4;    // u32 command code
inline constexpr std::size_t kResult = 8;  // u32 result (replies) or first parameter
inline constexpr std::size_t kSize = 12;
}  // namespace header

inline std::uint32_t MessageLength(const std::uint8_t* m) { return LoadLe32(m + header::kLength); }
inline std::uint32_t MessageCode(const std::uint8_t* m) { return LoadLe32(m + header::kCode); }
inline std::uint32_t MessageResult(const std::uint8_t* m) { return LoadLe32(m + header::kResult); }
inline void SetMessageResult(std::uint8_t* m, std::uint32_t result) {
  StoreLe32(m + header::kResult, result);
}
inline void WriteHeader(std::uint8_t* m, std::uint32_t length, std::uint32_t code,
                        std::uint32_t result) {
  StoreLe32(m + header::kLength, length);
  StoreLe32(m + header::kCode, code);
  StoreLe32(m + header::kResult, result);
}

// ---- ChannelDescriptor ---------------------------------------------------------------

// The service reads the service channel and the port name only.
namespace descriptor = ::tgx::wire::channel_descriptor;

// Service channels of the printer.
inline constexpr std::uint16_t kPrintJobChannel = 0x10;
inline constexpr std::uint16_t kSharedManagementChannel = 0x20;
inline constexpr std::uint16_t kSingleManagementChannel = 0x30;

// ---- Command codes --------------------------------------------------------------------

namespace code {
inline constexpr std::uint32_t kCreateSocket = 0x200;
inline constexpr std::uint32_t kConnect = 0x201;
inline constexpr std::uint32_t kDeleteSocket = 0x202;
inline constexpr std::uint32_t kSend = 0x300;
inline constexpr std::uint32_t kRecv = 0x400;
inline constexpr std::uint32_t kGetDataSizeInSocket = 0x401;
inline constexpr std::uint32_t kWakeupRead = 0x402;  // client side only, never sent
inline constexpr std::uint32_t kSetPollingTime = 0x403;
inline constexpr std::uint32_t kSetTimeout = 0x500;
inline constexpr std::uint32_t kGetTimeout = 0x501;
inline constexpr std::uint32_t kGetChannelCapability = 0x600;
inline constexpr std::uint32_t kGetPacketSizeFromSocket = 0x700;
inline constexpr std::uint32_t kCheckOpenedJobCH = 0x800;
}  // namespace code

// ---- Result codes -----------------------------------------------------------------------

namespace result {
inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kRawPort = 0x40100001;      // connected, no packet protocol
inline constexpr std::uint32_t kPartialSend = 0x40100000;  // + bytes taken (below 65536)
inline constexpr std::uint32_t kMalformed = 0xC0100005;
inline constexpr std::uint32_t kParameter = 0xC0100006;
inline constexpr std::uint32_t kNotServed = 0xC0100008;
inline constexpr std::uint32_t kNoMemory = 0xC0100009;
inline constexpr std::uint32_t kBusy = 0xC010000B;
inline constexpr std::uint32_t kRefused = 0xC010000C;
inline constexpr std::uint32_t kChannelNotOpen = 0xC010000D;
inline constexpr std::uint32_t kNoLibrary = 0xC010000F;
inline constexpr std::uint32_t kChannelCall = 0xC0100010;
inline constexpr std::uint32_t kBadPacketStream = 0xC01000FC;
// Produced by the client library only.
inline constexpr std::uint32_t kClientBufferTooSmall = 0xC0100001;
inline constexpr std::uint32_t kTransport = 0xC01000FE;

inline constexpr bool Failed(std::uint32_t r) { return static_cast<std::int32_t>(r) < 0; }
}  // namespace result

// ---- Per-command layouts (byte offsets from the start of the message) -----------------

namespace create_socket {
inline constexpr std::size_t kRequestSize = 44;
inline constexpr std::size_t kReplySize = 44;
inline constexpr std::size_t kDescriptor = 12;  // ChannelDescriptor, request and reply
inline constexpr std::size_t kSocketId = 40;    // u32, reply
}  // namespace create_socket

namespace connect {
inline constexpr std::size_t kRequestSize = 12;
inline constexpr std::size_t kReplySize = 12;
}  // namespace connect

namespace delete_socket {
inline constexpr std::size_t kRequestSize = 16;
inline constexpr std::size_t kReplySize = 16;
inline constexpr std::size_t kCancelFlag = 12;  // u32, request
}  // namespace delete_socket

namespace send {
inline constexpr std::size_t kCount = 8;  // u32 n, request
inline constexpr std::size_t kData = 12;  // n bytes, then one zero byte
inline constexpr std::size_t kOverhead = 13;
inline constexpr std::uint32_t kMaxCount = 65535;
inline constexpr std::size_t kMaxRequestSize = kMaxCount + kOverhead;  // 65548
inline constexpr std::size_t kReplySize = 12;
}  // namespace send

namespace recv {
inline constexpr std::size_t kRequestSize = 12;
inline constexpr std::size_t kLargestCount = 8;  // u32, request
inline constexpr std::size_t kReplySize = 4112;
inline constexpr std::size_t kData = 12;  // reply data area
inline constexpr std::size_t kDataCapacity = 4096;
inline constexpr std::size_t kCount = 4108;  // u32, reply
}  // namespace recv

namespace get_data_size {
inline constexpr std::size_t kRequestSize = 20;
inline constexpr std::size_t kReplySize = 20;
inline constexpr std::size_t kMode = 12;  // u32, request (echoed)
inline constexpr std::size_t kSize = 16;  // u32, reply
}  // namespace get_data_size

namespace set_polling_time {
inline constexpr std::size_t kRequestSize = 16;
inline constexpr std::size_t kReplySize = 16;
inline constexpr std::size_t kPollingTime = 12;  // u32, request (echoed)
}  // namespace set_polling_time

namespace set_timeout {
inline constexpr std::size_t kRequestSize = 20;
inline constexpr std::size_t kReplySize = 20;
inline constexpr std::size_t kReceiveTimeout = 12;  // u32 ms, request (echoed)
inline constexpr std::size_t kSendTimeout = 16;     // u32 ms, request (echoed)
}  // namespace set_timeout

namespace get_timeout {
inline constexpr std::size_t kRequestSize = 20;
inline constexpr std::size_t kReplySize = 20;
inline constexpr std::size_t kReceiveTimeout = 12;  // u32 ms, reply
inline constexpr std::size_t kSendTimeout = 16;     // u32 ms, reply
}  // namespace get_timeout

namespace get_channel_capability {
inline constexpr std::size_t kRequestSize = 1044;
inline constexpr std::size_t kReplySize = 1040;
inline constexpr std::size_t kControlCode = 8;        // u32, request
inline constexpr std::size_t kInput = 12;             // request data area
inline constexpr std::size_t kDataCapacity = 1024;    // both data areas
inline constexpr std::size_t kInputLength = 1036;     // u32, request
inline constexpr std::size_t kOutputCapacity = 1040;  // u32, request
inline constexpr std::size_t kOutput = 12;            // reply data area
inline constexpr std::size_t kOutputLength = 1036;    // u32, reply
}  // namespace get_channel_capability

namespace get_packet_size {
inline constexpr std::size_t kRequestSize = 16;
inline constexpr std::size_t kReplySize = 16;
inline constexpr std::size_t kSendingSize = 12;    // u16, reply
inline constexpr std::size_t kReceivingSize = 14;  // u16, reply
}  // namespace get_packet_size

namespace check_opened_job_ch {
inline constexpr std::size_t kRequestSize = 16;
inline constexpr std::size_t kReplySize = 16;
inline constexpr std::size_t kValue = 12;  // u32, reply
}  // namespace check_opened_job_ch

// ---- Command table --------------------------------------------------------------------

struct CommandInfo {
  std::uint32_t code;
  // Fixed request size; 0 for Send, whose size is its data count plus 13.
  std::size_t request_size;
  std::size_t reply_size;
  // Result of the refusal reply on a connection its session does not serve.
  std::uint32_t refusal_result;
};

inline constexpr CommandInfo kCommands[] = {
    {code::kCreateSocket, create_socket::kRequestSize, create_socket::kReplySize, result::kRefused},
    {code::kConnect, connect::kRequestSize, connect::kReplySize, result::kRefused},
    {code::kDeleteSocket, delete_socket::kRequestSize, delete_socket::kReplySize, result::kSuccess},
    {code::kSend, 0, send::kReplySize, result::kNotServed},
    {code::kRecv, recv::kRequestSize, recv::kReplySize, result::kNotServed},
    {code::kGetDataSizeInSocket, get_data_size::kRequestSize, get_data_size::kReplySize,
     result::kNotServed},
    {code::kSetPollingTime, set_polling_time::kRequestSize, set_polling_time::kReplySize,
     result::kNotServed},
    {code::kSetTimeout, set_timeout::kRequestSize, set_timeout::kReplySize, result::kNotServed},
    {code::kGetTimeout, get_timeout::kRequestSize, get_timeout::kReplySize, result::kNotServed},
    {code::kGetChannelCapability, get_channel_capability::kRequestSize,
     get_channel_capability::kReplySize, result::kNotServed},
    {code::kGetPacketSizeFromSocket, get_packet_size::kRequestSize, get_packet_size::kReplySize,
     result::kNotServed},
    {code::kCheckOpenedJobCH, check_opened_job_ch::kRequestSize, check_opened_job_ch::kReplySize,
     result::kNotServed},
};

// The entry of a command the service answers, or null for an unknown code.
inline const CommandInfo* FindCommand(std::uint32_t code) {
  for (const CommandInfo& info : kCommands) {
    if (info.code == code) return &info;
  }
  return nullptr;
}

// The largest message length acceptable for a code: the fixed size of a known
// command, 65548 for Send and for codes the service does not know (skipped
// unanswered, but never buffered beyond the largest message).
inline std::size_t LargestMessage(std::uint32_t code) {
  const CommandInfo* info = FindCommand(code);
  return info && info->request_size != 0 ? info->request_size : send::kMaxRequestSize;
}

// Whether a message header (at least 12 bytes) describes a message that can be
// sound: a length of at least the header, at most what its command allows, and
// for Send a data count that fits its length. Anything else cannot be answered
// safely; the service closes the connection.
inline bool HeaderIsSound(const std::uint8_t* m) {
  const std::uint32_t length = MessageLength(m);
  const std::uint32_t code = MessageCode(m);
  if (length < header::kSize || length > LargestMessage(code)) return false;
  if (code == code::kSend) {
    return static_cast<std::uint64_t>(LoadLe32(m + send::kCount)) + send::kOverhead <= length;
  }
  return true;
}

}  // namespace tgx::agent
