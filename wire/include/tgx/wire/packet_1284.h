// The packet protocol spoken over a printer port, in the manner of IEEE 1284.4:
// the 6-byte packet header and the commands and replies of the transaction
// channel (sockets 0/0), as the host and the printer both read and write them.
// Multi-byte fields are big-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>

#include "tgx/wire/endian_field.h"

namespace tgx::wire {

struct PacketHeader {
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
  Be<std::uint16_t> length;  // including the header
  std::uint8_t credit;       // credit granted to the receiver with this packet
  std::uint8_t control;      // always 0
};
static_assert(sizeof(PacketHeader) == 6);

inline constexpr std::size_t kPacketHeaderSize = sizeof(PacketHeader);
inline constexpr std::size_t kMaxPacketSize = 0xFFFF;
inline constexpr std::uint8_t kReplyBit = 0x80;
// Offset of the command code in a transaction packet.
inline constexpr std::size_t kCommandOffset = kPacketHeaderSize;
inline constexpr std::size_t kTransactionBodyOffset = kCommandOffset + 1;

inline PacketHeader DecodeHeader(std::span<const std::uint8_t> bytes) {
  PacketHeader header;
  std::memcpy(&header, bytes.data(), sizeof header);
  return header;
}

static_assert(offsetof(PacketHeader, length) == 2 && offsetof(PacketHeader, credit) == 4 &&
              offsetof(PacketHeader, control) == 5);

// Service channels (secondary sockets) with a meaning to the printer.
inline constexpr std::uint8_t kTransactionSocket = 0x00;
inline constexpr std::uint8_t kPrintJobSocket = 0x10;
inline constexpr std::uint8_t kSharedManagementSocket = 0x20;
inline constexpr std::uint8_t kManagementSocket = 0x30;

// The transaction channel: fixed packet size and initial credit in each direction.
inline constexpr std::uint16_t kTransactionPacketSize = 64;
inline constexpr std::uint16_t kTransactionInitialCredit = 2;

// Result bytes of replies.
inline constexpr std::uint8_t kResultSuccess = 0;
inline constexpr std::uint8_t kResultRevisionUnsupported = 2;
inline constexpr std::uint8_t kResultInsufficientResources = 3;  // OpenChannel: the host's -51
inline constexpr std::uint8_t kResultRefused = 4;
inline constexpr std::uint8_t kResultChannelUnavailable = 7;  // OpenChannel: the host's -50
inline constexpr std::uint8_t kResultUnknownChannel = 0x0A;

inline constexpr std::uint8_t kHostRevision = 0x10;  // revision the host names when refusing Init

// Transaction bodies: the bytes after the command code. Each names its code.
struct InitCommand {
  static constexpr std::uint8_t kCode = 0x00;
  std::uint8_t revision;
};
struct InitReply {
  static constexpr std::uint8_t kCode = 0x80;
  std::uint8_t result;
  std::uint8_t revision;
};
struct OpenChannelCommand {
  static constexpr std::uint8_t kCode = 0x01;
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
  Be<std::uint16_t> maxSendPacketSize;
  Be<std::uint16_t> maxRecvPacketSize;
  Be<std::uint16_t> creditLimit1;
  Be<std::uint16_t> creditLimit2;
};
struct OpenChannelReply {
  static constexpr std::uint8_t kCode = 0x81;
  std::uint8_t result;
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
  Be<std::uint16_t> sendPacketSize;
  Be<std::uint16_t> recvPacketSize;
  Be<std::uint16_t> credit;
};
struct CloseChannelCommand {
  static constexpr std::uint8_t kCode = 0x02;
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
};
struct CloseChannelReply {
  static constexpr std::uint8_t kCode = 0x82;
  std::uint8_t result;
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
};
struct CreditCommand {
  static constexpr std::uint8_t kCode = 0x03;
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
  Be<std::uint16_t> credit;
};
struct CreditReply {
  static constexpr std::uint8_t kCode = 0x83;
  std::uint8_t result;
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
};
struct CreditRequestCommand {
  static constexpr std::uint8_t kCode = 0x04;
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
  Be<std::uint16_t> creditWanted;
  Be<std::uint16_t> maxOutstandingCredit;
};
struct CreditRequestReply {
  static constexpr std::uint8_t kCode = 0x84;
  std::uint8_t result;
  std::uint8_t primarySocket;
  std::uint8_t secondarySocket;
  Be<std::uint16_t> credit;
};
struct ExitCommand {
  static constexpr std::uint8_t kCode = 0x08;
};
struct ExitReply {
  static constexpr std::uint8_t kCode = 0x88;
  std::uint8_t result;
};
// GetSocketID carries a service name of variable length; only its code is fixed.
inline constexpr std::uint8_t kGetSocketIdCode = 0x09;

struct ErrorNotice {
  static constexpr std::uint8_t kCode = 0x7F;
  std::uint8_t detail[3];
};

// Body size on the wire (an empty struct still has size 1 in C++).
template <class Body>
inline constexpr std::size_t kBodySize = std::is_empty_v<Body> ? 0 : sizeof(Body);
// Total packet length: header, command code, body.
template <class Body>
inline constexpr std::size_t kTransactionLength = kTransactionBodyOffset + kBodySize<Body>;

static_assert(kTransactionLength<InitCommand> == 8);
static_assert(kTransactionLength<InitReply> == 9);
static_assert(kTransactionLength<OpenChannelCommand> == 17);
static_assert(kTransactionLength<OpenChannelReply> == 16);
static_assert(kTransactionLength<CloseChannelCommand> == 9);
static_assert(kTransactionLength<CloseChannelReply> == 10);
static_assert(kTransactionLength<CreditCommand> == 11);
static_assert(kTransactionLength<CreditReply> == 10);
static_assert(kTransactionLength<CreditRequestCommand> == 13);
static_assert(kTransactionLength<CreditRequestReply> == 12);
static_assert(kTransactionLength<ExitCommand> == 7);
static_assert(kTransactionLength<ExitReply> == 8);
static_assert(kTransactionLength<ErrorNotice> == 10);

// A transaction packet ready to be written.
struct TransactionPacket {
  std::array<std::uint8_t, 32> bytes{};
  std::size_t size = 0;
  std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

// The host sends every command and every reply with credit byte 1: it grants
// the printer one packet for its answer.
inline constexpr std::uint8_t kHostTransactionCredit = 1;

template <class Body>
TransactionPacket EncodeTransaction(const Body& body) {
  TransactionPacket packet;
  packet.size = kTransactionLength<Body>;
  PacketHeader header{};
  header.length = static_cast<std::uint16_t>(packet.size);
  header.credit = kHostTransactionCredit;
  std::memcpy(packet.bytes.data(), &header, sizeof header);
  packet.bytes[kCommandOffset] = Body::kCode;
  if constexpr (kBodySize < Body >> 0) {
    std::memcpy(packet.bytes.data() + kTransactionBodyOffset, &body, kBodySize<Body>);
  }
  return packet;
}

// The command code of a transaction packet; null for an empty packet.
inline std::optional<std::uint8_t> TransactionCode(std::span<const std::uint8_t> packet) {
  if (packet.size() <= kCommandOffset) return std::nullopt;
  return packet[kCommandOffset];
}

// The body of a transaction packet with the body's code; null when the code
// differs or the packet is too short to hold the body.
template <class Body>
std::optional<Body> DecodeTransaction(std::span<const std::uint8_t> packet) {
  if (TransactionCode(packet) != Body::kCode || packet.size() < kTransactionLength<Body>) {
    return std::nullopt;
  }
  Body body{};
  if constexpr (kBodySize < Body >> 0) {
    std::memcpy(&body, packet.data() + kTransactionBodyOffset, kBodySize<Body>);
  }
  return body;
}

}  // namespace tgx::wire
