// A port whose channels live in ordinary memory, for exercising the dispatcher
// in tests and fuzzing: reads come from queued chunks, writes are recorded.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "chanlib/dispatch.h"
#include "chanlib/shared_layout.h"
#include "tgx/wire/packet_1284.h"

namespace tgx::chanlib::testing {

// The packets of the printer wire, by their names.
using namespace tgx::wire;

class MemoryPort : public PortChannels {
 public:
  // Creates channel n with the socket pair, packet sizes and a receiving ring
  // of 10 packets.
  void AddChannel(int n, std::uint8_t primary, std::uint8_t secondary, std::uint16_t sendSize,
                  std::uint16_t recvSize) {
    ChannelRecord record{};
    record.head.inUse = 1;
    record.head.primarySocket = primary;
    record.head.secondarySocket = secondary;
    record.head.sendPacketSize = sendSize;
    record.head.recvPacketSize = recvSize;
    record.recv.slotCount = kRecvSlots;
    record.send.slotCount = kSendSlots;
    channels[n] = record;
    rings[n].assign(std::size_t{recvSize} * kRecvSlots, std::byte{0});
  }
  void AddTransactionChannel(int n) {
    AddChannel(n, 0, 0, 64, 64);
    transactionChannel = n;
  }

  int TransactionChannel() override { return transactionChannel; }
  int FindChannel(std::uint8_t primary, std::uint8_t secondary) override {
    for (int n = kFirstChannel; n <= kLastChannel; ++n) {
      const ChannelRecord& c = channels[n];
      if (c.head.inUse == 1 && c.head.primarySocket == primary &&
          c.head.secondarySocket == secondary) {
        return n;
      }
    }
    return 0;
  }
  int WithChannel(int channel, const ChannelUpdate& update) override {
    ChannelRecord copy = channels[channel];
    const int result = update(copy, rings[channel]);
    channels[channel] = copy;
    return result;
  }
  int WritePacket(std::span<const std::uint8_t> packet) override {
    written.emplace_back(packet.begin(), packet.end());
    return static_cast<int>(packet.size());
  }
  void SetPortState(std::uint16_t state) override { portState = state; }
  int Read(std::span<std::uint8_t> into) override {
    if (input.empty()) return 0;
    std::vector<std::uint8_t>& chunk = input.front();
    const std::size_t n = std::min(into.size(), chunk.size());
    std::copy_n(chunk.begin(), n, into.begin());
    chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    if (chunk.empty()) input.pop_front();
    return static_cast<int>(n);
  }

  std::array<ChannelRecord, kChannelSlots> channels{};
  std::array<std::vector<std::byte>, kChannelSlots> rings;
  int transactionChannel = 0;
  std::uint16_t portState = kPortOpen;
  std::deque<std::vector<std::uint8_t>> input;
  std::vector<std::vector<std::uint8_t>> written;
};

}  // namespace tgx::chanlib::testing
