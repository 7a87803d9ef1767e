// A channel library for the service tests, loaded by the service as
// "chanlibNT.dll" like the real one: the 14 CBT_* functions with results from a
// script file ($TGX_TEST_CHANLIB_SCRIPT, "key=value" lines, read at every
// CBT_CreateSocket and CBT_Connect) and one log line per call
// ($TGX_TEST_CHANLIB_LOG). The printer behind it answers at once: every device
// packet sent with the expects-answer flag comes back as an answer, and a packet
// of opcode 0x7F makes the printer send an event notification (opcode 10).
// Built without CBT_JobCancel when TGX_TEST_NO_JOB_CANCEL is defined.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "chanlib/cbt.h"
#include "tgx/device_packet.h"

namespace {

namespace packet = tgx::agent::packet;

constexpr int kSockets = 30;
constexpr std::uint16_t kNotifyTrigger = 0x7F;

struct SocketState {
  bool open = false;
  std::vector<std::uint8_t> held;  // what the printer sent, not yet received
  std::uint32_t receive_timeout = 5000;
  std::uint32_t send_timeout = 5000;
};

std::mutex g_lock;
std::array<SocketState, kSockets> g_sockets;
std::map<std::string, long> g_script;

void LoadScript() {
  g_script.clear();
  const char* path = std::getenv("TGX_TEST_CHANLIB_SCRIPT");
  if (!path) return;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos)
      g_script[line.substr(0, eq)] = std::strtol(line.c_str() + eq + 1, nullptr, 0);
  }
}

long Scripted(const char* key, long fallback) {
  const auto found = g_script.find(key);
  return found == g_script.end() ? fallback : found->second;
}

void Log(const std::string& line) {
  const char* path = std::getenv("TGX_TEST_CHANLIB_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

std::string Hex(const std::uint8_t* p, std::size_t n) {
  std::string out;
  char b[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof(b), "%02x", p[i]);
    out += b;
  }
  return out;
}

bool Valid(int s) { return s >= 0 && s < kSockets && g_sockets[s].open; }

// The printer's side: answers and notifications for the packets it was sent.
void PrinterTakes(SocketState& socket, const std::uint8_t* data, std::size_t n) {
  std::size_t at = 0;
  while (n - at >= packet::kHeaderSize &&
         packet::LoadBe16(data + at + packet::kMagic) == packet::kMagicValue) {
    const std::size_t size = packet::kHeaderSize + packet::PayloadLength(data + at);
    if (n - at < size) break;
    const std::uint8_t* p = data + at;
    if (packet::Flags(p) & packet::kFlagExpectsAnswer) {
      std::vector<std::uint8_t> answer(p, p + size);
      answer[packet::kFlags] = packet::kFlagAnswer;
      socket.held.insert(socket.held.end(), answer.begin(), answer.end());
    }
    if (packet::Opcode(p) == kNotifyTrigger) {
      std::vector<std::uint8_t> note(p, p + packet::kHeaderSize);
      packet::StoreBe16(note.data() + packet::kOpcode, packet::kOpNotification);
      packet::SetTransaction(note.data(), 0);
      packet::SetPayloadLength(note.data(), 0);
      note[packet::kFlags] = 0;
      socket.held.insert(socket.held.end(), note.begin(), note.end());
    }
    at += size;
  }
}

}  // namespace

extern "C" {

std::uint16_t CBT_CreateSocket() {
  std::lock_guard<std::mutex> guard(g_lock);
  LoadScript();
  Log("CreateSocket");
  if (Scripted("create_fails", 0)) return 0xFFFF;
  for (int s = 0; s < kSockets; ++s) {
    if (!g_sockets[s].open) {
      g_sockets[s] = SocketState{};
      g_sockets[s].open = true;
      return static_cast<std::uint16_t>(s);
    }
  }
  return 0xFFFF;
}

int CBT_Bind(std::uint16_t s, void* bind_info) {
  std::lock_guard<std::mutex> guard(g_lock);
  const auto* info = static_cast<const char*>(bind_info);
  Log("Bind " + std::to_string(s) + " " + std::string(info + 4, strnlen(info + 4, 20)));
  return Valid(s) ? static_cast<int>(Scripted("bind", 0)) : -1;
}

int CBT_GetSocketID(std::uint16_t s) {
  std::lock_guard<std::mutex> guard(g_lock);
  Log("GetSocketID " + std::to_string(s));
  return Valid(s) ? 0x100 + s + 1 : -1;
}

int CBT_Connect(std::uint16_t s, const void* connect_info) {
  std::lock_guard<std::mutex> guard(g_lock);
  LoadScript();
  const auto* info = static_cast<const std::uint8_t*>(connect_info);
  Log("Connect " + std::to_string(s) + " channel " + std::to_string(info[2]));
  return Valid(s) ? static_cast<int>(Scripted("connect", 0)) : -1;
}

int CBT_CloseSocket(std::uint16_t s) {
  std::lock_guard<std::mutex> guard(g_lock);
  Log("CloseSocket " + std::to_string(s));
  if (!Valid(s)) return -1;
  g_sockets[s].open = false;
  return 0;
}

int CBT_Recv(std::uint16_t s, void* buffer, int length) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (!Valid(s) || length < 0) return -1;
  auto& held = g_sockets[s].held;
  const std::size_t n = std::min(held.size(), static_cast<std::size_t>(length));
  std::memcpy(buffer, held.data(), n);
  held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(n));
  Log("Recv " + std::to_string(s) + " " + std::to_string(n));
  return static_cast<int>(n);
}

int CBT_Send(std::uint16_t s, const void* buffer, int length) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (!Valid(s) || length < 0) return -1;
  const long limit = Scripted("send_limit", -1);
  const int taken = limit < 0 ? length : std::min(length, static_cast<int>(limit));
  const auto* data = static_cast<const std::uint8_t*>(buffer);
  Log("Send " + std::to_string(s) + " " + std::to_string(taken) + " " +
      Hex(data, std::min(taken, 64)));
  PrinterTakes(g_sockets[s], data, static_cast<std::size_t>(taken));
  return taken;
}

int CBT_GetDataSizeInSocket(std::uint16_t s, int mode) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (Scripted("log_polls", 1)) Log("GetDataSizeInSocket " + std::to_string(mode));
  return Valid(s) ? static_cast<int>(g_sockets[s].held.size()) : -1;
}

int CBT_GetChannelCapability(std::uint16_t s, std::uint32_t code, const void* input,
                             std::uint32_t input_length, void* output, std::uint32_t output_length,
                             std::uint32_t* returned) {
  std::lock_guard<std::mutex> guard(g_lock);
  Log("GetChannelCapability " + std::to_string(code));
  if (!Valid(s)) return -8;
  const std::uint32_t n = std::min(input_length, output_length);
  std::memcpy(output, input, n);
  *returned = n;
  return 0;
}

int CBT_SetTimeout(std::uint16_t s, std::uint32_t receive_ms, std::uint32_t send_ms) {
  std::lock_guard<std::mutex> guard(g_lock);
  Log("SetTimeout " + std::to_string(receive_ms) + " " + std::to_string(send_ms));
  if (!Valid(s)) return 0;
  g_sockets[s].receive_timeout = receive_ms;
  g_sockets[s].send_timeout = send_ms;
  return 1;
}

int CBT_GetTimeout(std::uint16_t s, std::uint32_t* receive_ms, std::uint32_t* send_ms) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (!Valid(s)) return 0;
  *receive_ms = g_sockets[s].receive_timeout;
  *send_ms = g_sockets[s].send_timeout;
  return 1;
}

int CBT_GetPacketSizeFromSocket(std::uint16_t s, std::uint16_t* sending, std::uint16_t* receiving) {
  std::lock_guard<std::mutex> guard(g_lock);
  Log("GetPacketSizeFromSocket " + std::to_string(s));
  if (!Valid(s)) return -1;
  *sending = static_cast<std::uint16_t>(Scripted("sending", 4102));
  *receiving = static_cast<std::uint16_t>(Scripted("receiving", 518));
  return 0;
}

int CBT_CheckOpenedJobCH(std::uint16_t s) {
  std::lock_guard<std::mutex> guard(g_lock);
  return Valid(s) ? static_cast<int>(Scripted("job_open", 0)) : 0;
}

#ifndef TGX_TEST_NO_JOB_CANCEL
int CBT_JobCancel(std::uint16_t s) {
  std::lock_guard<std::mutex> guard(g_lock);
  Log("JobCancel " + std::to_string(s));
  return 0;
}
#endif

void CBT_EnumChannel() {}

}  // extern "C"
