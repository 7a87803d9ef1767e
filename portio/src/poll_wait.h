// Waiting for a descriptor with a deadline, and the Win32 reading of the errors
// of devices and connections: shared by device files and monitor sockets.
#pragma once

#include <chrono>

#include "tgx/win32.h"

namespace tgx::portio {

// A wait limit on the monotonic clock; INFINITE never expires.
class Deadline {
 public:
  explicit Deadline(DWORD milliseconds);
  // Milliseconds left, as poll takes them (-1: no limit).
  int RemainingForPoll() const;

 private:
  bool infinite_;
  std::chrono::steady_clock::time_point end_;
};

enum class WaitOutcome { kReady, kTimedOut, kFailed };

// Waits until fd is ready for events (poll bits) or has hung up; kFailed sets *error.
WaitOutcome WaitFor(int fd, short events, const Deadline& deadline, DWORD* error);

// errno of a device or connection request as a Win32 error: a vanished device
// or peer is ERROR_DEVICE_NOT_CONNECTED, an I/O error ERROR_GEN_FAILURE.
DWORD DeviceError(int err);

}  // namespace tgx::portio
