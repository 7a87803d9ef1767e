// The printer's management packet that travels inside channel data: a 20-byte
// big-endian header (magic 0xCDCA, version 0x10) followed by its payload, and
// the payload layouts of the event registration opcodes 8 and 9.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tgx::agent::packet {

inline std::uint16_t LoadBE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t LoadBE32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}
inline void StoreBE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void StoreBE32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

// Header fields.
inline constexpr std::size_t kMagic = 0;          // u16
inline constexpr std::size_t kVersion = 2;        // u8
inline constexpr std::size_t kFlags = 3;          // u8
inline constexpr std::size_t kOpcode = 4;         // u16
inline constexpr std::size_t kTransaction = 6;    // u16, 0 = none
inline constexpr std::size_t kPayloadLength = 8;  // u16, bytes after the header
inline constexpr std::size_t kLocalMarker = 18;   // u16, 1 in locally made answers
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

inline std::uint16_t Opcode(const std::uint8_t* p) { return LoadBE16(p + kOpcode); }
inline std::uint16_t Transaction(const std::uint8_t* p) { return LoadBE16(p + kTransaction); }
inline std::uint16_t PayloadLength(const std::uint8_t* p) { return LoadBE16(p + kPayloadLength); }
inline std::uint8_t Flags(const std::uint8_t* p) { return p[kFlags]; }
inline void SetTransaction(std::uint8_t* p, std::uint16_t id) { StoreBE16(p + kTransaction, id); }
inline void SetPayloadLength(std::uint8_t* p, std::uint16_t n) { StoreBE16(p + kPayloadLength, n); }

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

}  // namespace tgx::agent::packet
