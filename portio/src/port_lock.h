// The exclusive-use lock of a USB or NT-monitor port: the named mutex
// "NBLOCALT_<port>" exists exactly while some process has the port open, so
// creating it finds any other holder, in this process or another, alive.
#pragma once

#include <optional>
#include <string_view>

#include "port_name.h"
#include "tgx/handle.h"

namespace tgx::portio {

class PortLock {
 public:
  // Fails with ERROR_ALREADY_EXISTS while another opener holds the port, or
  // with the error of the create. Everyone may open the lock on NT classes.
  static std::optional<PortLock> Take(std::string_view portName, PlatformClass platform);

 private:
  explicit PortLock(Handle mutex) : mutex_(std::move(mutex)) {}
  Handle mutex_;
};

// Whether named objects take the "Global\" form; decided once when the library
// is loaded.
bool UseGlobalNames();

}  // namespace tgx::portio
