#include "pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tgx::portio::test {
namespace {

fs::path BelowRoot(const std::string& path) {
  return fs::path(std::getenv("TGX_DEVICE_ROOT")) / path.substr(1);
}

}  // namespace

PtyDevice::PtyDevice(const std::string& devicePath) {
  termios raw{};
  cfmakeraw(&raw);
  char slaveName[256];
  if (openpty(&master_, &slave_, slaveName, &raw, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  const fs::path link = BelowRoot(devicePath);
  fs::create_directories(link.parent_path());
  fs::remove(link);
  fs::create_symlink(slaveName, link);
}

PtyDevice::~PtyDevice() {
  HangUp();
  if (slave_ >= 0) close(slave_);
}

void PtyDevice::Send(std::string_view bytes) {
  const std::size_t expected = PendingForHost() + bytes.size();
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("pty write failed");
    done += static_cast<std::size_t>(n);
  }
  // Wait until the line discipline has it all, so the host sees it at once.
  for (int i = 0; i < 2000 && PendingForHost() < expected; ++i) usleep(1000);
}

std::string PtyDevice::Receive(std::size_t n, int timeoutMs) {
  std::string out;
  while (out.size() < n) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    char buffer[4096];
    const ssize_t got = read(master_, buffer, std::min(sizeof buffer, n - out.size()));
    if (got <= 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  return out;
}

std::size_t PtyDevice::PendingForHost() const {
  int pending = 0;
  if (ioctl(slave_, FIONREAD, &pending) != 0) return 0;
  return static_cast<std::size_t>(pending);
}

void PtyDevice::HangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void WriteDeviceFile(const std::string& path, std::string_view content) {
  const fs::path file = BelowRoot(path);
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc).write(content.data(), content.size());
}

}  // namespace tgx::portio::test
