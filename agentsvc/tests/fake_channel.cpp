#include "fake_channel.h"

#include <algorithm>
#include <cstring>

namespace tgx::agent::test {

namespace {

FakeChannel g_fake;

void Log(std::string call) { g_fake.calls.push_back(std::move(call)); }

std::uint16_t CreateSocket() {
  Log("CreateSocket");
  return g_fake.create_result;
}
int Bind(std::uint16_t, void*) {
  Log("Bind");
  return g_fake.bind_result;
}
int GetSocketId(std::uint16_t) {
  Log("GetSocketID");
  return g_fake.socket_id;
}
int Connect(std::uint16_t, const void*) {
  Log("Connect");
  return g_fake.connect_result;
}
int CloseSocket(std::uint16_t) {
  Log("CloseSocket");
  return 0;
}
int Recv(std::uint16_t, void* buffer, int length) {
  Log("Recv");
  if (g_fake.recv_error) return g_fake.recv_error;
  const auto n = std::min(g_fake.held.size(), static_cast<std::size_t>(length));
  std::memcpy(buffer, g_fake.held.data(), n);
  g_fake.held.erase(g_fake.held.begin(), g_fake.held.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}
int Send(std::uint16_t, const void* buffer, int length) {
  Log("Send");
  int taken = length;
  if (!g_fake.send_results.empty()) {
    taken = g_fake.send_results.front();
    g_fake.send_results.pop_front();
  }
  if (taken > 0) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    g_fake.sent.insert(g_fake.sent.end(), bytes, bytes + taken);
    g_fake.sends.emplace_back(bytes, bytes + taken);
  }
  return taken;
}
int GetDataSize(std::uint16_t, int mode) {
  Log("GetDataSizeInSocket(" + std::to_string(mode) + ")");
  if (g_fake.data_size_error) return g_fake.data_size_error;
  return static_cast<int>(g_fake.held.size());
}
int GetChannelCapability(std::uint16_t, std::uint32_t, const void*, std::uint32_t, void* output,
                         std::uint32_t output_length, std::uint32_t* returned) {
  Log("GetChannelCapability");
  const auto n = std::min(g_fake.capability_output.size(), static_cast<std::size_t>(output_length));
  std::memcpy(output, g_fake.capability_output.data(), n);
  *returned = static_cast<std::uint32_t>(n);
  return g_fake.capability_result;
}
int SetTimeout(std::uint16_t, std::uint32_t receive, std::uint32_t send) {
  Log("SetTimeout(" + std::to_string(receive) + "," + std::to_string(send) + ")");
  return g_fake.set_timeout_result;
}
int GetTimeout(std::uint16_t, std::uint32_t* receive, std::uint32_t* send) {
  Log("GetTimeout");
  *receive = g_fake.receive_timeout;
  *send = g_fake.send_timeout;
  return g_fake.get_timeout_result;
}
int GetPacketSize(std::uint16_t, std::uint16_t* sending, std::uint16_t* receiving) {
  Log("GetPacketSizeFromSocket");
  *sending = g_fake.sending_size;
  *receiving = g_fake.receiving_size;
  return g_fake.packet_size_result;
}
int CheckOpenedJobCh(std::uint16_t) {
  Log("CheckOpenedJobCH");
  return g_fake.job_open;
}
int JobCancel(std::uint16_t) {
  Log("JobCancel");
  return 0;
}

}  // namespace

int FakeChannel::Count(const std::string& call) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

FakeChannel& Fake() { return g_fake; }
void ResetFake() { g_fake = FakeChannel{}; }

ChannelApi FakeApi(bool with_job_cancel) {
  ChannelApi api;
  api.create_socket = CreateSocket;
  api.bind = Bind;
  api.get_socket_id = GetSocketId;
  api.connect = Connect;
  api.close_socket = CloseSocket;
  api.recv = Recv;
  api.send = Send;
  api.get_data_size = GetDataSize;
  api.get_channel_capability = GetChannelCapability;
  api.set_timeout = SetTimeout;
  api.get_timeout = GetTimeout;
  api.get_packet_size = GetPacketSize;
  api.check_opened_job_ch = CheckOpenedJobCh;
  api.job_cancel = with_job_cancel ? JobCancel : nullptr;
  return api;
}

}  // namespace tgx::agent::test
