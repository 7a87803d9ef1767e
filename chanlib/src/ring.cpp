#include "chanlib/ring.h"

#include <algorithm>
#include <cstring>

#include "chanlib/result_codes.h"

namespace tgx::chanlib {

Ring::Ring(RingDescriptor& descriptor, std::span<std::byte> buffer, std::uint16_t packetSize)
    : descriptor_(descriptor),
      buffer_(buffer),
      packetSize_(packetSize),
      capacity_(std::size_t{descriptor.slotCount} * packetSize) {}

bool Ring::usable() const {
  return capacity_ > 0 && packetSize_ >= kPacketHeaderSize && buffer_.size() >= capacity_ &&
         descriptor_.readOffset < capacity_ && descriptor_.writeOffset < capacity_ &&
         descriptor_.packetsHeld <= descriptor_.slotCount;
}

void Ring::CopyIn(std::size_t offset, std::span<const std::uint8_t> bytes) {
  const std::size_t head = std::min(bytes.size(), capacity_ - offset);
  std::memcpy(buffer_.data() + offset, bytes.data(), head);
  std::memcpy(buffer_.data(), bytes.data() + head, bytes.size() - head);
}

void Ring::CopyOut(std::size_t offset, std::span<std::uint8_t> bytes) const {
  const std::size_t head = std::min(bytes.size(), capacity_ - offset);
  std::memcpy(bytes.data(), buffer_.data() + offset, head);
  std::memcpy(bytes.data() + head, buffer_.data(), bytes.size() - head);
}

std::size_t Ring::PacketLengthAt(std::size_t offset) const {
  std::uint8_t bytes[kPacketHeaderSize];
  CopyOut(offset, bytes);
  const std::size_t length = DecodeHeader(bytes).length;
  return length < kPacketHeaderSize || length > packetSize_ ? 0 : length;
}

int Ring::Store(std::span<const std::uint8_t> packet) {
  if (!usable()) return kNoRing;
  if (packet.size() < kPacketHeaderSize || packet.size() > packetSize_) return kPacketTooLong;
  if (descriptor_.packetsHeld >= descriptor_.slotCount) return kProtocolFailure;
  CopyIn(descriptor_.writeOffset, packet);
  descriptor_.writeOffset =
      static_cast<std::uint32_t>(Advance(descriptor_.writeOffset, packet.size()));
  descriptor_.packetsHeld = static_cast<std::uint16_t>(descriptor_.packetsHeld + 1);
  return kOk;
}

long Ring::PayloadHeld() const {
  if (!usable()) return descriptor_.packetsHeld == 0 && capacity_ == 0 ? 0 : -1;
  long total = 0;
  std::size_t offset = descriptor_.readOffset;
  for (unsigned i = 0; i < descriptor_.packetsHeld; ++i) {
    const std::size_t length = PacketLengthAt(offset);
    if (length == 0) return -1;
    total += static_cast<long>(length - kPacketHeaderSize);
    offset = Advance(offset, length);
  }
  if (descriptor_.partialBytes > total) return -1;
  return total - descriptor_.partialBytes;
}

int Ring::Take(std::span<std::uint8_t> out) {
  if (!usable()) return kNoRing;
  std::size_t copied = 0;
  while (descriptor_.packetsHeld > 0 && copied < out.size()) {
    const std::size_t length = PacketLengthAt(descriptor_.readOffset);
    if (length == 0) return kPacketTooLong;
    const std::size_t payload = length - kPacketHeaderSize;
    const std::size_t taken = descriptor_.partialBytes;
    if (taken > payload) return kPacketTooLong;
    const std::size_t n = std::min(payload - taken, out.size() - copied);
    CopyOut(Advance(descriptor_.readOffset, kPacketHeaderSize + taken), out.subspan(copied, n));
    copied += n;
    if (taken + n == payload) {
      descriptor_.readOffset = static_cast<std::uint32_t>(Advance(descriptor_.readOffset, length));
      descriptor_.packetsHeld = static_cast<std::uint16_t>(descriptor_.packetsHeld - 1);
      descriptor_.partialBytes = 0;
    } else {
      descriptor_.partialBytes = static_cast<std::uint16_t>(taken + n);
    }
  }
  return static_cast<int>(copied);
}

int Ring::PopPacket(std::span<std::uint8_t> out) {
  if (!usable()) return kNoRing;
  if (descriptor_.packetsHeld == 0) return 0;
  const std::size_t length = PacketLengthAt(descriptor_.readOffset);
  if (length == 0 || length > out.size()) return kPacketTooLong;
  CopyOut(descriptor_.readOffset, out.first(length));
  descriptor_.readOffset = static_cast<std::uint32_t>(Advance(descriptor_.readOffset, length));
  descriptor_.packetsHeld = static_cast<std::uint16_t>(descriptor_.packetsHeld - 1);
  descriptor_.partialBytes = 0;
  return static_cast<int>(length);
}

Ring::Pieces Ring::Reserve(std::size_t length) {
  if (!usable() || length > packetSize_) return {};
  const std::size_t offset = descriptor_.writeOffset;
  const std::size_t head = std::min(length, capacity_ - offset);
  return {buffer_.subspan(offset, head), buffer_.first(length - head)};
}

void Ring::Release(std::size_t length) {
  descriptor_.writeOffset = static_cast<std::uint32_t>(Advance(descriptor_.writeOffset, length));
  descriptor_.readOffset = descriptor_.writeOffset;
}

}  // namespace tgx::chanlib
