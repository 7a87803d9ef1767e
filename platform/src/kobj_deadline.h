// Time limits of waits, as absolute CLOCK_MONOTONIC times: a wait that is
// interrupted or woken early goes back to sleep until the same deadline.
#pragma once

#include <time.h>

#include "tgx/win32.h"

namespace tgx::kobj {

inline timespec DeadlineAfter(DWORD milliseconds) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_nsec -= 1000000000L;
    ++deadline.tv_sec;
  }
  return deadline;
}

}  // namespace tgx::kobj
