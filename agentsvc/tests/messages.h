// Builders of agent wire requests and device packets for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tgx/device_packet.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::agent::test {

using Bytes = std::vector<std::uint8_t>;

// A request of `size` bytes: header with that length and the code, rest zero.
inline Bytes Request(std::uint32_t code, std::size_t size) {
  Bytes m(size, 0);
  WriteHeader(m.data(), static_cast<std::uint32_t>(size), code, 0);
  return m;
}

inline Bytes Descriptor(std::uint16_t channel, const std::string& port) {
  Bytes d(descriptor::kSize, 0);
  StoreLe16(d.data() + descriptor::kServiceChannel, channel);
  for (std::size_t i = 0; i < port.size() && i + 1 < descriptor::kPortNameSize; ++i) {
    d[descriptor::kPortName + i] = static_cast<std::uint8_t>(port[i]);
  }
  return d;
}

inline Bytes CreateSocketRequest(std::uint16_t channel, const std::string& port) {
  Bytes m = Request(code::kCreateSocket, create_socket::kRequestSize);
  const Bytes d = Descriptor(channel, port);
  std::copy(d.begin(), d.end(), m.begin() + create_socket::kDescriptor);
  return m;
}

inline Bytes ConnectRequest() { return Request(code::kConnect, connect::kRequestSize); }

inline Bytes DeleteSocketRequest(std::uint32_t cancel) {
  Bytes m = Request(code::kDeleteSocket, delete_socket::kRequestSize);
  StoreLe32(m.data() + delete_socket::kCancelFlag, cancel);
  return m;
}

inline Bytes SendRequest(const Bytes& data) {
  Bytes m = Request(code::kSend, data.size() + send::kOverhead);
  StoreLe32(m.data() + send::kCount, static_cast<std::uint32_t>(data.size()));
  std::copy(data.begin(), data.end(), m.begin() + send::kData);
  return m;
}

inline Bytes RecvRequest(std::uint32_t largest) {
  Bytes m = Request(code::kRecv, recv::kRequestSize);
  StoreLe32(m.data() + recv::kLargestCount, largest);
  return m;
}

inline Bytes GetDataSizeRequest(std::uint32_t mode) {
  Bytes m = Request(code::kGetDataSizeInSocket, get_data_size::kRequestSize);
  StoreLe32(m.data() + get_data_size::kMode, mode);
  return m;
}

inline Bytes GetPacketSizeRequest() {
  return Request(code::kGetPacketSizeFromSocket, get_packet_size::kRequestSize);
}

// The data area of a Recv reply.
inline Bytes RecvData(const Bytes& reply) {
  const std::uint32_t n = LoadLe32(reply.data() + recv::kCount);
  return Bytes(reply.begin() + recv::kData, reply.begin() + recv::kData + n);
}

// ---- Device packets -------------------------------------------------------------------

inline Bytes DevicePacket(std::uint16_t opcode, std::uint16_t id, std::uint8_t flags,
                          const Bytes& payload) {
  Bytes p(packet::kHeaderSize, 0);
  packet::StoreBe16(p.data() + packet::kMagic, packet::kMagicValue);
  p[packet::kVersion] = packet::kVersionValue;
  p[packet::kFlags] = flags;
  packet::StoreBe16(p.data() + packet::kOpcode, opcode);
  packet::StoreBe16(p.data() + packet::kTransaction, id);
  packet::StoreBe16(p.data() + packet::kPayloadLength, static_cast<std::uint16_t>(payload.size()));
  for (std::size_t i = 10; i < packet::kHeaderSize; ++i) p[i] = static_cast<std::uint8_t>(0xA0 + i);
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

// A register (8) or unregister (9) packet for `key` with event codes given as
// their two packet bytes (first, second), no optional block.
inline Bytes RegistrationPacket(std::uint16_t opcode, std::uint16_t id, std::uint32_t key,
                                const std::vector<std::uint16_t>& codes, std::uint32_t duration) {
  Bytes b;
  auto be16 = [&b](std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
  };
  auto be32 = [&](std::uint32_t v) {
    be16(static_cast<std::uint16_t>(v >> 16));
    be16(static_cast<std::uint16_t>(v));
  };
  b.push_back(0x77);  // prefix
  be32(key);
  be16(0x1111);                                     // first parameter
  if (opcode == packet::kOpRegister) be16(0x2222);  // second parameter
  be16(static_cast<std::uint16_t>(codes.size()));
  for (std::uint16_t c : codes) {
    b.push_back(static_cast<std::uint8_t>(c));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  be32(0x33333333);  // third parameter
  be16(0);           // no optional block
  be32(duration);
  return DevicePacket(opcode, id, packet::kFlagExpectsAnswer, b);
}

}  // namespace tgx::agent::test
