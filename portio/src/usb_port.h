// USB printer ports ("USB" + three digits): the usblp device whose port number
// matches, /dev/usb/lp<N> serving port number N+1.
#pragma once

#include <memory>
#include <string_view>

#include "port.h"
#include "port_name.h"

namespace tgx::portio {

// The default time-outs of a USB port.
inline constexpr CommTimeouts kUsbDefaultTimeouts = {0, 0, 3000, 0, 5000};
// USB reads move whole packets of this size; the surplus waits in the carry-over.
inline constexpr DWORD kUsbPacketSize = 512;

// Opens the port under its exclusive-use lock; null with the last error set.
std::unique_ptr<Port> OpenUsbPort(std::string_view name, PlatformClass platform);

}  // namespace tgx::portio
