// Helpers of the end-to-end tests: job data and its digest, the workers this
// test process started, and a CBT socket connected in one call.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "chanlib/cbt.h"

namespace tgx::e2e {

using Bytes = std::vector<std::uint8_t>;

// Bytes that differ from run to run.
Bytes RandomBytes(std::size_t size);
// The same bytes for the same seed, in every process.
Bytes SeededBytes(std::size_t size, std::uint32_t seed);

// The running chanportNT workers that share this process's private runtime
// directory (TGX_RUNTIME_DIR is in their environment).
std::vector<pid_t> OurWorkers();

// A management request (flag "expects an answer") with an empty payload.
Bytes ManagementRequest(std::uint16_t opcode, std::uint16_t transaction);

// A CBT socket bound to `port` and connected to `channel` of the printer.
struct CbtConnection {
  std::uint16_t socket = 0xFFFF;
  int connectResult = 0;  // CBT_Connect's result, or 1 when no socket could be made
};
// Inline: only the programs that call it link libchanlibNT.so.
inline CbtConnection ConnectCbt(const std::string& port, std::uint8_t channel) {
  CbtConnection connection;
  connection.socket = CBT_CreateSocket();
  if (connection.socket == 0xFFFF) {
    connection.connectResult = 1;
    return connection;
  }
  std::uint8_t bind[28] = {};
  port.copy(reinterpret_cast<char*>(bind + 4), 19);
  if (const int bound = CBT_Bind(connection.socket, bind); bound != 0) {
    connection.connectResult = bound;
    return connection;
  }
  std::uint8_t connect[26] = {};
  connect[2] = channel;
  connection.connectResult = CBT_Connect(connection.socket, connect);
  return connection;
}

}  // namespace tgx::e2e
