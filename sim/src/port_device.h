// A printer's port as the host sees it: a pty in raw mode whose slave appears
// under the device root as a usblp device ($ROOT/dev/usb/lp<N>, ID in
// $ROOT/sys/class/usbmisc/lp<N>/device/ieee1284_id) or a parallel device
// ($ROOT/dev/lp<n>, ID in $ROOT/proc/sys/dev/parport/parport<n>/autoprobe).
//
// The simulator keeps its own slave descriptor open, so the master never sees a
// hang-up between host opens, and it watches the slave with inotify to learn
// when the host lets go: then the data the host wrote before closing is taken,
// the session ends, and what the host left unread is discarded. Destroying the
// device is the hang-up: the files vanish first, then the pty closes.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "event_loop.h"
#include "printer.h"
#include "session.h"
#include "stream.h"
#include "tgx/unique_fd.h"

namespace printersim {

class PortDevice {
 public:
  // Creates the pty and the device files; nullptr with *error set on failure.
  static std::unique_ptr<PortDevice> Create(EventLoop& loop, Printer& printer,
                                            const std::filesystem::path& root, std::string* error);
  ~PortDevice();
  PortDevice(const PortDevice&) = delete;
  PortDevice& operator=(const PortDevice&) = delete;

  const std::filesystem::path& device_path() const { return device_path_; }
  const std::string& pty_path() const { return pty_path_; }
  Session& session() { return *session_; }
  // Follows the printer's stall setting.
  void UpdateReading();
  // Bytes written for the host that it has not read yet.
  std::size_t UnreadOutput() const;
  int host_opens() const { return host_opens_; }

 private:
  PortDevice(EventLoop& loop, Printer& printer) : loop_(loop), printer_(printer) {}
  bool OpenPty(std::string* error);
  bool CreateFiles(const std::filesystem::path& root, std::string* error);
  void RemoveFiles();
  // Reads pending open/close events; true when the host has just let go entirely.
  bool ReadWatchEvents();
  void HostLetGo();

  EventLoop& loop_;
  Printer& printer_;
  tgx::UniqueFd slave_;
  tgx::UniqueFd watch_;
  std::string pty_path_;
  std::filesystem::path device_path_;
  std::vector<std::filesystem::path> owned_paths_;  // removed in this order
  std::unique_ptr<Session> session_;
  std::unique_ptr<Stream> stream_;
  int host_opens_ = 0;
};

}  // namespace printersim
