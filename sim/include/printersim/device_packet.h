// The printer's management packets ("DevicePacket"): a 20-byte big-endian header
// (magic 0xCDCA, version 0x10) followed by the payload. They travel as a byte
// stream inside channel data on the management channels 0x20 and 0x30 and in
// the administration and resource sessions of the IEEE 1394 device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tgx/wire/device_packet.h"

namespace printersim::devpkt {

// The layout and codes are the wire's own; the simulator keeps its own reading
// and writing of them, and cuts the host's stream with the wire's one splitter.
using tgx::wire::device_packet::Answers;
using tgx::wire::device_packet::kCarried;
using tgx::wire::device_packet::kFlagAnswer;
using tgx::wire::device_packet::kFlagExpectsAnswer;
using tgx::wire::device_packet::kFlags;
using tgx::wire::device_packet::kHeaderSize;
using tgx::wire::device_packet::kMagic;
using tgx::wire::device_packet::kMagicValue;
using tgx::wire::device_packet::kOpcode;
using tgx::wire::device_packet::kOpNotification;
using tgx::wire::device_packet::kOpRegister;
using tgx::wire::device_packet::kOpUnregister;
using tgx::wire::device_packet::kPayloadLength;
using tgx::wire::device_packet::kTransaction;
using tgx::wire::device_packet::kVersion;
using tgx::wire::device_packet::kVersionValue;
using tgx::wire::device_packet::Splitter;

struct Header {
  std::uint8_t flags = 0;
  std::uint16_t opcode = 0;
  std::uint16_t transaction_id = 0;
  std::uint16_t payload_length = 0;
  std::uint8_t carried[10] = {};  // bytes 10 to 19
};

Header ReadHeader(const std::uint8_t* bytes);
void WriteHeader(std::uint8_t* bytes, const Header& header);
std::vector<std::uint8_t> Encode(const Header& header, std::span<const std::uint8_t> payload);

// Event registration (opcode 8) and unregistration (opcode 9) payloads, read at
// their offsets from the start of the packet.
struct Registration {
  std::uint8_t prefix = 0;
  std::uint32_t key = 0;
  std::uint16_t parameter_1 = 0;
  std::uint16_t parameter_2 = 0;           // opcode 8 only
  std::vector<std::uint16_t> event_codes;  // as the two bytes found, big-endian
  std::uint32_t parameter_3 = 0;
  std::vector<std::uint8_t> optional_block;
  std::uint32_t duration = 0;  // packed: hours, minutes, milliseconds
};
// nullopt when the packet is too short for the layout of its opcode.
std::optional<Registration> ParseRegistration(std::span<const std::uint8_t> packet);

// Duration field: hours in the top byte, minutes in the next, milliseconds (below
// 60000) in the low 16 bits.
std::uint64_t DurationMilliseconds(std::uint32_t packed);

}  // namespace printersim::devpkt
