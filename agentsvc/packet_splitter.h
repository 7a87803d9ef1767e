// Splits a byte stream into whole DevicePackets, in either direction: the data a
// client sends on a management channel, and the data read from the printer.
#pragma once

#include <cstdint>
#include <vector>

namespace tgx::agent {

enum class PacketSource { kClient, kPrinter };

using Packet = std::vector<std::uint8_t>;

// Takes every whole packet off the front of `stream` and appends it to `packets`;
// a partial packet at the end stays in `stream` for the next call. A header with
// a wrong magic or version, an opcode outside 1..128, or (from a client) the
// answer flag set makes the whole stream invalid: `stream` is emptied, nothing is
// appended, and the result is false.
bool SplitPackets(std::vector<std::uint8_t>& stream, PacketSource source,
                  std::vector<Packet>& packets);

}  // namespace tgx::agent
