// Where the monitor of a port is found: the registry lists each port under the
// key of the monitor that serves it, and the monitor's key names its library.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tgx/registry.h"

namespace tgx::portio {

enum class MonitorInterface { kNt, k9x };

// The library file ("Driver") of the monitor serving portName (any case). On the
// 9x interface a "USBPRN<dd>" port of the "Local Port" monitor is served by the
// "SYSFMON" monitor's library. Null with the last error set when the port is not
// listed, or its monitor has no library.
std::optional<std::string> FindPortMonitor(std::string_view portName, MonitorInterface kind);

// The port's own key (its settings), read-only; empty with the last error set
// when no monitor lists the port.
RegKey OpenPortSettings(std::string_view portName);

}  // namespace tgx::portio
