// The entry points of the channel library (the CBT_* functions) that the
// service binds by name, one table per process shared by every session.
#pragma once

#include <cstdint>

namespace tgx::agent {

struct ChannelApi {
  // Signatures as the channel library exports them (extern "C").
  using CreateSocketFn = std::uint16_t (*)();
  using BindFn = int (*)(int socket, void* bind_info);
  using GetSocketIdFn = int (*)(int socket);
  using ConnectFn = int (*)(int socket, void* connect_info);
  using CloseSocketFn = int (*)(int socket);
  using RecvFn = int (*)(int socket, void* buffer, int length);
  using SendFn = int (*)(int socket, const void* buffer, int length);
  using GetDataSizeFn = int (*)(int socket, int mode);
  using GetChannelCapabilityFn = int (*)(int socket, std::uint32_t code, const void* input,
                                         int input_length, void* output, int output_length,
                                         std::uint32_t* returned);
  using SetTimeoutFn = int (*)(int socket, int receive_ms, int send_ms);
  using GetTimeoutFn = int (*)(int socket, int* receive_ms, int* send_ms);
  using GetPacketSizeFn = int (*)(int socket, std::uint16_t* sending, std::uint16_t* receiving);
  using CheckOpenedJobChFn = int (*)(int socket);
  using JobCancelFn = int (*)(int socket);

  CreateSocketFn create_socket = nullptr;
  BindFn bind = nullptr;
  GetSocketIdFn get_socket_id = nullptr;
  ConnectFn connect = nullptr;
  CloseSocketFn close_socket = nullptr;
  RecvFn recv = nullptr;
  SendFn send = nullptr;
  GetDataSizeFn get_data_size = nullptr;
  GetChannelCapabilityFn get_channel_capability = nullptr;
  SetTimeoutFn set_timeout = nullptr;
  GetTimeoutFn get_timeout = nullptr;
  GetPacketSizeFn get_packet_size = nullptr;
  CheckOpenedJobChFn check_opened_job_ch = nullptr;
  JobCancelFn job_cancel = nullptr;  // optional: never called when missing
};

}  // namespace tgx::agent
