// Client-side helpers for the printer's management packets (device_packet.h):
// building requests and registration payloads, and showing them as text
// (packet::Splitter, from tgx/device_packet.h, cuts a received stream).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tgx::agent::packet {

using Bytes = std::vector<std::uint8_t>;

// A packet with the given header fields and payload (at most 0xFFFF bytes).
Bytes BuildPacket(std::uint8_t flags, std::uint16_t opcode, std::uint16_t transaction,
                  std::span<const std::uint8_t> payload);

// The payload of an event registration (opcode 8): the subscription key, the
// event codes and how long the registration lasts (0: no limit).
Bytes RegistrationPayload(std::uint32_t key, std::span<const std::uint16_t> events,
                          std::uint32_t minutes);

// One line with the header fields, then a hex dump of the payload.
std::string FormatPacket(std::span<const std::uint8_t> packet);
// Sixteen bytes a line: offset, hex, printable characters.
std::string HexDump(std::span<const std::uint8_t> bytes);

}  // namespace tgx::agent::packet
