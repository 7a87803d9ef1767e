#include "device_id.h"

#include <map>
#include <utility>
#include <vector>

namespace printersim {

std::string CommandSet(std::string_view device_id) {
  std::size_t at = device_id.find("COMMAND SET:");
  std::size_t skip = 12;
  if (at == std::string_view::npos) {
    at = device_id.find("CMD:");
    skip = 4;
  }
  if (at == std::string_view::npos) return {};
  std::string_view rest = device_id.substr(at + skip);
  return std::string(rest.substr(0, rest.find(';')));
}

std::string AutoprobeText(const std::string& device_id) {
  // Keys in their long and short forms, in the order the driver prints them.
  static const std::pair<const char*, std::vector<std::string>> kFields[] = {
      {"CLASS", {"CLASS", "CLS"}},
      {"MODEL", {"MODEL", "MDL"}},
      {"MANUFACTURER", {"MANUFACTURER", "MFG"}},
      {"DESCRIPTION", {"DESCRIPTION", "DES"}},
      {"COMMAND SET", {"COMMAND SET", "CMD"}},
  };
  std::map<std::string, std::string> values;
  std::size_t start = 0;
  while (start < device_id.size()) {
    std::size_t end = device_id.find(';', start);
    if (end == std::string::npos) end = device_id.size();
    const std::string field = device_id.substr(start, end - start);
    const std::size_t colon = field.find(':');
    if (colon != std::string::npos) {
      std::string key = field.substr(0, colon);
      while (!key.empty() && key.front() == ' ') key.erase(key.begin());
      values.emplace(key, field.substr(colon + 1));
    }
    start = end + 1;
  }
  std::string text;
  for (const auto& [name, keys] : kFields) {
    for (const std::string& key : keys) {
      if (auto it = values.find(key); it != values.end()) {
        text += std::string(name) + ":" + it->second + ";\n";
        break;
      }
    }
  }
  return text;
}

}  // namespace printersim
