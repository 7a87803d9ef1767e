#include "result_text.h"

#include <cstdio>

#include "tgx/agentcli.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::tools {
namespace {

namespace result = tgx::agent::result;

const char* Meaning(std::uint32_t code) {
  switch (code) {
    case result::kSuccess: return "success";
    case result::kRawPort: return "connected to a raw port that does not speak the packet protocol";
    case result::kClientBufferTooSmall: return "the received data does not fit the buffer";
    case result::kMalformed:
      return "the request was malformed, or the capability input is longer than 1024 bytes";
    case result::kParameter:
      return "a parameter was rejected, or the printer refused the capability query";
    case result::kNotServed: return "the socket is unknown, or its connection is not served";
    case result::kNoMemory: return "the agent service is out of memory";
    case result::kBusy: return "the printer is busy";
    case result::kRefused:
      return "the agent service refused the session (too many sessions or clients on the "
             "channel)";
    case result::kChannelNotOpen: return "the printer channel is not open, or it failed and closed";
    case result::kNoLibrary:
      return "the client library is not ready, or the service cannot load the channel library";
    case result::kChannelCall: return "a channel call failed in the agent service";
    case result::kBadPacketStream:
      return "the reply did not match the request, or the data is not a valid packet stream";
    case result::kTransport:
      return "the agent service did not answer in time, or the connection to it was lost";
    case static_cast<std::uint32_t>(AUCBT_LIBRARY_NOT_INITIALISED):
      return "the client library could not be initialised";
    case 0xFFFFFFFF:
      return "the call failed: the agent service did not answer whole, or the channel is gone";
  }
  if (!result::Failed(code) && (code & result::kPartialSend) == result::kPartialSend) {
    return "only part of the data was taken";
  }
  return "unknown result code";
}

}  // namespace

std::string DescribeResult(std::int32_t code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<std::uint32_t>(code));
  return std::string(hex) + " (" + Meaning(static_cast<std::uint32_t>(code)) + ")";
}

}  // namespace tgx::tools
