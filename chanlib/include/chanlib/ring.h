// A channel ring: one buffer allocation used circularly, holding whole packets
// (header included) back to back; a packet that reaches the end of the buffer
// continues at its start. The ring's counters live in a RingDescriptor of the
// shared channel record; the ring checks them before it trusts them, so a
// corrupted record can never make it touch memory outside its buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "chanlib/shared_layout.h"
#include "tgx/wire/packet_1284.h"

namespace tgx::chanlib {

// The packets of the printer wire, by their names.
using namespace tgx::wire;

class Ring {
 public:
  // buffer: the ring's allocation; packetSize: the largest packet it holds.
  Ring(RingDescriptor& descriptor, std::span<std::byte> buffer, std::uint16_t packetSize);

  // False when the ring has no buffer, or its counters do not fit its buffer.
  bool usable() const;
  std::size_t capacity() const { return capacity_; }

  // Appends a whole packet. kNoRing, kPacketTooLong (longer than the ring's
  // packet size or shorter than a header), kProtocolFailure when all slots hold
  // packets.
  int Store(std::span<const std::uint8_t> packet);

  // Payload bytes held, less what was already taken of the front packet; -1 for
  // a ring whose contents are corrupt.
  long PayloadHeld() const;

  // Copies payload into out across packets, skipping headers, and keeps the
  // rest of a partly taken packet. Bytes copied, or kNoRing / kPacketTooLong.
  int Take(std::span<std::uint8_t> out);

  // Removes the front packet whole into out (at least the packet size long).
  // Its length, 0 for an empty ring, or kNoRing / kPacketTooLong.
  int PopPacket(std::span<std::uint8_t> out);

  // The room for the next outgoing packet of length bytes at the write offset:
  // one piece, or two when it wraps. Empty when the ring cannot hold it.
  struct Pieces {
    std::span<std::byte> first;
    std::span<std::byte> second;
  };
  Pieces Reserve(std::size_t length);
  // The reserved packet was handed on: the slot is free again.
  void Release(std::size_t length);

  // Copies bytes in or out at an offset, wrapping at the end.
  void CopyIn(std::size_t offset, std::span<const std::uint8_t> bytes);
  void CopyOut(std::size_t offset, std::span<std::uint8_t> bytes) const;

 private:
  // Length of the packet at an offset; 0 when its header is not a valid packet.
  std::size_t PacketLengthAt(std::size_t offset) const;
  std::size_t Advance(std::size_t offset, std::size_t by) const {
    return (offset + by) % capacity_;
  }

  RingDescriptor& descriptor_;
  std::span<std::byte> buffer_;
  std::size_t packetSize_;
  std::size_t capacity_;
};

}  // namespace tgx::chanlib
