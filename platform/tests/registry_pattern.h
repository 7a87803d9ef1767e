// The self-checking values that the registry crash test writes and checks.
#pragma once

#include <string>

namespace tgx::test {

inline constexpr char kCrashKey[] = "SOFTWARE\\TgxTest\\Crash";
inline constexpr char kConcurrentKey[] = "SOFTWARE\\TgxTest\\Concurrent";

// "<round>:" then 3000 bytes that all depend on the round, then ":<round>".
// Sizes differ between rounds, so a mix of two writes cannot pass the check.
inline std::string RegistryPattern(unsigned round) {
  const std::string tag = std::to_string(round);
  std::string data = tag + ":";
  const std::size_t length = 3000 + round % 97;
  for (std::size_t i = 0; i < length; ++i) data += static_cast<char>('a' + (round + i) % 26);
  return data + ":" + tag;
}

// Whether text is exactly some round's pattern.
inline bool IsRegistryPattern(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  unsigned long round = 0;
  for (std::size_t i = 0; i < colon; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    round = round * 10 + static_cast<unsigned long>(text[i] - '0');
    if (round > 0xFFFFFFFFul) return false;
  }
  return text == RegistryPattern(static_cast<unsigned>(round));
}

}  // namespace tgx::test
