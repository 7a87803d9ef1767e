// Feeds arbitrary bytes from several client connections, and arbitrary printer
// data, through the router's look at a first message and a session's message
// splitter and command handlers, with a
// channel library whose results follow the input. Every reply must be whole and
// of its command's reply size; Recv never carries more than 4096 bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "first_message.h"
#include "session.h"

namespace {

using namespace tgx::agent;

// The channel library: results drawn from the input, data for CBT_Recv from it.
struct Script {
  const std::uint8_t* choices = nullptr;
  std::size_t left = 0;
  std::vector<std::uint8_t> held;

  int Pick(int range) {
    if (left == 0) return 0;
    --left;
    return *choices++ % range;
  }
} g;

std::uint16_t CreateSocket() { return g.Pick(8) == 0 ? 0xFFFF : 2; }
int Bind(std::uint16_t, void*) { return g.Pick(8) == 0 ? -1 : 0; }
int GetSocketId(std::uint16_t) { return 7; }
int Connect(std::uint16_t, const void*) {
  static constexpr int kResults[] = {0, 1, 2, -50, -51, -402, -999, 0};
  return kResults[g.Pick(8)];
}
int CloseSocket(std::uint16_t) { return 0; }
int Recv(std::uint16_t, void* buffer, int length) {
  if (g.Pick(16) == 0) return -25;
  const auto n = std::min(g.held.size(), static_cast<std::size_t>(length));
  std::memcpy(buffer, g.held.data(), n);
  g.held.erase(g.held.begin(), g.held.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}
int Send(std::uint16_t, const void*, int length) {
  switch (g.Pick(8)) {
    case 0: return -1;
    case 1: return 0;
    case 2: return length / 2;
    default: return length;
  }
}
int GetDataSize(std::uint16_t, int) {
  return g.Pick(16) == 0 ? -1 : static_cast<int>(g.held.size());
}
int GetChannelCapability(std::uint16_t, std::uint32_t, const void* input,
                         std::uint32_t input_length, void* output, std::uint32_t output_length,
                         std::uint32_t* returned) {
  if (input_length > 1024 || output_length > 1024) {
    std::abort();  // the service must keep both within the message's data areas
  }
  std::vector<std::uint8_t> probe(static_cast<const std::uint8_t*>(input),
                                  static_cast<const std::uint8_t*>(input) + input_length);
  std::memset(output, 0xAB, output_length);
  *returned = output_length + static_cast<std::uint32_t>(g.Pick(4));
  return g.Pick(4) == 0 ? -8 : 0;
}
int SetTimeout(std::uint16_t, std::uint32_t, std::uint32_t) { return g.Pick(4) == 0 ? 0 : 1; }
int GetTimeout(std::uint16_t, std::uint32_t* r, std::uint32_t* s) {
  *r = *s = 100;
  return g.Pick(4) == 0 ? 0 : 1;
}
int GetPacketSize(std::uint16_t, std::uint16_t* s, std::uint16_t* r) {
  *s = static_cast<std::uint16_t>(g.Pick(256) * 20);
  *r = static_cast<std::uint16_t>(g.Pick(256));
  return g.Pick(4) == 0 ? -8 : 0;
}
int CheckOpenedJobCh(std::uint16_t) { return g.Pick(2); }
int JobCancel(std::uint16_t) { return 0; }

constexpr ChannelApi kApi = {CreateSocket,         Bind,       GetSocketId, Connect,
                             CloseSocket,          Recv,       Send,        GetDataSize,
                             GetChannelCapability, SetTimeout, GetTimeout,  GetPacketSize,
                             CheckOpenedJobCh,     JobCancel};

void CheckReplies(const std::vector<std::uint8_t>& replies) {
  std::size_t at = 0;
  while (at < replies.size()) {
    if (replies.size() - at < header::kSize) std::abort();
    const std::uint8_t* r = replies.data() + at;
    const CommandInfo* info = FindCommand(MessageCode(r));
    if (!info || MessageLength(r) != info->reply_size || replies.size() - at < info->reply_size) {
      std::abort();
    }
    if (info->code == code::kRecv && LoadLe32(r + recv::kCount) > recv::kDataCapacity) std::abort();
    at += info->reply_size;
  }
}

}  // namespace

// Input: one byte choosing the service channel (bits 0-1) and whether the
// channel library is missing (bit 2), one byte of how many choices
// follow for the channel library, the choices, then records of a target byte
// (0-3: a client connection, 4: the printer, 5-8: that client's connection
// closes), a length byte and that many bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static constexpr std::uint16_t kChannels[] = {0x10, 0x20, 0x30, 0x40};
  ChannelDescriptor descriptor{};
  StoreLe16(descriptor.data() + descriptor::kServiceChannel, kChannels[data[0] % 4]);
  const bool without_library = data[0] & 4;
  const std::size_t choices = std::min<std::size_t>(data[1], size - 2);
  g = Script{data + 2, choices, {}};
  data += 2 + choices;
  size -= 2 + choices;

  std::uint32_t now = 0;
  Session session(descriptor, without_library ? nullptr : &kApi, [&now] { return now += 37; });
  std::vector<std::uint8_t> replies;
  while (size >= 2) {
    const std::uint8_t target = data[0] % 9;
    const std::size_t n = std::min<std::size_t>(data[1], size - 2);
    const std::uint8_t* bytes = data + 2;
    data += 2 + n;
    size -= 2 + n;
    if (target < 4) {
      // What the router would make of these bytes as a connection's first message.
      const FirstMessage first = ExamineFirstMessage({bytes, std::min(n, kRouterPeekLimit)});
      if (first.kind == FirstMessage::Kind::kRefuse &&
          (first.length < header::kSize || first.length > std::min(n, kRouterPeekLimit))) {
        std::abort();  // a refusal must lie within what was peeked
      }
      replies.clear();
      if (session.Receive(target, {bytes, n}, replies) == Session::Outcome::kClose) {
        session.Disconnect(target);
      }
      CheckReplies(replies);
    } else if (target == 4) {
      g.held.insert(g.held.end(), bytes, bytes + n);
    } else {
      session.Disconnect(target - 5);
    }
  }
  return 0;
}
