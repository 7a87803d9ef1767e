#include "channel.h"

#include <cstdio>
#include <cstring>

#include "result_text.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::tools {

namespace wire = tgx::agent;

int ReportFailure(const std::string& what, std::int32_t code) {
  std::fprintf(stderr, "%s: %s: %s\n", kProgram, what.c_str(), DescribeResult(code).c_str());
  return kExitChannelError;
}

int ReportUsage(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, message.c_str(), kProgram);
  return kExitUsage;
}

bool ValidPortName(const std::string& port) {
  return !port.empty() && port.size() < wire::descriptor::kPortNameSize &&
         port.find('\0') == std::string::npos;
}

int Channel::Open(const AgentLibrary& library) {
  if (library.status() != 0) {
    return ReportFailure("cannot start the agent client library", library.status());
  }
  std::uint8_t descriptor[AUCBT_DESCRIPTOR_SIZE] = {};
  wire::StoreLe16(descriptor + wire::descriptor::kServiceChannel, service_channel_);
  std::memcpy(descriptor + wire::descriptor::kPortName, port_.data(), port_.size());
  std::uint32_t socketId = 0;
  socket_ = AuCbtCreateSocket(descriptor, &socketId);
  if (socket_ == AUCBT_INVALID_SOCKET) {
    std::fprintf(stderr,
                 "%s: cannot open channel 0x%02X of %s: the agent service is not reachable, did "
                 "not answer in time, or refused the channel\n",
                 kProgram, service_channel_, port_.c_str());
    return kExitChannelError;
  }
  connect_result_ = AuCbtConnect(socket_);
  if (connect_result_ < 0) return ReportFailure("cannot connect to " + port_, connect_result_);
  return kExitSuccess;
}

Channel::~Channel() {
  if (socket_ != AUCBT_INVALID_SOCKET) AuCbtDeleteSocket(socket_, cancel_job_);
}

}  // namespace tgx::tools
