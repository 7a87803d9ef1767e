// Feeds arbitrary packet streams through the multiplexer: Sends from three
// clients of a shared management channel, data from the printer, departures and
// the passing of time. Every packet handed to the channel or to a client must be
// a whole, valid device packet.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "multiplexer.h"
#include "tgx/device_packet.h"
#include "tgx/wire/agent_wire.h"

namespace {

using namespace tgx::agent;

void CheckPacket(std::span<const std::uint8_t> p) {
  if (p.size() < packet::kHeaderSize ||
      p.size() != packet::kHeaderSize + packet::PayloadLength(p.data()) ||
      packet::LoadBe16(p.data() + packet::kMagic) != packet::kMagicValue) {
    std::abort();
  }
}

void CheckQueue(ClientLink& link) {
  std::vector<std::uint8_t> bytes(link.queue.size());
  link.queue.Take(bytes.data(), bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < packet::kHeaderSize) std::abort();
    const std::size_t n = packet::kHeaderSize + packet::PayloadLength(bytes.data() + at);
    if (bytes.size() - at < n) std::abort();
    CheckPacket({bytes.data() + at, n});
    at += n;
  }
}

}  // namespace

// Input: one byte choosing the service channel, then records of an operation
// byte, a 16-bit length and that many bytes. Operation % 6: 0-2 Send from that
// client, 3 printer data, 4 departure of client (length % 3) and its return,
// 5 time passes (length ms). Bit 7 of the operation makes the channel refuse
// the Send.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::uint32_t now = 0xFFFF0000u;  // the tick count wraps during a run
  PacketMultiplexer mux(data[0] & 1 ? kSharedManagementChannel : kSingleManagementChannel,
                        [&now] { return now; });
  ClientLinks links;
  for (int i = 0; i < 3; ++i) links.emplace_back(i, static_cast<std::uint16_t>(i * 0x1000));
  for (ClientLink& l : links) l.SetConnected(true);
  packet::Splitter read_buffer(packet::Answers::kAccepted);
  ++data;
  --size;
  while (size >= 3) {
    const std::uint8_t op = data[0];
    const std::size_t n = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
    const std::span<const std::uint8_t> bytes{data + 3, n};
    data += 3 + n;
    size -= 3 + n;
    const bool refuse = op & 0x80;
    switch (op % 6) {
      case 0:
      case 1:
      case 2: {
        auto link = std::next(links.begin(), op % 6);
        mux.Outgoing(*link, bytes, links, [refuse](std::span<const std::uint8_t> p) {
          CheckPacket(p);
          return refuse ? result::kBusy : result::kSuccess;
        });
        if (link->parse_buffer.Buffered() > 0xFFFF + packet::kHeaderSize) std::abort();
        break;
      }
      case 3:
        read_buffer.Feed(bytes);
        mux.Incoming(read_buffer, links);
        if (read_buffer.Buffered() > 0xFFFF + packet::kHeaderSize) std::abort();
        break;
      case 4: {
        const int client = static_cast<int>(n % 3);
        mux.Depart(client);
        auto link = std::next(links.begin(), client);
        link->parse_buffer.Clear();
        link->queue.Clear();
        break;
      }
      case 5: now += static_cast<std::uint32_t>(n) * 1000; break;
    }
    for (ClientLink& l : links) CheckQueue(l);
  }
  return 0;
}
