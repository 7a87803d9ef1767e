// What the channel library reads from a printer's IEEE 1284 device ID: its
// command set, which says whether the printer speaks the packet protocol.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tgx::chanlib {

// The value of "COMMAND SET:" (exact bytes), else of "CMD:", up to the next
// ";". Null when neither key is there or the value has no ";" after it.
std::optional<std::string_view> CommandSetOf(std::string_view deviceId);

// The port mode a device ID gives: readable and writable, plus the packet
// protocol when the command set names "1284.4", plus 0x20 when it names "USBHS".
std::uint8_t ModeFromDeviceId(std::string_view deviceId);

}  // namespace tgx::chanlib
