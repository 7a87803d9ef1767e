// The 1394 printer device as ppdtport sees it: opened by its name ("\\.\" +
// port name), driven by device controls with an input and an output buffer,
// closed. A backend supplies devices; the one shipped reaches the printer
// simulator, and a real driver would be another backend beside it.
#pragma once

#include <memory>
#include <string_view>

#include "tgx/win32.h"

namespace tgx::ppdt {

// "\\.\": the prefix under which devices are opened.
inline constexpr std::string_view kDevicePathPrefix = "\\\\.\\";

class Device {
 public:
  virtual ~Device() = default;  // closes the device

  // DeviceIoControl: input (null when inputLength is 0) goes to the device; at
  // most outputLength bytes come back into output, their count into *returned.
  // FALSE with the last error set when the device refuses or is gone.
  virtual BOOL Control(DWORD controlCode, const void* input, DWORD inputLength, void* output,
                       DWORD outputLength, DWORD* returned) = 0;
};

class DeviceBackend {
 public:
  virtual ~DeviceBackend() = default;
  // CreateFileA for reading and writing, not shared, open existing. Null with
  // the last error set on failure.
  virtual std::unique_ptr<Device> Open(std::string_view path) = 0;
};

// The backend of this build: the simulated 1394 devices served by printersim
// as Unix sockets $TGX_DEVICE_ROOT/dev/ppdt/<name>.
DeviceBackend& SimulatorDeviceBackend();

}  // namespace tgx::ppdt
