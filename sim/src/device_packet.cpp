#include "printersim/device_packet.h"

#include <algorithm>
#include <cstring>

#include "printersim/wire.h"

namespace printersim::devpkt {

Header ReadHeader(const std::uint8_t* bytes) {
  Header h;
  h.flags = bytes[kFlags];
  h.opcode = wire::LoadBe16(bytes + kOpcode);
  h.transaction_id = wire::LoadBe16(bytes + kTransaction);
  h.payload_length = wire::LoadBe16(bytes + kPayloadLength);
  std::memcpy(h.carried, bytes + kCarried, sizeof h.carried);
  return h;
}

void WriteHeader(std::uint8_t* bytes, const Header& h) {
  wire::StoreBe16(bytes + kMagic, kMagicValue);
  bytes[kVersion] = kVersionValue;
  bytes[kFlags] = h.flags;
  wire::StoreBe16(bytes + kOpcode, h.opcode);
  wire::StoreBe16(bytes + kTransaction, h.transaction_id);
  wire::StoreBe16(bytes + kPayloadLength, h.payload_length);
  std::memcpy(bytes + kCarried, h.carried, sizeof h.carried);
}

std::vector<std::uint8_t> Encode(const Header& header, std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> bytes(kHeaderSize + payload.size());
  Header h = header;
  h.payload_length = static_cast<std::uint16_t>(payload.size());
  WriteHeader(bytes.data(), h);
  std::copy(payload.begin(), payload.end(), bytes.begin() + kHeaderSize);
  return bytes;
}

namespace {

// Bounds-checked reader over the packet, positioned at absolute offsets.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool Has(std::size_t n) const { return pos_ + n <= bytes_.size(); }
  std::uint8_t U8() { return bytes_[pos_++]; }
  std::uint16_t U16() {
    auto v = wire::LoadBe16(&bytes_[pos_]);
    pos_ += 2;
    return v;
  }
  std::uint32_t U32() {
    auto v = wire::LoadBe32(&bytes_[pos_]);
    pos_ += 4;
    return v;
  }
  void Seek(std::size_t pos) { pos_ = pos; }
  std::size_t pos() const { return pos_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<Registration> ParseRegistration(std::span<const std::uint8_t> packet) {
  if (packet.size() < kHeaderSize) return std::nullopt;
  const Header h = ReadHeader(packet.data());
  const std::size_t end = std::min(packet.size(), kHeaderSize + h.payload_length);
  Reader r(packet.first(end));
  r.Seek(kHeaderSize);
  Registration reg;
  // prefix, key, one or two parameters, N
  const std::size_t fixed = h.opcode == kOpRegister ? 11 : 9;
  if (!r.Has(fixed)) return std::nullopt;
  reg.prefix = r.U8();
  reg.key = r.U32();
  reg.parameter_1 = r.U16();
  if (h.opcode == kOpRegister) reg.parameter_2 = r.U16();
  const std::uint16_t n = r.U16();
  if (!r.Has(2u * n + 4 + 2)) return std::nullopt;
  for (std::uint16_t i = 0; i < n; ++i) reg.event_codes.push_back(r.U16());
  reg.parameter_3 = r.U32();
  const std::uint16_t m = r.U16();
  if (!r.Has(std::size_t{m} + 4)) return std::nullopt;
  for (std::uint16_t i = 0; i < m; ++i) reg.optional_block.push_back(r.U8());
  reg.duration = r.U32();
  return reg;
}

std::uint64_t DurationMilliseconds(std::uint32_t packed) {
  return std::uint64_t{packed >> 24} * 3600000 + std::uint64_t{(packed >> 16) & 0xFF} * 60000 +
         (packed & 0xFFFF);
}

}  // namespace printersim::devpkt
