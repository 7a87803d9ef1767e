#include "id_query.h"

namespace printersim {

namespace {
constexpr std::uint8_t kFormFeed = 0x0C;
}  // namespace

std::vector<std::uint8_t> DeviceIdAnswer(const std::string& device_id) {
  std::vector<std::uint8_t> answer(device_id.begin(), device_id.end());
  answer.push_back(kFormFeed);
  return answer;
}

DeviceIdQueryScanner::DeviceIdQueryScanner(std::vector<std::uint8_t> query)
    : query_(std::move(query)), fallback_(query_.size(), 0) {
  for (std::size_t k = 1, length = 0; k < query_.size(); ++k) {
    while (length != 0 && query_[k] != query_[length]) length = fallback_[length - 1];
    if (query_[k] == query_[length]) ++length;
    fallback_[k] = length;
  }
}

}  // namespace printersim
