// Credit arithmetic of a channel, free of I/O. Credit counts packets: the
// printer may send on a channel as many packets as the host granted it, and the
// host as many as the printer granted.
#pragma once

#include <algorithm>
#include <cstdint>

namespace tgx::chanlib {

inline constexpr std::uint16_t kUnlimitedCredit = 0xFFFF;

// Credit counters are 16-bit: they saturate instead of wrapping to a small value.
constexpr std::uint16_t AddCredit(std::uint16_t credit, std::uint32_t more) {
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(credit + more, 0xFFFF));
}

// One packet's worth used up; a counter at 0 stays 0.
constexpr std::uint16_t UseCredit(std::uint16_t credit) {
  return credit == 0 ? 0 : static_cast<std::uint16_t>(credit - 1);
}

// Receiving slots neither filled nor promised to the printer (may be negative
// when the printer sent beyond its credit).
constexpr int FreeReceiveSlots(int slots, int packetsHeld, int creditGranted) {
  return slots - packetsHeld - creditGranted;
}

// The grant for a CreditRequest from the printer: the smaller of what it wants
// and the free receiving slots. A wanted value of 0xFFFF means "as much as the
// maximum outstanding credit", when that names a real bound.
constexpr std::uint16_t CreditRequestGrant(int slots, int packetsHeld, int creditGranted,
                                           std::uint16_t wanted, std::uint16_t maxOutstanding) {
  if (wanted == kUnlimitedCredit && maxOutstanding != 0 && maxOutstanding != kUnlimitedCredit) {
    wanted = maxOutstanding;
  }
  const int free = std::max(0, FreeReceiveSlots(slots, packetsHeld, creditGranted));
  return static_cast<std::uint16_t>(std::min<int>(wanted, free));
}

// The credit byte of an outgoing data packet. Only the shared management
// channel (secondary socket 0x20) hands out receive credit with its data.
inline constexpr std::uint8_t kSharedManagementSocket = 0x20;
constexpr std::uint8_t OutgoingCreditByte(std::uint8_t secondarySocket, int slots,
                                          int creditGranted, int packetsHeld) {
  if (secondarySocket != kSharedManagementSocket) return 0;
  const int free = FreeReceiveSlots(slots, packetsHeld, creditGranted);
  if (free <= 0) return 0;
  if (free > slots - 2) return 1;
  return static_cast<std::uint8_t>(free);
}

}  // namespace tgx::chanlib
