#include "port_device.h"

#include "device_id.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace fs = std::filesystem;

namespace printersim {
namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// Writes a file whole under a temporary name and renames it into place, so that
// a reader never sees it half written.
bool WriteFileAtomic(const fs::path& path, const std::string& content, std::string* error) {
  const fs::path temp = path.string() + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
      *error = "cannot write " + temp.string();
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    *error = "cannot rename " + temp.string() + ": " + ec.message();
    return false;
  }
  return true;
}

bool SymlinkAtomic(const std::string& target, const fs::path& link, std::string* error) {
  const fs::path temp = link.string() + ".tmp";
  std::error_code ec;
  fs::remove(temp, ec);
  fs::create_symlink(target, temp, ec);
  if (!ec) fs::rename(temp, link, ec);
  if (ec) {
    *error = "cannot create " + link.string() + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<PortDevice> PortDevice::Create(EventLoop& loop, Printer& printer,
                                               const fs::path& root, std::string* error) {
  std::unique_ptr<PortDevice> device(new PortDevice(loop, printer));
  if (!device->OpenPty(error) || !device->CreateFiles(root, error)) return nullptr;
  return device;
}

PortDevice::~PortDevice() {
  // The device vanishes before its pty closes: a host that finds the file gone
  // does not try to open a dead pty.
  RemoveFiles();
  if (watch_.valid()) loop_.Remove(watch_.get());
  stream_.reset();
  session_.reset();
}

bool PortDevice::OpenPty(std::string* error) {
  tgx::UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!master.valid()) {
    *error = Errno("posix_openpt");
    return false;
  }
  if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) {
    *error = Errno("unlockpt");
    return false;
  }
  char name[128];
  if (ptsname_r(master.get(), name, sizeof name) != 0) {
    *error = Errno("ptsname");
    return false;
  }
  pty_path_ = name;
  slave_.reset(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave_.valid()) {
    *error = Errno("open " + pty_path_);
    return false;
  }
  termios settings{};
  if (tcgetattr(slave_.get(), &settings) != 0) {
    *error = Errno("tcgetattr");
    return false;
  }
  cfmakeraw(&settings);
  if (tcsetattr(slave_.get(), TCSANOW, &settings) != 0) {
    *error = Errno("tcsetattr");
    return false;
  }
  // Our own slave open came before the watch: only the host's opens are seen.
  watch_.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!watch_.valid() ||
      inotify_add_watch(watch_.get(), name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    *error = Errno("inotify on " + pty_path_);
    return false;
  }
  loop_.Add(watch_.get(), EPOLLIN, [this](std::uint32_t) {
    if (ReadWatchEvents()) HostLetGo();
  });
  session_ = std::make_unique<Session>(
      printer_, "pty", [this](std::span<const std::uint8_t> b) { stream_->Write(b); });
  stream_ = std::make_unique<Stream>(
      loop_, std::move(master), [this](std::span<const std::uint8_t> b) { session_->FromHost(b); },
      [] {});
  UpdateReading();
  return true;
}

bool PortDevice::CreateFiles(const fs::path& root, std::string* error) {
  const PrinterConfig& config = printer_.config();
  const unsigned index = config.port_number - 1;
  std::error_code ec;
  fs::path id_dir;
  if (config.port_kind == PortKind::kUsb) {
    device_path_ = root / "dev/usb" / ("lp" + std::to_string(index));
    const fs::path class_dir = root / "sys/class/usbmisc" / ("lp" + std::to_string(index));
    id_dir = class_dir / "device";
    fs::create_directories(id_dir, ec);
    owned_paths_.push_back(class_dir);
    if (ec || !WriteFileAtomic(id_dir / "ieee1284_id", config.device_id, error)) {
      if (ec) *error = "cannot create " + id_dir.string() + ": " + ec.message();
      return false;
    }
  } else {
    device_path_ = root / "dev" / ("lp" + std::to_string(index));
    id_dir = root / "proc/sys/dev/parport" / ("parport" + std::to_string(index));
    fs::create_directories(id_dir, ec);
    owned_paths_.push_back(id_dir);
    if (ec) {
      *error = "cannot create " + id_dir.string() + ": " + ec.message();
      return false;
    }
    // autoprobe holds the ID of the device on the port; the numbered files are
    // for daisy-chained devices, of which there are none.
    if (!WriteFileAtomic(id_dir / "autoprobe", AutoprobeText(config.device_id), error)) {
      return false;
    }
    for (int chained = 0; chained < 4; ++chained) {
      if (!WriteFileAtomic(id_dir / ("autoprobe" + std::to_string(chained)), "", error)) {
        return false;
      }
    }
  }
  fs::create_directories(device_path_.parent_path(), ec);
  if (ec) {
    *error = "cannot create " + device_path_.parent_path().string() + ": " + ec.message();
    return false;
  }
  if (!SymlinkAtomic(pty_path_, device_path_, error)) return false;
  owned_paths_.insert(owned_paths_.begin(), device_path_);
  return true;
}

void PortDevice::RemoveFiles() {
  std::error_code ec;
  for (const fs::path& path : owned_paths_) fs::remove_all(path, ec);
  owned_paths_.clear();
}

void PortDevice::UpdateReading() {
  if (stream_) stream_->SetReading(!printer_.faults().stall);
}

std::size_t PortDevice::UnreadOutput() const {
  int queued = 0;
  ioctl(slave_.get(), FIONREAD, &queued);
  return static_cast<std::size_t>(queued) + (stream_ ? stream_->pending_output() : 0);
}

bool PortDevice::ReadWatchEvents() {
  alignas(inotify_event) char buffer[4096];
  bool closed = false;
  for (;;) {
    const ssize_t n = read(watch_.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->mask & IN_OPEN) {
        ++host_opens_;
        printer_.counters().Add("host.opens");
      }
      if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
        if (host_opens_ > 0) --host_opens_;
        printer_.counters().Add("host.closes");
        closed = true;
      }
      if (event->mask & IN_Q_OVERFLOW) host_opens_ = 0;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  // The watch is read after the data taken so far: with no open left, none of
  // that data came from a later open. A close followed at once by a new open
  // cannot be told apart in the stream; the new conversation's Init starts over.
  return closed && host_opens_ == 0;
}

void PortDevice::HostLetGo() {
  if (!printer_.faults().stall) stream_->Drain();
  session_->HostClosed();
  tcflush(slave_.get(), TCIFLUSH);
  stream_->DiscardOutput();
}

}  // namespace printersim
