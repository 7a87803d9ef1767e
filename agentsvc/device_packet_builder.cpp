#include "tgx/device_packet_builder.h"

#include <cctype>
#include <cstdio>

#include "tgx/device_packet.h"

namespace tgx::agent::packet {

namespace {

void AppendBE16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void AppendBE32(Bytes& out, std::uint32_t value) {
  AppendBE16(out, static_cast<std::uint16_t>(value >> 16));
  AppendBE16(out, static_cast<std::uint16_t>(value));
}

}  // namespace

Bytes BuildPacket(std::uint8_t flags, std::uint16_t opcode, std::uint16_t transaction,
                  std::span<const std::uint8_t> payload) {
  Bytes p(kHeaderSize);
  StoreBe16(p.data() + kMagic, kMagicValue);
  p[kVersion] = kVersionValue;
  p[kFlags] = flags;
  StoreBe16(p.data() + kOpcode, opcode);
  SetTransaction(p.data(), transaction);
  SetPayloadLength(p.data(), static_cast<std::uint16_t>(payload.size()));
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

Bytes RegistrationPayload(std::uint32_t key, std::span<const std::uint16_t> events,
                          std::uint32_t minutes) {
  Bytes payload;
  payload.push_back(0);  // prefix byte
  AppendBE32(payload, key);
  AppendBE16(payload, 0);  // first parameter
  AppendBE16(payload, 0);  // second parameter
  AppendBE16(payload, static_cast<std::uint16_t>(events.size()));
  for (std::uint16_t code : events) AppendBE16(payload, code);
  AppendBE32(payload, 0);  // third parameter
  AppendBE16(payload, 0);  // no optional block
  AppendBE32(payload, PackDuration(std::uint64_t{minutes} * 60000));
  return payload;
}

std::string HexDump(std::span<const std::uint8_t> bytes) {
  std::string out;
  char line[128];
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    int n = std::snprintf(line, sizeof line, "  %04zx ", at);
    std::string text;
    for (std::size_t i = at; i < at + 16; ++i) {
      if (i < bytes.size()) {
        n += std::snprintf(line + n, sizeof line - n, " %02x", bytes[i]);
        text += std::isprint(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
      } else {
        n += std::snprintf(line + n, sizeof line - n, "   ");
      }
    }
    out += line;
    out += "  " + text + "\n";
  }
  return out;
}

std::string FormatPacket(std::span<const std::uint8_t> p) {
  const std::uint8_t flags = Flags(p.data());
  const std::uint16_t opcode = Opcode(p.data());
  const char* kind = opcode == kOpNotification ? "event"
                     : (flags & kFlagAnswer)   ? "answer"
                                               : "packet";
  char line[160];
  std::snprintf(line, sizeof line, "%s opcode=%u id=%u flags=0x%02x payload=%u bytes\n", kind,
                opcode, Transaction(p.data()), flags, PayloadLength(p.data()));
  return line + HexDump(p.subspan(kHeaderSize));
}

}  // namespace tgx::agent::packet
