// The packet protocol spoken over a printer port, in the manner of IEEE 1284.4:
// a 6-byte header naming a primary and a secondary socket, the packet length and
// a credit byte; a transaction channel (sockets 0/0) carries commands and their
// replies (code | 0x80). All multi-byte fields are big-endian.
//
// This header describes the wire as the simulated printer reads and writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tgx/wire/packet_1284.h"

namespace printersim::packet {

// The layout, codes, sizes and result bytes are the wire's own; the simulator
// keeps its own reading and writing of them, so that it stays an independent
// printer that catches the host's encoding faults instead of repeating them.
using tgx::wire::kGetSocketIdCode;
using tgx::wire::kManagementSocket;
using tgx::wire::kPacketHeaderSize;
using tgx::wire::kPrintJobSocket;
using tgx::wire::kReplyBit;
using tgx::wire::kResultInsufficientResources;
using tgx::wire::kResultRefused;
using tgx::wire::kResultRevisionUnsupported;
using tgx::wire::kResultSuccess;
using tgx::wire::kResultUnknownChannel;
using tgx::wire::kSharedManagementSocket;
using tgx::wire::kTransactionInitialCredit;
using tgx::wire::kTransactionPacketSize;
using tgx::wire::kTransactionSocket;

inline constexpr std::size_t kPrimarySocketOffset =
    offsetof(tgx::wire::PacketHeader, primarySocket);
inline constexpr std::size_t kSecondarySocketOffset =
    offsetof(tgx::wire::PacketHeader, secondarySocket);
inline constexpr std::size_t kLengthOffset = offsetof(tgx::wire::PacketHeader, length);
inline constexpr std::size_t kCreditOffset = offsetof(tgx::wire::PacketHeader, credit);
inline constexpr std::size_t kControlOffset = offsetof(tgx::wire::PacketHeader, control);
inline constexpr std::size_t kCommandOffset = tgx::wire::kCommandOffset;

struct Header {
  std::uint8_t primary_socket = 0;
  std::uint8_t secondary_socket = 0;
  std::uint16_t length = kPacketHeaderSize;  // total length including the header
  std::uint8_t credit = 0;                   // credit granted to the receiver
  std::uint8_t control = 0;                  // always 0
};

Header ReadHeader(const std::uint8_t* bytes);
void WriteHeader(std::uint8_t* bytes, const Header& header);

enum class Command : std::uint8_t {
  kInit = tgx::wire::InitCommand::kCode,
  kOpenChannel = tgx::wire::OpenChannelCommand::kCode,
  kCloseChannel = tgx::wire::CloseChannelCommand::kCode,
  kCredit = tgx::wire::CreditCommand::kCode,
  kCreditRequest = tgx::wire::CreditRequestCommand::kCode,
  kExit = tgx::wire::ExitCommand::kCode,
  kGetSocketId = kGetSocketIdCode,
  kError = tgx::wire::ErrorNotice::kCode,
};

// The expected total length of a command or reply code; nullopt for codes of
// variable length (GetSocketID) or unknown codes.
std::optional<std::uint16_t> FixedLength(std::uint8_t code);

// Error packet codes this printer sends (the third byte of an Error packet).
inline constexpr std::uint8_t kErrorMalformedHeader = 0x80;  // length below the header size
inline constexpr std::uint8_t kErrorPacketTooLarge = 0x81;   // beyond the channel's packet size
inline constexpr std::uint8_t kErrorInjected = 0xFE;         // a fault asked for it

// Command and reply bodies (the bytes after the command code).
struct Init {
  std::uint8_t revision = 0;
};
struct InitReply {
  std::uint8_t result = 0;
  std::uint8_t revision = 0;
};
struct OpenChannel {
  std::uint8_t primary_socket = 0;
  std::uint8_t secondary_socket = 0;
  std::uint16_t max_host_to_printer = 0;  // the host's maximum sending packet size
  std::uint16_t max_printer_to_host = 0;  // the host's maximum receiving packet size
  std::uint16_t credit_limit_1 = 0;
  std::uint16_t credit_limit_2 = 0;
};
struct OpenChannelReply {
  std::uint8_t result = 0;
  std::uint8_t primary_socket = 0;
  std::uint8_t secondary_socket = 0;
  std::uint16_t host_to_printer_size = 0;
  std::uint16_t printer_to_host_size = 0;
  std::uint16_t credit = 0;  // credit granted to the host on the new channel
};
struct ChannelRef {  // CloseChannel
  std::uint8_t primary_socket = 0;
  std::uint8_t secondary_socket = 0;
};
struct ChannelResult {  // CloseChannelReply, CreditReply
  std::uint8_t result = 0;
  std::uint8_t primary_socket = 0;
  std::uint8_t secondary_socket = 0;
};
struct Credit {
  std::uint8_t primary_socket = 0;
  std::uint8_t secondary_socket = 0;
  std::uint16_t credit = 0;
};
struct CreditRequest {
  std::uint8_t primary_socket = 0;
  std::uint8_t secondary_socket = 0;
  std::uint16_t wanted = 0;
  std::uint16_t max_outstanding = 0;
};
struct CreditRequestReply {
  std::uint8_t result = 0;
  std::uint8_t primary_socket = 0;
  std::uint8_t secondary_socket = 0;
  std::uint16_t credit = 0;
};
struct ExitReply {
  std::uint8_t result = 0;
};
struct Error {
  std::uint8_t primary_socket = 0;
  std::uint8_t secondary_socket = 0;
  std::uint8_t code = 0;
};

// Decoders take a whole transaction packet (header included) of the right length.
Init DecodeInit(std::span<const std::uint8_t> packet);
InitReply DecodeInitReply(std::span<const std::uint8_t> packet);
OpenChannel DecodeOpenChannel(std::span<const std::uint8_t> packet);
OpenChannelReply DecodeOpenChannelReply(std::span<const std::uint8_t> packet);
ChannelRef DecodeChannelRef(std::span<const std::uint8_t> packet);
ChannelResult DecodeChannelResult(std::span<const std::uint8_t> packet);
Credit DecodeCredit(std::span<const std::uint8_t> packet);
CreditRequest DecodeCreditRequest(std::span<const std::uint8_t> packet);
CreditRequestReply DecodeCreditRequestReply(std::span<const std::uint8_t> packet);
ExitReply DecodeExitReply(std::span<const std::uint8_t> packet);
Error DecodeError(std::span<const std::uint8_t> packet);

// Encoders build a whole transaction packet on sockets 0/0 with the given credit byte.
std::vector<std::uint8_t> Encode(const Init& m, std::uint8_t credit);
std::vector<std::uint8_t> Encode(const InitReply& m, std::uint8_t credit);
std::vector<std::uint8_t> Encode(const OpenChannel& m, std::uint8_t credit);
std::vector<std::uint8_t> Encode(const OpenChannelReply& m, std::uint8_t credit);
std::vector<std::uint8_t> EncodeCloseChannel(const ChannelRef& m, std::uint8_t credit);
std::vector<std::uint8_t> EncodeCloseChannelReply(const ChannelResult& m, std::uint8_t credit);
std::vector<std::uint8_t> Encode(const Credit& m, std::uint8_t credit);
std::vector<std::uint8_t> EncodeCreditReply(const ChannelResult& m, std::uint8_t credit);
std::vector<std::uint8_t> Encode(const CreditRequest& m, std::uint8_t credit);
std::vector<std::uint8_t> Encode(const CreditRequestReply& m, std::uint8_t credit);
std::vector<std::uint8_t> EncodeExit(std::uint8_t credit);
std::vector<std::uint8_t> Encode(const ExitReply& m, std::uint8_t credit);
std::vector<std::uint8_t> Encode(const Error& m, std::uint8_t credit);

// A data packet on a channel: header plus payload.
std::vector<std::uint8_t> EncodeData(std::uint8_t primary_socket, std::uint8_t secondary_socket,
                                     std::uint8_t credit, std::span<const std::uint8_t> payload);

// A one-line readable description of a whole packet, for traces:
// "00/00 len=8 credit=1 Init revision=0x01", "05/10 len=4102 credit=0 data 4096 bytes".
std::string DescribePacket(std::span<const std::uint8_t> packet);

// The name of a command or reply code, for traces ("Init", "OpenChannelReply", "0x55").
std::string CommandName(std::uint8_t code);

}  // namespace printersim::packet
