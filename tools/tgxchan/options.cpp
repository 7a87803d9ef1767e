#include "options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace tgx::tools {

std::optional<std::uint64_t> ParseNumber(const std::string& text, std::uint64_t max) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || value > max) return std::nullopt;
  return value;
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits += c;
  }
  if (digits.size() % 2 != 0) return std::nullopt;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::optional<std::vector<std::uint64_t>> ParseNumberList(const std::string& text,
                                                          std::uint64_t max) {
  std::vector<std::uint64_t> values;
  std::istringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    const auto value = ParseNumber(item, max);
    if (!value) return std::nullopt;
    values.push_back(*value);
  }
  if (values.empty()) return std::nullopt;
  return values;
}

std::optional<std::uint16_t> ParseManagementChannel(const std::string& text) {
  const auto value = ParseNumber(text, 0xFFFF);
  if (value != 0x20u && value != 0x30u) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

}  // namespace tgx::tools
