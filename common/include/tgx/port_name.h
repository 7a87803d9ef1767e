// The parallel port name rule that the port access library, the channel
// library and its worker all apply to a printer port name.
#pragma once

#include <optional>
#include <string_view>

namespace tgx {

// "LPT" in any case, one digit, then ":" or the end (as in "lpt2" or "LPT1:"):
// the digit; nothing for any other name.
inline std::optional<unsigned> ParallelPortDigit(std::string_view name) {
  if (name.size() < 4 || name.size() > 5 || (name.size() == 5 && name[4] != ':')) {
    return std::nullopt;
  }
  const auto is = [](char c, char upper) { return c == upper || c == upper - 'A' + 'a'; };
  if (!is(name[0], 'L') || !is(name[1], 'P') || !is(name[2], 'T')) return std::nullopt;
  if (name[3] < '0' || name[3] > '9') return std::nullopt;
  return static_cast<unsigned>(name[3] - '0');
}

}  // namespace tgx
