// A printer device played by a pty: the slave appears at a device path below
// TGX_DEVICE_ROOT (as usblp or parallel devices do), the test holds the master.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tgx::portio::test {

class PtyDevice {
 public:
  // devicePath: "/dev/usb/lp0", "/dev/lp0", ... (below TGX_DEVICE_ROOT).
  explicit PtyDevice(const std::string& devicePath);
  ~PtyDevice();
  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  // Printer to host: bytes the host will read.
  void Send(std::string_view bytes);
  // Host to printer: up to n bytes, waiting up to timeoutMs for each part.
  std::string Receive(std::size_t n, int timeoutMs = 2000);
  // Bytes sent to the host that it has not read yet.
  std::size_t PendingForHost() const;
  // The printer goes away: the master closes.
  void HangUp();

 private:
  int master_ = -1;
  int slave_ = -1;  // our own view of the host side, to count what is pending
};

// Writes a file below TGX_DEVICE_ROOT, creating its directories.
void WriteDeviceFile(const std::string& path, std::string_view content);

}  // namespace tgx::portio::test
