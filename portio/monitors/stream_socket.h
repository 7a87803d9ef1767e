// A stream connection to a printer (TCP) or to the simulator (Unix socket),
// with time-limited sends and receives in Win32 terms. The edge between the
// monitors and the operating system.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "io_result.h"
#include "tgx/win32.h"

namespace tgx::portio {

class StreamSocket {
 public:
  StreamSocket() = default;
  StreamSocket(StreamSocket&& other) noexcept;
  StreamSocket& operator=(StreamSocket&& other) noexcept;
  StreamSocket(const StreamSocket&) = delete;
  StreamSocket& operator=(const StreamSocket&) = delete;
  ~StreamSocket();

  // Connects within timeoutMs; the printer not answering or refusing gives
  // ERROR_DEVICE_NOT_CONNECTED, an unknown host ERROR_BAD_NET_NAME.
  static std::optional<StreamSocket> ConnectTcp(const std::string& host, WORD port, DWORD timeoutMs,
                                                DWORD* error);
  static std::optional<StreamSocket> ConnectUnix(const std::string& path, DWORD* error);

  explicit operator bool() const { return fd_ >= 0; }
  void Close();

  // Sends all of data unless timeoutMs pass first.
  IoResult Send(std::span<const BYTE> data, DWORD timeoutMs);
  // Waits up to timeoutMs for data and receives what is there. The peer having
  // closed is ERROR_DEVICE_NOT_CONNECTED.
  IoResult ReceiveSome(std::span<BYTE> buffer, DWORD timeoutMs);
  // Receives exactly buffer.size() bytes unless timeoutMs pass first.
  IoResult ReceiveAll(std::span<BYTE> buffer, DWORD timeoutMs);

 private:
  explicit StreamSocket(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// The Win32 error code the monitors report for a network name that does not resolve.
inline constexpr DWORD ERROR_BAD_NET_NAME = 67;

}  // namespace tgx::portio
