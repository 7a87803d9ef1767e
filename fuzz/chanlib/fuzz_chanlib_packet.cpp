// Bytes from a printer, read and dispatched as the engine pumps a port: the
// input is a series of reads, each a length byte and that many bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "chanlib/dispatch.h"
#include "chanlib/ring.h"
#include "memory_port.h"

using tgx::chanlib::testing::MemoryPort;
namespace chanlib = tgx::chanlib;

namespace {

void CheckRing(MemoryPort& port, int n) {
  chanlib::ChannelRecord& record = port.channels[n];
  chanlib::Ring ring(record.recv, port.rings[n], record.head.recvPacketSize);
  if (record.recv.packetsHeld > record.recv.slotCount) std::abort();
  if (ring.usable() && ring.PayloadHeld() < 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryPort port;
  port.AddTransactionChannel(1);
  port.AddChannel(2, 7, 0x10, 4096, 4096);
  port.AddChannel(3, 7, 0x20, 64, 64);
  port.AddChannel(4, 8, 0x30, 32, 32);
  port.rings[4].clear();  // a channel whose ring could not be allocated

  for (std::size_t at = 0; at < size;) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
    port.input.emplace_back(data + at + 1, data + at + 1 + length);
    at += 1 + length;
  }

  std::vector<std::uint8_t> packet;
  std::vector<std::uint8_t> taken(100);
  for (int round = 0; round < 64 && !port.input.empty(); ++round) {
    const int read = chanlib::ReadPacket(port, packet);
    if (read < 0) continue;
    if (static_cast<std::size_t>(read) != packet.size()) std::abort();
    const int waiting = 1 + round % 4;
    const int result = chanlib::DispatchPacket(port, packet, waiting);
    if (result > read) std::abort();
    for (int n = 1; n <= 4; ++n) {
      CheckRing(port, n);
      chanlib::Ring ring(port.channels[n].recv, port.rings[n],
                         port.channels[n].head.recvPacketSize);
      if (ring.usable() && round % 3 == 0) ring.Take(taken);
    }
  }
  return 0;
}
