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

namespace printersim::devpkt {

inline constexpr std::size_t kHeaderSize = 20;
inline constexpr std::size_t kMagicOffset = 0;
inline constexpr std::size_t kVersionOffset = 2;
inline constexpr std::size_t kFlagsOffset = 3;
inline constexpr std::size_t kOpcodeOffset = 4;
inline constexpr std::size_t kTransactionIdOffset = 6;
inline constexpr std::size_t kPayloadLengthOffset = 8;
inline constexpr std::size_t kCarried1Offset = 10;  // 4 bytes, carried unchanged
inline constexpr std::size_t kCarried2Offset = 14;  // 4 bytes, carried unchanged
inline constexpr std::size_t kCarried3Offset = 18;  // 2 bytes, carried unchanged

inline constexpr std::uint16_t kMagic = 0xCDCA;
inline constexpr std::uint8_t kVersion = 0x10;
inline constexpr std::uint8_t kFlagAnswer = 0x01;
inline constexpr std::uint8_t kFlagExpectsAnswer = 0x04;
inline constexpr std::uint16_t kMinOpcode = 1;
inline constexpr std::uint16_t kMaxOpcode = 128;

inline constexpr std::uint16_t kOpRegister = 8;
inline constexpr std::uint16_t kOpUnregister = 9;
inline constexpr std::uint16_t kOpNotification = 10;

struct Header {
  std::uint8_t flags = 0;
  std::uint16_t opcode = 0;
  std::uint16_t transaction_id = 0;
  std::uint16_t payload_length = 0;
  std::uint8_t carried[10] = {};  // bytes 10 to 19
};

// Checks magic, version and opcode range of a 20-byte header.
bool HeaderValid(const std::uint8_t* bytes);
Header ReadHeader(const std::uint8_t* bytes);
void WriteHeader(std::uint8_t* bytes, const Header& header);
std::vector<std::uint8_t> Encode(const Header& header, std::span<const std::uint8_t> payload);

// Splits a byte stream into packets. Feed() appends bytes; Next() yields the next
// whole packet, nothing while more bytes are needed, or reports a broken stream
// (wrong magic, version or opcode), after which the buffer has been emptied.
class StreamSplitter {
 public:
  enum class Status { kPacket, kNeedMore, kBroken };
  void Feed(std::span<const std::uint8_t> bytes);
  Status Next(std::vector<std::uint8_t>& packet);
  std::size_t Buffered() const { return buffer_.size() - consumed_; }
  void Clear();

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t consumed_ = 0;
};

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
