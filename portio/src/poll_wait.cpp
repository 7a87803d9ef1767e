#include "poll_wait.h"

#include <errno.h>
#include <poll.h>

#include <climits>

namespace tgx::portio {

Deadline::Deadline(DWORD milliseconds)
    : infinite_(milliseconds == INFINITE),
      end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds)) {}

int Deadline::RemainingForPoll() const {
  if (infinite_) return -1;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

WaitOutcome WaitFor(int fd, short events, const Deadline& deadline, DWORD* error) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int rc = poll(&p, 1, deadline.RemainingForPoll());
    if (rc > 0) return WaitOutcome::kReady;
    if (rc == 0) return WaitOutcome::kTimedOut;
    if (errno != EINTR) {
      *error = DeviceError(errno);
      return WaitOutcome::kFailed;
    }
  }
}

DWORD DeviceError(int err) {
  switch (err) {
    case ENODEV:
    case ENXIO:
    case ESHUTDOWN:
    case EPIPE:
    case ECONNRESET:
    case ECONNREFUSED:
    case ECONNABORTED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
    case ENOTCONN: return ERROR_DEVICE_NOT_CONNECTED;
    case EIO: return ERROR_GEN_FAILURE;
    default: return Win32ErrorFromErrno(err);
  }
}

}  // namespace tgx::portio
