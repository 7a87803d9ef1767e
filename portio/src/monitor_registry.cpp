#include "monitor_registry.h"

#include "port_name.h"
#include "tgx/portmon.h"

namespace tgx::portio {
namespace {

constexpr DWORD kMaxKeyName = 256;
constexpr DWORD kMaxDriverValue = 260;

bool Succeeded(LONG result) {
  if (result == ERROR_SUCCESS) return true;
  SetLastError(static_cast<DWORD>(result));
  return false;
}

// The subkey of key named name in any case, as stored.
std::optional<std::string> FindSubkey(HKEY key, std::string_view name) {
  char entry[kMaxKeyName];
  for (DWORD index = 0;; ++index) {
    DWORD size = sizeof entry;
    const LONG result = RegEnumKeyExA(key, index, entry, &size, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA) continue;  // a longer name is not the one sought
    if (result != ERROR_SUCCESS) return std::nullopt;
    if (EqualsIgnoreCase(std::string_view(entry, size), name)) {
      return std::string(entry, size);
    }
  }
}

struct PortEntry {
  std::string monitor;
  std::string portKey;  // below the monitors key
};

// The monitor whose "Ports" key lists portName, and the port's own key.
std::optional<PortEntry> FindPort(HKEY monitors, std::string_view portName) {
  char monitor[kMaxKeyName];
  for (DWORD index = 0;; ++index) {
    DWORD size = sizeof monitor;
    const LONG result =
        RegEnumKeyExA(monitors, index, monitor, &size, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    const std::string portsPath = std::string(monitor, size) + "\\" + PORTMON_PORTS_SUBKEY;
    RegKey ports;
    if (ports.Open(monitors, portsPath.c_str(), KEY_READ) != ERROR_SUCCESS) continue;
    if (const auto port = FindSubkey(ports.get(), portName)) {
      return PortEntry{std::string(monitor, size), portsPath + "\\" + *port};
    }
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
  const auto entry = FindPort(monitors.get(), portName);
  if (!entry) return std::nullopt;
  std::string monitor = entry->monitor;
  if (kind == MonitorInterface::k9x && IsUsbPrnPort(portName) &&
      EqualsIgnoreCase(monitor, "Local Port")) {
    monitor = "SYSFMON";
  }
  RegKey key;
  if (!Succeeded(key.Open(monitors.get(), monitor.c_str(), KEY_READ))) return std::nullopt;
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

RegKey OpenPortSettings(std::string_view portName) {
  RegKey monitors;
  if (!Succeeded(monitors.Open(HKEY_LOCAL_MACHINE, PORTMON_MONITORS_KEY, KEY_READ))) return {};
  const auto entry = FindPort(monitors.get(), portName);
  if (!entry) return {};
  RegKey key;
  if (!Succeeded(key.Open(monitors.get(), entry->portKey.c_str(), KEY_READ))) return {};
  return key;
}

}  // namespace tgx::portio
