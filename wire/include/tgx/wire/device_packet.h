// The printer's management packet ("DevicePacket") that travels as a byte
// stream inside channel data on the management channels 0x20 and 0x30 and in
// the administration sessions of the IEEE 1394 device: a 20-byte big-endian
// header (magic 0xCDCA, version 0x10) followed by its payload, the payload
// layouts of the event registration opcodes 8 and 9, and the one splitter that
// cuts such a stream into packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tgx/wire/byte_order.h"

namespace tgx::wire::device_packet {

// Header fields.
inline constexpr std::size_t kMagic = 0;          // u16
inline constexpr std::size_t kVersion = 2;        // u8
inline constexpr std::size_t kFlags = 3;          // u8
inline constexpr std::size_t kOpcode = 4;         // u16
inline constexpr std::size_t kTransaction = 6;    // u16, 0 = none
inline constexpr std::size_t kPayloadLength = 8;  // u16, bytes after the header
inline constexpr std::size_t kCarried = 10;       // 10 bytes the printer carries into its answer
inline constexpr std::size_t kLocalMarker = 18;   // u16, 1 in answers the service makes itself
inline constexpr std::size_t kHeaderSize = 20;

inline constexpr std::uint16_t kMagicValue = 0xCDCA;
inline constexpr std::uint8_t kVersionValue = 0x10;
inline constexpr std::uint8_t kFlagAnswer = 0x01;
inline constexpr std::uint8_t kFlagExpectsAnswer = 0x04;
inline constexpr std::uint16_t kFirstOpcode = 1;
inline constexpr std::uint16_t kLastOpcode = 128;

inline constexpr std::uint16_t kOpRegister = 8;
inline constexpr std::uint16_t kOpUnregister = 9;
inline constexpr std::uint16_t kOpNotification = 10;

// Transaction identifiers on a shared channel: the client's slot in the top 4
// bits, a counter 1..4095 below.
inline constexpr std::uint16_t kSlotMask = 0xF000;
inline constexpr std::uint16_t kCounterLimit = 4095;

inline std::uint16_t Opcode(const std::uint8_t* p) { return LoadBe16(p + kOpcode); }
inline std::uint16_t Transaction(const std::uint8_t* p) { return LoadBe16(p + kTransaction); }
inline std::uint16_t PayloadLength(const std::uint8_t* p) { return LoadBe16(p + kPayloadLength); }
inline std::uint8_t Flags(const std::uint8_t* p) { return p[kFlags]; }
inline void SetTransaction(std::uint8_t* p, std::uint16_t id) { StoreBe16(p + kTransaction, id); }
inline void SetPayloadLength(std::uint8_t* p, std::uint16_t n) { StoreBe16(p + kPayloadLength, n); }

// Event registration payloads (offsets from the start of the packet). Both
// opcodes begin with a prefix byte and the 4-byte subscription key; opcode 8
// then has two 2-byte parameters, opcode 9 one. From N onwards both read:
// N (u16), N event codes of 2 bytes, a 4-byte parameter, M (u16), the optional
// block of M bytes (a u16 value, a length byte L, L bytes: M = 3 + L), and a
// 4-byte duration.
namespace registration {
inline constexpr std::size_t kPrefix = 20;
inline constexpr std::size_t kKey = 21;
inline constexpr std::size_t kKeySize = 4;
inline constexpr std::size_t kFirstParameter = 25;
inline constexpr std::size_t kSecondParameter = 27;  // opcode 8 only
inline constexpr std::size_t kRegisterCodeCount = 29;
inline constexpr std::size_t kUnregisterCodeCount = 27;
// Bytes from N to the end when there are no codes and no optional block.
inline constexpr std::size_t kTailMinimum = 12;
inline constexpr std::size_t kThirdParameterSize = 4;
inline constexpr std::size_t kBlockHeaderSize = 3;  // the u16 value and the length byte
inline constexpr std::size_t kDurationSize = 4;
// Opcode 8 or 9 is looked at only when its payload holds more than the prefix
// and the key's first bytes.
inline constexpr std::size_t kMinimumKeyedPayload = 5;
}  // namespace registration

// Duration field: hours in the top byte, minutes in the next, milliseconds
// (below 60000) in the low 16 bits.
inline std::uint64_t DurationMilliseconds(std::uint32_t packed) {
  return (packed >> 24) * 3600000ull + ((packed >> 16) & 0xFF) * 60000ull + (packed & 0xFFFF);
}
inline std::uint32_t PackDuration(std::uint64_t ms) {
  std::uint64_t hours = ms / 3600000;
  if (hours > 0xFF) hours = 0xFF;
  return static_cast<std::uint32_t>(hours << 24) |
         static_cast<std::uint32_t>(((ms / 60000) % 60) << 16) |
         static_cast<std::uint32_t>(ms % 60000);
}

// Locally made answer to a registration: header, key, two parameters.
inline constexpr std::size_t kLocalAnswerPayload = 8;

// Whether a stream may carry answers: a printer's does, a client's requests never do.
enum class Answers { kAccepted, kRefused };

// Magic, version and opcode range of a 20-byte header, and the answer flag
// only where answers are accepted.
bool HeaderValid(const std::uint8_t* header, Answers answers);

// Cuts a byte stream into whole packets. Feed() appends bytes; Next() yields the
// next whole packet, kNeedMore while it has not arrived whole, or kBroken when
// the stream does not start with a valid header: then `out` receives every byte
// held and the splitter is empty again.
class Splitter {
 public:
  enum class Status { kPacket, kNeedMore, kBroken };

  explicit Splitter(Answers answers) : answers_(answers) {}
  void Feed(std::span<const std::uint8_t> bytes);
  Status Next(std::vector<std::uint8_t>& out);
  std::size_t Buffered() const { return held_.size() - consumed_; }
  void Clear();

 private:
  Answers answers_;
  std::vector<std::uint8_t> held_;
  std::size_t consumed_ = 0;  // bytes at the front already handed out
};

}  // namespace tgx::wire::device_packet
