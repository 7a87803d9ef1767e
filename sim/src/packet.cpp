#include "printersim/packet.h"

#include <cstdio>

#include "printersim/wire.h"

namespace printersim::packet {
namespace {

// Reads the body fields of a transaction packet in order, after the command byte.
class BodyReader {
 public:
  explicit BodyReader(std::span<const std::uint8_t> packet) : packet_(packet) {}
  std::uint8_t U8() { return packet_[pos_++]; }
  std::uint16_t U16() {
    std::uint16_t v = wire::LoadBe16(&packet_[pos_]);
    pos_ += 2;
    return v;
  }

 private:
  std::span<const std::uint8_t> packet_;
  std::size_t pos_ = kCommandOffset + 1;
};

// Builds a transaction packet: header on sockets 0/0, the command code, then the body.
class Builder {
 public:
  Builder(std::uint8_t code, std::uint8_t credit) : credit_(credit) {
    bytes_.resize(kPacketHeaderSize);
    bytes_.push_back(code);
  }
  Builder& U8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  Builder& U16(std::uint16_t v) {
    bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
    bytes_.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  std::vector<std::uint8_t> Done() {
    WriteHeader(bytes_.data(), Header{kTransactionSocket, kTransactionSocket,
                                      static_cast<std::uint16_t>(bytes_.size()), credit_, 0});
    return std::move(bytes_);
  }

 private:
  std::uint8_t credit_;
  std::vector<std::uint8_t> bytes_;
};

template <class Body>
constexpr std::uint16_t Length() {
  return tgx::wire::kTransactionLength<Body>;
}

constexpr std::uint8_t Code(Command c) { return static_cast<std::uint8_t>(c); }
constexpr std::uint8_t ReplyCode(Command c) {
  return static_cast<std::uint8_t>(Code(c) | kReplyBit);
}

}  // namespace

Header ReadHeader(const std::uint8_t* bytes) {
  return Header{bytes[kPrimarySocketOffset], bytes[kSecondarySocketOffset],
                wire::LoadBe16(bytes + kLengthOffset), bytes[kCreditOffset], bytes[kControlOffset]};
}

void WriteHeader(std::uint8_t* bytes, const Header& header) {
  bytes[kPrimarySocketOffset] = header.primary_socket;
  bytes[kSecondarySocketOffset] = header.secondary_socket;
  wire::StoreBe16(bytes + kLengthOffset, header.length);
  bytes[kCreditOffset] = header.credit;
  bytes[kControlOffset] = header.control;
}

std::optional<std::uint16_t> FixedLength(std::uint8_t code) {
  switch (code) {
    case Code(Command::kInit): return Length<tgx::wire::InitCommand>();
    case ReplyCode(Command::kInit): return Length<tgx::wire::InitReply>();
    case Code(Command::kOpenChannel): return Length<tgx::wire::OpenChannelCommand>();
    case ReplyCode(Command::kOpenChannel): return Length<tgx::wire::OpenChannelReply>();
    case Code(Command::kCloseChannel): return Length<tgx::wire::CloseChannelCommand>();
    case ReplyCode(Command::kCloseChannel): return Length<tgx::wire::CloseChannelReply>();
    case Code(Command::kCredit): return Length<tgx::wire::CreditCommand>();
    case ReplyCode(Command::kCredit): return Length<tgx::wire::CreditReply>();
    case Code(Command::kCreditRequest): return Length<tgx::wire::CreditRequestCommand>();
    case ReplyCode(Command::kCreditRequest): return Length<tgx::wire::CreditRequestReply>();
    case Code(Command::kExit): return Length<tgx::wire::ExitCommand>();
    case ReplyCode(Command::kExit): return Length<tgx::wire::ExitReply>();
    case Code(Command::kError): return Length<tgx::wire::ErrorNotice>();
    default: return std::nullopt;
  }
}

Init DecodeInit(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  return Init{r.U8()};
}
InitReply DecodeInitReply(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  InitReply m;
  m.result = r.U8();
  m.revision = r.U8();
  return m;
}
OpenChannel DecodeOpenChannel(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  OpenChannel m;
  m.primary_socket = r.U8();
  m.secondary_socket = r.U8();
  m.max_host_to_printer = r.U16();
  m.max_printer_to_host = r.U16();
  m.credit_limit_1 = r.U16();
  m.credit_limit_2 = r.U16();
  return m;
}
OpenChannelReply DecodeOpenChannelReply(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  OpenChannelReply m;
  m.result = r.U8();
  m.primary_socket = r.U8();
  m.secondary_socket = r.U8();
  m.host_to_printer_size = r.U16();
  m.printer_to_host_size = r.U16();
  m.credit = r.U16();
  return m;
}
ChannelRef DecodeChannelRef(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  ChannelRef m;
  m.primary_socket = r.U8();
  m.secondary_socket = r.U8();
  return m;
}
ChannelResult DecodeChannelResult(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  ChannelResult m;
  m.result = r.U8();
  m.primary_socket = r.U8();
  m.secondary_socket = r.U8();
  return m;
}
Credit DecodeCredit(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  Credit m;
  m.primary_socket = r.U8();
  m.secondary_socket = r.U8();
  m.credit = r.U16();
  return m;
}
CreditRequest DecodeCreditRequest(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  CreditRequest m;
  m.primary_socket = r.U8();
  m.secondary_socket = r.U8();
  m.wanted = r.U16();
  m.max_outstanding = r.U16();
  return m;
}
CreditRequestReply DecodeCreditRequestReply(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  CreditRequestReply m;
  m.result = r.U8();
  m.primary_socket = r.U8();
  m.secondary_socket = r.U8();
  m.credit = r.U16();
  return m;
}
ExitReply DecodeExitReply(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  return ExitReply{r.U8()};
}
Error DecodeError(std::span<const std::uint8_t> p) {
  BodyReader r(p);
  Error m;
  m.primary_socket = r.U8();
  m.secondary_socket = r.U8();
  m.code = r.U8();
  return m;
}

std::vector<std::uint8_t> Encode(const Init& m, std::uint8_t credit) {
  return Builder(Code(Command::kInit), credit).U8(m.revision).Done();
}
std::vector<std::uint8_t> Encode(const InitReply& m, std::uint8_t credit) {
  return Builder(ReplyCode(Command::kInit), credit).U8(m.result).U8(m.revision).Done();
}
std::vector<std::uint8_t> Encode(const OpenChannel& m, std::uint8_t credit) {
  return Builder(Code(Command::kOpenChannel), credit)
      .U8(m.primary_socket)
      .U8(m.secondary_socket)
      .U16(m.max_host_to_printer)
      .U16(m.max_printer_to_host)
      .U16(m.credit_limit_1)
      .U16(m.credit_limit_2)
      .Done();
}
std::vector<std::uint8_t> Encode(const OpenChannelReply& m, std::uint8_t credit) {
  return Builder(ReplyCode(Command::kOpenChannel), credit)
      .U8(m.result)
      .U8(m.primary_socket)
      .U8(m.secondary_socket)
      .U16(m.host_to_printer_size)
      .U16(m.printer_to_host_size)
      .U16(m.credit)
      .Done();
}
std::vector<std::uint8_t> EncodeCloseChannel(const ChannelRef& m, std::uint8_t credit) {
  return Builder(Code(Command::kCloseChannel), credit)
      .U8(m.primary_socket)
      .U8(m.secondary_socket)
      .Done();
}
std::vector<std::uint8_t> EncodeCloseChannelReply(const ChannelResult& m, std::uint8_t credit) {
  return Builder(ReplyCode(Command::kCloseChannel), credit)
      .U8(m.result)
      .U8(m.primary_socket)
      .U8(m.secondary_socket)
      .Done();
}
std::vector<std::uint8_t> Encode(const Credit& m, std::uint8_t credit) {
  return Builder(Code(Command::kCredit), credit)
      .U8(m.primary_socket)
      .U8(m.secondary_socket)
      .U16(m.credit)
      .Done();
}
std::vector<std::uint8_t> EncodeCreditReply(const ChannelResult& m, std::uint8_t credit) {
  return Builder(ReplyCode(Command::kCredit), credit)
      .U8(m.result)
      .U8(m.primary_socket)
      .U8(m.secondary_socket)
      .Done();
}
std::vector<std::uint8_t> Encode(const CreditRequest& m, std::uint8_t credit) {
  return Builder(Code(Command::kCreditRequest), credit)
      .U8(m.primary_socket)
      .U8(m.secondary_socket)
      .U16(m.wanted)
      .U16(m.max_outstanding)
      .Done();
}
std::vector<std::uint8_t> Encode(const CreditRequestReply& m, std::uint8_t credit) {
  return Builder(ReplyCode(Command::kCreditRequest), credit)
      .U8(m.result)
      .U8(m.primary_socket)
      .U8(m.secondary_socket)
      .U16(m.credit)
      .Done();
}
std::vector<std::uint8_t> EncodeExit(std::uint8_t credit) {
  return Builder(Code(Command::kExit), credit).Done();
}
std::vector<std::uint8_t> Encode(const ExitReply& m, std::uint8_t credit) {
  return Builder(ReplyCode(Command::kExit), credit).U8(m.result).Done();
}
std::vector<std::uint8_t> Encode(const Error& m, std::uint8_t credit) {
  return Builder(Code(Command::kError), credit)
      .U8(m.primary_socket)
      .U8(m.secondary_socket)
      .U8(m.code)
      .Done();
}

std::vector<std::uint8_t> EncodeData(std::uint8_t primary_socket, std::uint8_t secondary_socket,
                                     std::uint8_t credit, std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> bytes(kPacketHeaderSize + payload.size());
  WriteHeader(bytes.data(), Header{primary_socket, secondary_socket,
                                   static_cast<std::uint16_t>(bytes.size()), credit, 0});
  std::copy(payload.begin(), payload.end(), bytes.begin() + kPacketHeaderSize);
  return bytes;
}

std::string CommandName(std::uint8_t code) {
  static constexpr const char* kNames[] = {"Init", "OpenChannel", "CloseChannel", "Credit",
                                           "CreditRequest"};
  const std::uint8_t base = code & static_cast<std::uint8_t>(~kReplyBit);
  const char* name = nullptr;
  if (base < std::size(kNames)) {
    name = kNames[base];
  } else if (base == Code(Command::kExit)) {
    name = "Exit";
  } else if (base == Code(Command::kGetSocketId)) {
    name = "GetSocketID";
  } else if (code == Code(Command::kError)) {
    return "Error";
  }
  if (name == nullptr) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", code);
    return buf;
  }
  return (code & kReplyBit) ? std::string(name) + "Reply" : std::string(name);
}

std::string DescribePacket(std::span<const std::uint8_t> packet) {
  char buf[160];
  if (packet.size() < kPacketHeaderSize) {
    std::snprintf(buf, sizeof buf, "broken: %zu bytes, shorter than a header", packet.size());
    return buf;
  }
  const Header h = ReadHeader(packet.data());
  std::snprintf(buf, sizeof buf, "%02X/%02X len=%u credit=%u", h.primary_socket, h.secondary_socket,
                h.length, h.credit);
  std::string text = buf;
  if (h.control != 0) {
    std::snprintf(buf, sizeof buf, " control=0x%02X", h.control);
    text += buf;
  }
  if (h.length != packet.size()) {
    std::snprintf(buf, sizeof buf, " (%zu bytes present)", packet.size());
    text += buf;
  }
  if (h.primary_socket != kTransactionSocket || h.secondary_socket != kTransactionSocket) {
    std::snprintf(buf, sizeof buf, " data %zu bytes", packet.size() - kPacketHeaderSize);
    return text + buf;
  }
  if (packet.size() <= kCommandOffset) return text + " empty";
  const std::uint8_t code = packet[kCommandOffset];
  text += " " + CommandName(code);
  const auto expected = FixedLength(code);
  if (!expected || *expected != packet.size()) return text;
  switch (code) {
    case static_cast<std::uint8_t>(Command::kInit):
      std::snprintf(buf, sizeof buf, " revision=0x%02X", DecodeInit(packet).revision);
      break;
    case static_cast<std::uint8_t>(Command::kInit) | kReplyBit: {
      auto m = DecodeInitReply(packet);
      std::snprintf(buf, sizeof buf, " result=%u revision=0x%02X", m.result, m.revision);
      break;
    }
    case static_cast<std::uint8_t>(Command::kOpenChannel): {
      auto m = DecodeOpenChannel(packet);
      std::snprintf(buf, sizeof buf, " %02X/%02X sizes=%u/%u limits=%u/%u", m.primary_socket,
                    m.secondary_socket, m.max_host_to_printer, m.max_printer_to_host,
                    m.credit_limit_1, m.credit_limit_2);
      break;
    }
    case static_cast<std::uint8_t>(Command::kOpenChannel) | kReplyBit: {
      auto m = DecodeOpenChannelReply(packet);
      std::snprintf(buf, sizeof buf, " result=%u %02X/%02X sizes=%u/%u credit=%u", m.result,
                    m.primary_socket, m.secondary_socket, m.host_to_printer_size,
                    m.printer_to_host_size, m.credit);
      break;
    }
    case static_cast<std::uint8_t>(Command::kCloseChannel): {
      auto m = DecodeChannelRef(packet);
      std::snprintf(buf, sizeof buf, " %02X/%02X", m.primary_socket, m.secondary_socket);
      break;
    }
    case static_cast<std::uint8_t>(Command::kCloseChannel) | kReplyBit:
    case static_cast<std::uint8_t>(Command::kCredit) | kReplyBit: {
      auto m = DecodeChannelResult(packet);
      std::snprintf(buf, sizeof buf, " result=%u %02X/%02X", m.result, m.primary_socket,
                    m.secondary_socket);
      break;
    }
    case static_cast<std::uint8_t>(Command::kCredit): {
      auto m = DecodeCredit(packet);
      std::snprintf(buf, sizeof buf, " %02X/%02X credit=%u", m.primary_socket, m.secondary_socket,
                    m.credit);
      break;
    }
    case static_cast<std::uint8_t>(Command::kCreditRequest): {
      auto m = DecodeCreditRequest(packet);
      std::snprintf(buf, sizeof buf, " %02X/%02X wanted=%u max=%u", m.primary_socket,
                    m.secondary_socket, m.wanted, m.max_outstanding);
      break;
    }
    case static_cast<std::uint8_t>(Command::kCreditRequest) | kReplyBit: {
      auto m = DecodeCreditRequestReply(packet);
      std::snprintf(buf, sizeof buf, " result=%u %02X/%02X credit=%u", m.result, m.primary_socket,
                    m.secondary_socket, m.credit);
      break;
    }
    case static_cast<std::uint8_t>(Command::kExit) | kReplyBit:
      std::snprintf(buf, sizeof buf, " result=%u", DecodeExitReply(packet).result);
      break;
    case static_cast<std::uint8_t>(Command::kError): {
      auto m = DecodeError(packet);
      std::snprintf(buf, sizeof buf, " %02X/%02X code=0x%02X", m.primary_socket, m.secondary_socket,
                    m.code);
      break;
    }
    default: buf[0] = 0;
  }
  return text + buf;
}

}  // namespace printersim::packet
