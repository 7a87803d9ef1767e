#include "monitor_registry.h"

#include "port_name.h"
#include "tgx/portmon.h"
#include "tgx/registry.h"

namespace tgx::portio {
namespace {

constexpr DWORD kMaxKeyName = 256;
constexpr DWORD kMaxDriverValue = 260;

bool Succeeded(LONG result) {
  if (result == ERROR_SUCCESS) return true;
  SetLastError(static_cast<DWORD>(result));
  return false;
}

// Whether key has a subkey named name (any case).
bool HasSubkey(HKEY key, std::string_view name) {
  char entry[kMaxKeyName];
  for (DWORD index = 0;; ++index) {
    DWORD size = sizeof entry;
    const LONG result = RegEnumKeyExA(key, index, entry, &size, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) return false;
    if (result == ERROR_SUCCESS && EqualsIgnoreCase(std::string_view(entry, size), name)) {
      return true;
    }
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return false;
  }
}

// The name of the monitor whose "Ports" key lists portName.
std::optional<std::string> MonitorOfPort(HKEY monitors, std::string_view portName) {
  char monitor[kMaxKeyName];
  for (DWORD index = 0;; ++index) {
    DWORD size = sizeof monitor;
    const LONG result =
        RegEnumKeyExA(monitors, index, monitor, &size, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) continue;
    RegKey ports;
    const std::string portsPath = std::string(monitor, size) + "\\" + PORTMON_PORTS_SUBKEY;
    if (ports.Open(monitors, portsPath.c_str(), KEY_READ) != ERROR_SUCCESS) continue;
    if (HasSubkey(ports.get(), portName)) return std::string(monitor, size);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> FindPortMonitor(std::string_view portName, MonitorInterface kind) {
  RegKey monitors;
  if (!Succeeded(monitors.Open(HKEY_LOCAL_MACHINE, PORTMON_MONITORS_KEY, KEY_READ))) {
    return std::nullopt;
  }
  auto monitor = MonitorOfPort(monitors.get(), portName);
  if (!monitor) return std::nullopt;
  if (kind == MonitorInterface::k9x && IsUsbPrnPort(portName) &&
      EqualsIgnoreCase(*monitor, "Local Port")) {
    monitor = "SYSFMON";
  }
  RegKey key;
  if (!Succeeded(key.Open(monitors.get(), monitor->c_str(), KEY_READ))) return std::nullopt;
  char driver[kMaxDriverValue + 1] = {};
  DWORD size = kMaxDriverValue;
  DWORD type = REG_NONE;
  if (!Succeeded(RegQueryValueExA(key.get(), PORTMON_DRIVER_VALUE, nullptr, &type,
                                  reinterpret_cast<BYTE*>(driver), &size))) {
    return std::nullopt;
  }
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || driver[0] == '\0') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return std::nullopt;
  }
  return std::string(driver);
}

}  // namespace tgx::portio
