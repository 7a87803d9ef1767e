#include "chanlib/device_id.h"

#include "chanlib/shared_layout.h"

namespace tgx::chanlib {

std::optional<std::string_view> CommandSetOf(std::string_view deviceId) {
  for (const std::string_view key : {std::string_view("COMMAND SET:"), std::string_view("CMD:")}) {
    const std::size_t at = deviceId.find(key);
    if (at == std::string_view::npos) continue;
    const std::string_view rest = deviceId.substr(at + key.size());
    const std::size_t end = rest.find(';');
    if (end == std::string_view::npos) return std::nullopt;
    return rest.substr(0, end);
  }
  return std::nullopt;
}

std::uint8_t ModeFromDeviceId(std::string_view deviceId) {
  std::uint8_t mode = kModeReadable | kModeWritable;
  const auto commandSet = CommandSetOf(deviceId);
  if (!commandSet) return mode;
  if (commandSet->find("USBHS") != std::string_view::npos) mode |= kModeUsbHs;
  if (commandSet->find("1284.4") != std::string_view::npos) mode |= kModePacketProtocol;
  return mode;
}

}  // namespace tgx::chanlib
