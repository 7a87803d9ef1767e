// Write throughput through Vi1284_WritePort to a usblp device played by a pty,
// beside a plain write loop on a pty of the same kind, in the same run. A
// thread drains each pty's master side as a printer would; a run ends when the
// printer side has read every byte.
//
// Prints, for 4 KiB and 64 KiB writes: portio_write_<size>, plain_write_<size>
// (MB/s, median of several runs) and portio_ratio_<size> (the median of the
// rounds' portio / plain ratios: each round runs both ways back to back, so a
// change in machine load between rounds does not tilt the ratio).
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tgx/portio.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBytesPerRun = 8u << 20;
// Rounds of one run each way; which way goes first alternates.
constexpr int kRounds = 21;

// A pty whose master side is drained by a thread, counting what it took.
class DrainedPty {
 public:
  DrainedPty() {
    termios raw{};
    cfmakeraw(&raw);
    char name[256];
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) std::abort();
    slaveName_ = name;
    drainer_ = std::thread([this] {
      std::vector<char> buffer(1 << 16);
      for (;;) {
        const ssize_t n = read(master_, buffer.data(), buffer.size());
        if (n <= 0) break;
        drained_ += static_cast<std::size_t>(n);
        drained_.notify_all();
      }
    });
  }
  ~DrainedPty() {
    close(slave_);  // the master then reads EIO and the drainer ends
    drainer_.join();
    close(master_);
  }
  const std::string& slaveName() const { return slaveName_; }
  void WaitFor(std::size_t total) const {
    for (std::size_t now = drained_.load(); now < total; now = drained_.load()) {
      drained_.wait(now);
    }
  }
  std::size_t drained() const { return drained_.load(); }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slaveName_;
  std::thread drainer_;
  std::atomic<std::size_t> drained_{0};
};

double MegabytesPerSecond(std::size_t bytes, std::chrono::steady_clock::duration elapsed) {
  return static_cast<double>(bytes) / 1e6 / std::chrono::duration<double>(elapsed).count();
}

// The plain loop: blocking writes on the pty's slave.
double PlainRun(DrainedPty& pty, const std::vector<char>& block) {
  const int fd = open(pty.slaveName().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) std::abort();
  const std::size_t start = pty.drained();
  const auto begin = std::chrono::steady_clock::now();
  for (std::size_t sent = 0; sent < kBytesPerRun;) {
    const ssize_t n = write(fd, block.data(), block.size());
    if (n <= 0) std::abort();
    sent += static_cast<std::size_t>(n);
  }
  pty.WaitFor(start + kBytesPerRun);
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  close(fd);
  return MegabytesPerSecond(kBytesPerRun, elapsed);
}

// The same through the port access library, the pty standing in as USB001.
double PortioRun(DrainedPty& pty, const std::vector<char>& block) {
  VI1284_HANDLE handle = 0;
  if (!Vi1284_OpenPort("USB001", VI1284_GENERIC_READ | VI1284_GENERIC_WRITE, &handle)) {
    std::abort();
  }
  const VI1284_COMMTIMEOUTS timeouts{0, 0, 3000, 0, 60000};
  Vi1284_SetCommTimeouts(handle, &timeouts);
  const std::size_t start = pty.drained();
  const auto begin = std::chrono::steady_clock::now();
  for (std::size_t sent = 0; sent < kBytesPerRun;) {
    uint32_t written = 0;
    if (!Vi1284_WritePort(handle, block.data(), static_cast<uint32_t>(block.size()), &written) ||
        written == 0) {
      std::abort();
    }
    sent += written;
  }
  pty.WaitFor(start + kBytesPerRun);
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  Vi1284_ClosePort(handle);
  return MegabytesPerSecond(kBytesPerRun, elapsed);
}

double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  char scratch[] = "/tmp/bench-portio-XXXXXX";
  if (!mkdtemp(scratch)) return 1;
  const fs::path root = scratch;
  setenv("TGX_DEVICE_ROOT", (root / "root").c_str(), 1);
  setenv("TGX_RUNTIME_DIR", (root / "run").c_str(), 1);
  fs::create_directories(root / "root/dev/usb");
  {
    DrainedPty usb;
    DrainedPty plain;
    fs::create_symlink(usb.slaveName(), root / "root/dev/usb/lp0");
    for (const std::size_t size : {std::size_t{4} << 10, std::size_t{64} << 10}) {
      const std::vector<char> block(size, 'P');
      std::vector<double> portioRuns;
      std::vector<double> plainRuns;
      std::vector<double> ratios;
      for (int round = 0; round < kRounds; ++round) {
        if (round % 2 == 0) {
          plainRuns.push_back(PlainRun(plain, block));
          portioRuns.push_back(PortioRun(usb, block));
        } else {
          portioRuns.push_back(PortioRun(usb, block));
          plainRuns.push_back(PlainRun(plain, block));
        }
        ratios.push_back(portioRuns.back() / plainRuns.back());
      }
      const std::string tag = std::to_string(size >> 10) + "k";
      std::printf("portio_write_%s=%.1f MB/s\n", tag.c_str(), Median(portioRuns));
      std::printf("plain_write_%s=%.1f MB/s\n", tag.c_str(), Median(plainRuns));
      std::printf("portio_ratio_%s=%.3f ratio\n", tag.c_str(), Median(ratios));
    }
  }
  fs::remove_all(root);
  return 0;
}
