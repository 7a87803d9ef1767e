#include "usb_port.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "carry_over.h"
#include "device_file.h"
#include "device_id.h"
#include "io_timeouts.h"
#include "port_lock.h"

namespace tgx::portio {
namespace {

// usblp device numbers under /dev/usb ("lp0" → 0).
std::optional<unsigned> UsblpIndex(const std::string& entry) {
  if (entry.size() < 3 || entry.compare(0, 2, "lp") != 0 || entry.size() > 11) return std::nullopt;
  unsigned index = 0;
  for (std::size_t i = 2; i < entry.size(); ++i) {
    if (entry[i] < '0' || entry[i] > '9') return std::nullopt;
    index = index * 10 + static_cast<unsigned>(entry[i] - '0');
  }
  return index;
}

// The present usblp device whose port name ("USB" and the port number in three
// digits, exact case) is name.
std::optional<unsigned> FindUsblpDevice(std::string_view name) {
  for (const std::string& entry : ListDirectory(DevicePath("/dev/usb"))) {
    const auto index = UsblpIndex(entry);
    if (!index) continue;
    char portName[24];
    std::snprintf(portName, sizeof portName, "USB%03u", *index + 1);
    if (name == portName) return index;
  }
  return std::nullopt;
}

class UsbPort final : public Port {
 public:
  UsbPort(PortLock lock, DeviceFile device, unsigned index)
      : lock_(std::move(lock)), device_(std::move(device)), index_(index) {}

  BOOL Read(std::span<BYTE> buffer, DWORD* read) override {
    if (!open_) return Fail(ERROR_ACCESS_DENIED);
    // A call that succeeds with nothing is run once more.
    if (!ReadOnce(buffer, read)) return FALSE;
    return *read != 0 ? TRUE : ReadOnce(buffer, read);
  }

  BOOL Write(std::span<const BYTE> data, DWORD* written) override {
    if (!open_) return Fail(ERROR_ACCESS_DENIED);
    const IoResult result =
        device_.Write(data, TotalTimeout(timeouts_.WriteTotalTimeoutConstant,
                                         timeouts_.WriteTotalTimeoutMultiplier, data.size()));
    *written = static_cast<DWORD>(result.bytes);
    // A request cancelled at its time-out after moving data succeeded that far.
    if (result.ok() || (result.error == ERROR_OPERATION_ABORTED && result.bytes != 0)) {
      return TRUE;
    }
    if (IsDeviceGoneError(result.error)) DeviceGone();
    return Fail(result.error);
  }

  BOOL IoControl(DWORD code, std::span<const BYTE>, std::span<BYTE> output,
                 DWORD* returned) override {
    if (!open_) return Fail(ERROR_ACCESS_DENIED);
    if (code == VI1284_IOCTL_DEVICE_ID_9X) code = VI1284_IOCTL_PAR_QUERY_DEVICE_ID;
    if (code != VI1284_IOCTL_PAR_QUERY_DEVICE_ID) return Fail(ERROR_INVALID_FUNCTION);
    const auto id = DeviceId();
    if (!id) return FALSE;
    *returned = CopyDeviceId(*id, output);
    return TRUE;
  }

  BOOL SetTimeouts(const CommTimeouts& timeouts) override {
    timeouts_ = timeouts;
    return TRUE;
  }

  BOOL Close() override {
    device_.Close();
    open_ = false;
    return TRUE;
  }

 private:
  // One pass of the read: device reads in whole packets, the carry-over first,
  // until the request is filled, a read brings nothing, or the read time-out
  // constant has passed since the start.
  BOOL ReadOnce(std::span<BYTE> buffer, DWORD* read) {
    const DWORD start = GetTickCount();
    std::size_t delivered = 0;
    for (;;) {
      std::span<BYTE> wanted = buffer.subspan(delivered);
      const std::size_t fromCarry = carry_.TakeInto(wanted);
      wanted = wanted.subspan(fromCarry);
      std::size_t fromDevice = 0;
      DWORD error = ERROR_SUCCESS;
      if (!wanted.empty()) {
        // The shortfall rounded up to whole packets: what does not fit the
        // caller's buffer lands in the carry-over, which is empty by now.
        const std::size_t size =
            (wanted.size() + kUsbPacketSize - 1) / kUsbPacketSize * kUsbPacketSize;
        const IoResult result =
            device_.ReadSome(wanted, carry_.Space().first(size - wanted.size()),
                             TotalTimeout(timeouts_.ReadTotalTimeoutConstant,
                                          timeouts_.ReadTotalTimeoutMultiplier, size));
        error = result.error;
        fromDevice = std::min(result.bytes, wanted.size());
        carry_.Filled(result.bytes - fromDevice);
        if (IsDeviceGoneError(error)) DeviceGone();
      }
      const std::size_t step = fromCarry + fromDevice;
      delivered += step;
      *read = static_cast<DWORD>(delivered);
      // Bytes already handed to the caller are never taken back: a failure
      // after them ends the call as a success with what was delivered.
      if (error != ERROR_SUCCESS) return delivered != 0 ? TRUE : Fail(error);
      if (delivered == buffer.size() || step == 0) return TRUE;
      if (GetTickCount() - start >= timeouts_.ReadTotalTimeoutConstant) return TRUE;
    }
  }

  // The printer's device ID: the driver's query, else the sysfs ID file.
  std::optional<std::string> DeviceId() {
    std::array<BYTE, kMaxDeviceIdBytes> raw{};
    const IoResult result = device_.ReadUsblpDeviceId(raw);
    if (result.ok()) return DeviceIdText(std::span<const BYTE>(raw).first(result.bytes));
    if (IsDeviceGoneError(result.error)) {
      DeviceGone();
      Fail(result.error);
      return std::nullopt;
    }
    DWORD error = ERROR_SUCCESS;
    const auto file = ReadSmallFile(
        DevicePath("/sys/class/usbmisc/lp" + std::to_string(index_) + "/device/ieee1284_id"),
        kMaxDeviceIdBytes, &error);
    if (!file) {
      Fail(ERROR_NOT_SUPPORTED);
      return std::nullopt;
    }
    return DeviceIdText(*file);
  }

  // The device has gone: close it; reads and writes are refused until the
  // handle is closed.
  void DeviceGone() {
    device_.Close();
    open_ = false;
  }

  PortLock lock_;
  DeviceFile device_;
  unsigned index_;
  bool open_ = true;
  CommTimeouts timeouts_ = kUsbDefaultTimeouts;
  CarryOver<kUsbPacketSize> carry_;
};

}  // namespace

std::unique_ptr<Port> OpenUsbPort(std::string_view name, PlatformClass platform) {
  auto lock = PortLock::Take(name, platform);
  if (!lock) return nullptr;
  const auto index = FindUsblpDevice(name);
  if (!index) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  DWORD error = ERROR_SUCCESS;
  auto device =
      DeviceFile::Open(DevicePath("/dev/usb/lp" + std::to_string(*index)), true, true, &error);
  if (!device) {
    SetLastError(error);
    return nullptr;
  }
  return std::make_unique<UsbPort>(std::move(*lock), std::move(*device), *index);
}

}  // namespace tgx::portio
