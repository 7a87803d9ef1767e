#include "device_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "interrupt_timer.h"
#include "poll_wait.h"

namespace tgx::portio {
namespace {

// The usblp driver's device-ID request (drivers/usb/class/usblp.c): the ID
// with its two-byte big-endian length prefix, cut to the request size.
constexpr unsigned long UsblpGetDeviceId(std::size_t length) {
  return _IOC(_IOC_READ, 'P', 1, length);
}

// A pty standing in for a printer must pass every byte through unchanged.
void MakeRawIfTerminal(int fd) {
  termios mode{};
  if (tcgetattr(fd, &mode) != 0) return;
  cfmakeraw(&mode);
  tcsetattr(fd, TCSANOW, &mode);
}

}  // namespace

bool IsDeviceGoneError(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_CRC || error == ERROR_GEN_FAILURE ||
         error == ERROR_DEVICE_NOT_CONNECTED;
}

std::string DevicePath(const std::string& path) {
  const char* root = std::getenv("TGX_DEVICE_ROOT");
  if (!root || !*root) return path;
  std::string full(root);
  while (!full.empty() && full.back() == '/') full.pop_back();
  return full + path;
}

std::optional<std::vector<BYTE>> ReadSmallFile(const std::string& path, std::size_t limit,
                                               DWORD* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *error = Win32ErrorFromErrno(errno);
    return std::nullopt;
  }
  std::vector<BYTE> content(limit);
  std::size_t used = 0;
  while (used < limit) {
    const ssize_t n = read(fd, content.data() + used, limit - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = Win32ErrorFromErrno(errno);
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  close(fd);
  content.resize(used);
  return content;
}

std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (!dir) return names;
  while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
  closedir(dir);
  return names;
}

DeviceFile::DeviceFile(DeviceFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

DeviceFile& DeviceFile::operator=(DeviceFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

DeviceFile::~DeviceFile() { Close(); }

void DeviceFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::optional<DeviceFile> DeviceFile::Open(const std::string& path, bool read, bool write,
                                           DWORD* error) {
  if (!read && !write) {
    *error = ERROR_INVALID_PARAMETER;
    return std::nullopt;
  }
  const int mode = read && write ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
  DeviceFile file(open(path.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!file) {
    *error = Win32ErrorFromErrno(errno);
    return std::nullopt;
  }
  if (flock(file.fd_, LOCK_EX | LOCK_NB) != 0) {
    *error = errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : Win32ErrorFromErrno(errno);
    return std::nullopt;
  }
  MakeRawIfTerminal(file.fd_);
  // Opened without waiting for the device; from here on writes wait in the
  // kernel (under a timer) and reads wait in poll.
  const int flags = fcntl(file.fd_, F_GETFL);
  if (flags < 0 || fcntl(file.fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    *error = Win32ErrorFromErrno(errno);
    return std::nullopt;
  }
  return file;
}

IoResult DeviceFile::ReadSome(std::span<BYTE> first, std::span<BYTE> second, DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  iovec parts[2] = {{first.data(), first.size()}, {second.data(), second.size()}};
  for (;;) {
    DWORD error = ERROR_SUCCESS;
    switch (WaitFor(fd_, POLLIN, deadline, &error)) {
      case WaitOutcome::kTimedOut: return {ERROR_OPERATION_ABORTED, 0};
      case WaitOutcome::kFailed: return {error, 0};
      case WaitOutcome::kReady: break;
    }
    const ssize_t n = readv(fd_, parts, second.empty() ? 1 : 2);
    if (n > 0) return {ERROR_SUCCESS, static_cast<std::size_t>(n)};
    // End of file on a character device: the other side hung up.
    if (n == 0) return {ERROR_DEVICE_NOT_CONNECTED, 0};
    if (errno != EAGAIN && errno != EINTR) return {DeviceError(errno), 0};
  }
}

IoResult DeviceFile::Write(std::span<const BYTE> data, DWORD timeoutMs) {
  if (data.empty()) return {ERROR_SUCCESS, 0};
  if (timeoutMs == 0) return WriteWhatFits(data);
  DWORD error = ERROR_SUCCESS;
  InterruptTimer* timer = InterruptTimer::ForThisThread(&error);
  if (!timer) return {error, 0};
  // One blocking write moves everything unless the timer cuts it short.
  const InterruptTimer::Scope limit(*timer, timeoutMs);
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd_, data.data() + done, data.size() - done);
    if (n < 0 && errno != EINTR) return {DeviceError(errno), done};
    // A device that takes nothing and reports nothing is broken.
    if (n == 0) return {ERROR_GEN_FAILURE, done};
    if (n > 0) done += static_cast<std::size_t>(n);
    if (done < data.size() && limit.Expired()) return {ERROR_OPERATION_ABORTED, done};
  }
  return {ERROR_SUCCESS, done};
}

IoResult DeviceFile::WriteWhatFits(std::span<const BYTE> data) {
  const int flags = fcntl(fd_, F_GETFL);
  if (flags < 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
    return {DeviceError(errno), 0};
  }
  ssize_t n;
  do {
    n = write(fd_, data.data(), data.size());
  } while (n < 0 && errno == EINTR);
  const int writeErrno = errno;
  fcntl(fd_, F_SETFL, flags);
  if (n < 0 && writeErrno != EAGAIN) return {DeviceError(writeErrno), 0};
  const std::size_t done = n > 0 ? static_cast<std::size_t>(n) : 0;
  return {done == data.size() ? ERROR_SUCCESS : ERROR_OPERATION_ABORTED, done};
}

IoResult DeviceFile::ReadUsblpDeviceId(std::span<BYTE> output) {
  if (ioctl(fd_, UsblpGetDeviceId(output.size()), output.data()) == 0) {
    return {ERROR_SUCCESS, output.size()};
  }
  if (errno == ENOTTY || errno == EINVAL) return {ERROR_NOT_SUPPORTED, 0};
  return {DeviceError(errno), 0};
}

}  // namespace tgx::portio
