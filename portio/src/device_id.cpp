#include "device_id.h"

#include <algorithm>
#include <cstring>

namespace tgx::portio {
namespace {

// A length prefix is two bytes that are not both text: a printable pair reads
// as at least 0x2020, far beyond any ID length.
bool HasLengthPrefix(std::span<const BYTE> raw) {
  return raw.size() >= 2 && (raw[0] < 0x20 || raw[1] < 0x20);
}

std::size_t PrefixedLength(std::span<const BYTE> raw) {
  const std::size_t bigEndian = (std::size_t{raw[0]} << 8) | raw[1];
  const std::size_t littleEndian = (std::size_t{raw[1]} << 8) | raw[0];
  for (const std::size_t length : {bigEndian, littleEndian}) {
    if (length >= 2 && length <= raw.size()) return length;
  }
  // Neither order fits: a truncated ID (or a bogus prefix); keep what arrived.
  return (bigEndian < 2 && littleEndian < 2) ? 2 : raw.size();
}

}  // namespace

std::string DeviceIdText(std::span<const BYTE> raw) {
  raw = raw.first(std::min(raw.size(), kMaxDeviceIdBytes));
  if (HasLengthPrefix(raw)) raw = raw.subspan(2, PrefixedLength(raw) - 2);
  const auto nul = std::find(raw.begin(), raw.end(), BYTE{0});
  std::string text;
  text.reserve(static_cast<std::size_t>(nul - raw.begin()));
  for (auto it = raw.begin(); it != nul; ++it) {
    if (*it != '\n' && *it != '\r') text.push_back(static_cast<char>(*it));
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  return text;
}

DWORD CopyDeviceId(const std::string& text, std::span<BYTE> output) {
  const std::size_t count = std::min(text.size() + 1, output.size());
  if (count != 0) std::memcpy(output.data(), text.c_str(), count);
  return static_cast<DWORD>(count);
}

}  // namespace tgx::portio
