// Port names as the channel library and its worker read them.
#pragma once

#include <cctype>
#include <string_view>

namespace tgx::chanlib {

// "LPT" in any case, one digit, then ":" or the end (as in "lpt2" or "LPT1:").
inline bool IsParallelPortName(std::string_view name) {
  if (name.size() < 4 || name.size() > 5) return false;
  const auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  return lower(name[0]) == 'l' && lower(name[1]) == 'p' && lower(name[2]) == 't' &&
         std::isdigit(static_cast<unsigned char>(name[3])) && (name.size() == 4 || name[4] == ':');
}

}  // namespace tgx::chanlib
