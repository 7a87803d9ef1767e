// An in-process stand-in for the channel library, for the session tests: each
// CBT_* entry point answers from a script and logs its call.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "channel_api.h"

namespace tgx::agent::test {

struct FakeChannel {
  // Scripted results.
  std::uint16_t create_result = 3;
  int bind_result = 0;
  int socket_id = 0x141;  // only the low byte reaches the client
  int connect_result = 0;
  int packet_size_result = 0;
  std::uint16_t sending_size = 4102;
  std::uint16_t receiving_size = 518;
  int set_timeout_result = 1;
  int get_timeout_result = 1;
  std::uint32_t receive_timeout = 5000;
  std::uint32_t send_timeout = 5000;
  int job_open = 0;
  int capability_result = 0;
  std::vector<std::uint8_t> capability_output;
  int data_size_error = 0;  // nonzero: CBT_GetDataSizeInSocket returns it
  int recv_error = 0;       // nonzero: CBT_Recv returns it
  // Per-call results of CBT_Send; when empty every call takes all it is given.
  std::deque<int> send_results;

  // What the printer has sent and the library holds for CBT_Recv.
  std::vector<std::uint8_t> held;
  // Everything CBT_Send took, in order.
  std::vector<std::uint8_t> sent;
  // One entry per CBT_Send call: the bytes it took.
  std::vector<std::vector<std::uint8_t>> sends;
  // Calls in order, e.g. "CreateSocket", "GetDataSizeInSocket(1)".
  std::vector<std::string> calls;

  int Count(const std::string& call) const;
};

// The fake behind the table, reset for each test.
FakeChannel& Fake();
void ResetFake();
// The entry point table; CBT_JobCancel is left out on request.
ChannelApi FakeApi(bool with_job_cancel = true);

}  // namespace tgx::agent::test
