#include "packet_splitter.h"

#include "tgx/device_packet.h"

namespace tgx::agent {

namespace {

bool HeaderIsValid(const std::uint8_t* p, PacketSource source) {
  if (packet::LoadBE16(p + packet::kMagic) != packet::kMagicValue) return false;
  if (p[packet::kVersion] != packet::kVersionValue) return false;
  const std::uint16_t opcode = packet::Opcode(p);
  if (opcode < packet::kFirstOpcode || opcode > packet::kLastOpcode) return false;
  return source == PacketSource::kPrinter || (packet::Flags(p) & packet::kFlagAnswer) == 0;
}

}  // namespace

bool SplitPackets(std::vector<std::uint8_t>& stream, PacketSource source,
                  std::vector<Packet>& packets) {
  std::vector<Packet> taken;
  std::size_t offset = 0;
  while (stream.size() - offset >= packet::kHeaderSize) {
    const std::uint8_t* p = stream.data() + offset;
    if (!HeaderIsValid(p, source)) {
      stream.clear();
      return false;
    }
    const std::size_t size = packet::kHeaderSize + packet::PayloadLength(p);
    if (stream.size() - offset < size) break;
    taken.emplace_back(p, p + size);
    offset += size;
  }
  stream.erase(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(offset));
  for (Packet& p : taken) packets.push_back(std::move(p));
  return true;
}

}  // namespace tgx::agent
