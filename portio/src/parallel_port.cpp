#include "parallel_port.h"

#include <array>
#include <string>

#include "device_file.h"
#include "device_id.h"
#include "io_timeouts.h"
#include "port_name.h"

namespace tgx::portio {
namespace {

// Time-outs until the caller sets its own.
constexpr CommTimeouts kParallelDefaultTimeouts = {0, 0, 3000, 0, 5000};

class ParallelPort final : public Port {
 public:
  ParallelPort(DeviceFile device, unsigned index, bool canRead)
      : device_(std::move(device)), index_(index), canRead_(canRead) {}

  // Synchronous reads as on a port with comm time-outs: what arrived within the
  // time-out, possibly nothing.
  BOOL Read(std::span<BYTE> buffer, DWORD* read) override {
    if (!device_ || !canRead_) return Fail(ERROR_ACCESS_DENIED);
    if (buffer.empty()) return TRUE;
    const IoResult result =
        device_.ReadSome(buffer, {},
                         TotalTimeout(timeouts_.ReadTotalTimeoutConstant,
                                      timeouts_.ReadTotalTimeoutMultiplier, buffer.size()));
    *read = static_cast<DWORD>(result.bytes);
    return result.ok() || result.error == ERROR_OPERATION_ABORTED ? TRUE : Fail(result.error);
  }

  // A write that times out reports what it moved; one that moved nothing fails.
  BOOL Write(std::span<const BYTE> data, DWORD* written) override {
    if (!device_) return Fail(ERROR_ACCESS_DENIED);
    const IoResult result =
        device_.Write(data, TotalTimeout(timeouts_.WriteTotalTimeoutConstant,
                                         timeouts_.WriteTotalTimeoutMultiplier, data.size()));
    *written = static_cast<DWORD>(result.bytes);
    if (result.ok() || (result.error == ERROR_OPERATION_ABORTED && result.bytes != 0)) {
      return TRUE;
    }
    return Fail(result.error == ERROR_OPERATION_ABORTED ? ERROR_TIMEOUT : result.error);
  }

  BOOL IoControl(DWORD code, std::span<const BYTE>, std::span<BYTE> output,
                 DWORD* returned) override {
    if (!device_) return Fail(ERROR_ACCESS_DENIED);
    if (code != VI1284_IOCTL_PAR_QUERY_DEVICE_ID && code != VI1284_IOCTL_DEVICE_ID_9X) {
      return Fail(ERROR_INVALID_FUNCTION);
    }
    // The IEEE 1284 ID the kernel probed on the parallel port (first device of
    // a daisy chain when the port itself gave none).
    const std::string dir = DevicePath("/proc/sys/dev/parport/parport" + std::to_string(index_));
    for (const char* file :
         {"/autoprobe", "/autoprobe0", "/autoprobe1", "/autoprobe2", "/autoprobe3"}) {
      DWORD error = ERROR_SUCCESS;
      const auto raw = ReadSmallFile(dir + file, kMaxDeviceIdBytes, &error);
      if (!raw || raw->empty()) continue;
      *returned = CopyDeviceId(DeviceIdText(*raw), output);
      return TRUE;
    }
    return Fail(ERROR_NOT_SUPPORTED);
  }

  BOOL SetTimeouts(const CommTimeouts& timeouts) override {
    if (!device_) return Fail(ERROR_ACCESS_DENIED);
    timeouts_ = timeouts;
    return TRUE;
  }

  BOOL Close() override {
    device_.Close();
    return TRUE;
  }

 private:
  DeviceFile device_;
  unsigned index_;
  bool canRead_;
  CommTimeouts timeouts_ = kParallelDefaultTimeouts;
};

}  // namespace

std::unique_ptr<Port> OpenParallelPort(std::string_view name, DWORD access) {
  const bool read = (access & VI1284_GENERIC_READ) != 0;
  const bool write = (access & VI1284_GENERIC_WRITE) != 0;
  const auto digit = ParallelPortDigit(name);
  if (!digit || (!read && !write)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // LPT1 is the first parallel device, lp0; "LPT0" names none.
  if (*digit == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  const unsigned index = *digit - 1;
  DWORD error = ERROR_SUCCESS;
  auto device =
      DeviceFile::Open(DevicePath("/dev/lp" + std::to_string(index)), read, write, &error);
  if (!device) {
    SetLastError(error);
    return nullptr;
  }
  return std::make_unique<ParallelPort>(std::move(*device), index, read);
}

}  // namespace tgx::portio
