// Reading the values of the client program's options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tgx::tools {

// A number in decimal or, with 0x, hexadecimal, from 0 to `max`.
std::optional<std::uint64_t> ParseNumber(const std::string& text, std::uint64_t max);
// Bytes written in hexadecimal, two digits each; spaces and colons between them
// are allowed ("cd ca 10", "cdca10").
std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text);
// A comma-separated list of numbers from 0 to `max`.
std::optional<std::vector<std::uint64_t>> ParseNumberList(const std::string& text,
                                                          std::uint64_t max);
// A management service channel: 0x20 (shared) or 0x30 (single client).
std::optional<std::uint16_t> ParseManagementChannel(const std::string& text);

}  // namespace tgx::tools
