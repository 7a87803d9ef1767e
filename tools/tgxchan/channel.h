// The client program's hold on the agent client library: the library kept
// initialised, one channel socket created and connected, failures reported with
// their result code and its meaning, and the program's exit codes.
#pragma once

#include <cstdint>
#include <string>

#include "tgx/agentcli.h"

namespace tgx::tools {

inline constexpr char kProgram[] = "tgxchan";

// Exit codes: success, a failure of the printer, the channel or the agent
// service, and a usage error (bad options, unreadable input).
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitChannelError = 1;
inline constexpr int kExitUsage = 2;

// Prints "tgxchan: <what>: <code and meaning>" and returns kExitChannelError.
int ReportFailure(const std::string& what, std::int32_t code);
// Prints "tgxchan: <message>" (and a hint to --help) and returns kExitUsage.
int ReportUsage(const std::string& message);

// AuCbtInitialize for the program's lifetime.
class AgentLibrary {
 public:
  AgentLibrary() : status_(AuCbtInitialize()) {}
  ~AgentLibrary() { AuCbtShutdown(); }
  AgentLibrary(const AgentLibrary&) = delete;
  AgentLibrary& operator=(const AgentLibrary&) = delete;
  std::int32_t status() const { return status_; }

 private:
  std::int32_t status_;
};

// One channel socket on a printer port, deleted when the object goes.
class Channel {
 public:
  Channel(std::string port, std::uint16_t serviceChannel)
      : port_(std::move(port)), service_channel_(serviceChannel) {}
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Initialised library, new socket, connected: kExitSuccess, or the exit code
  // after the failure has been reported.
  int Open(const AgentLibrary& library);

  AuCbtSocket socket() const { return socket_; }
  const std::string& port() const { return port_; }
  // 0 for a port that speaks the packet protocol, 0x40100001 for a raw port.
  std::int32_t connect_result() const { return connect_result_; }
  // The print job is cancelled when the socket is deleted.
  void CancelJobOnClose() { cancel_job_ = 1; }

 private:
  std::string port_;
  std::uint16_t service_channel_;
  AuCbtSocket socket_ = AUCBT_INVALID_SOCKET;
  std::int32_t connect_result_ = 0;
  std::int32_t cancel_job_ = 0;
};

// Whether a port name fits the channel descriptor (1 to 19 characters).
bool ValidPortName(const std::string& port);

}  // namespace tgx::tools
