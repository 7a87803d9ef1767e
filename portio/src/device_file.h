// The Linux edge of the library: a printer device file (usblp, parallel, or the
// pty a simulator puts in their place) with time-limited reads and writes. The
// results speak Win32: a request that timed out is "cancelled", and the errors
// of a vanished device are the ones Windows reports for an unplugged printer.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io_result.h"
#include "tgx/win32.h"

namespace tgx::portio {

// Data error on the device (a Win32 code the platform layer does not name).
inline constexpr DWORD ERROR_CRC = 23;

// The errors that mean the device has gone (unplugged, powered off, hung up).
bool IsDeviceGoneError(DWORD error);

// Absolute path of a device or kernel file, below TGX_DEVICE_ROOT (default "/").
std::string DevicePath(const std::string& path);

// The whole content of a (small) kernel or ID file, at most limit bytes.
std::optional<std::vector<BYTE>> ReadSmallFile(const std::string& path, std::size_t limit,
                                               DWORD* error);

// Names in a directory (empty when it cannot be read).
std::vector<std::string> ListDirectory(const std::string& path);

class DeviceFile {
 public:
  DeviceFile() = default;
  DeviceFile(DeviceFile&& other) noexcept;
  DeviceFile& operator=(DeviceFile&& other) noexcept;
  DeviceFile(const DeviceFile&) = delete;
  DeviceFile& operator=(const DeviceFile&) = delete;
  ~DeviceFile();

  // Opens for reading and/or writing with no sharing: a second open of the same
  // device fails with ERROR_SHARING_VIOLATION while this one is open.
  static std::optional<DeviceFile> Open(const std::string& path, bool read, bool write,
                                        DWORD* error);

  explicit operator bool() const { return fd_ >= 0; }
  void Close();

  // One device read: waits up to timeoutMs for data, then reads what is there
  // into first and, when first is full, on into second (a scatter read).
  IoResult ReadSome(std::span<BYTE> first, std::span<BYTE> second, DWORD timeoutMs);
  // Writes all of data unless timeoutMs pass first (0: what the device takes
  // at once); cut short, the result is ERROR_OPERATION_ABORTED with the count
  // that went.
  IoResult Write(std::span<const BYTE> data, DWORD timeoutMs);
  // The usblp driver's device-ID query (raw form, length prefix included).
  IoResult ReadUsblpDeviceId(std::span<BYTE> output);

 private:
  explicit DeviceFile(int fd) : fd_(fd) {}
  IoResult WriteWhatFits(std::span<const BYTE> data);
  int fd_ = -1;
};

}  // namespace tgx::portio
