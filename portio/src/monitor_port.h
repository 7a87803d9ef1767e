// Ports reached through a port monitor plug-in (tgx/portmon.h): the NT
// interface under the exclusive-use lock, or the 9x interface.
#pragma once

#include <memory>
#include <string_view>

#include "port.h"
#include "port_name.h"

namespace tgx::portio {

// The 9x carry-over of a "USBPRN" port, and the chunk it reads in.
inline constexpr DWORD kUsbPrnChunk = 256;

// monitorLibrary: the plug-in to load, or null to find the port's monitor in
// the registry. Null with the last error set on failure; nothing stays open.
std::unique_ptr<Port> OpenNtMonitorPort(std::string_view name, const char* monitorLibrary,
                                        PlatformClass platform);
std::unique_ptr<Port> Open9xMonitorPort(std::string_view name, const char* monitorLibrary);

}  // namespace tgx::portio
