// A time limit on one blocking system call of the calling thread: a one-shot
// timer whose expiry sends the thread a signal with a handler that does
// nothing, so that the call returns early with what it moved so far (or
// EINTR). This is how a device write waits inside the kernel, as fast as a
// plain blocking write, and still gives up at its time-out like an overlapped
// request that is cancelled.
//
// The library takes one real-time signal that nobody else handles, the first
// free one from SIGRTMIN + 2, and keeps it unblocked in the threads that write.
#pragma once

#include <time.h>

#include "tgx/win32.h"

namespace tgx::portio {

// Not enough of a system resource (here: timers or signals).
inline constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;

class InterruptTimer {
 public:
  // The calling thread's timer, made on first use; null with *error set when
  // the system has no timer or no free signal for it.
  static InterruptTimer* ForThisThread(DWORD* error);

  ~InterruptTimer();
  InterruptTimer(const InterruptTimer&) = delete;
  InterruptTimer& operator=(const InterruptTimer&) = delete;

  // The timer running for one call: armed for milliseconds (more than 0;
  // INFINITE: not at all), disarmed when the scope ends, so that it never
  // fires later.
  class Scope {
   public:
    Scope(InterruptTimer& timer, DWORD milliseconds);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    // Whether the time is up (a call that returned short was cut by it).
    bool Expired() const;

   private:
    InterruptTimer& timer_;
    bool armed_;
  };

 private:
  explicit InterruptTimer(timer_t id) : id_(id) {}
  timer_t id_;
};

}  // namespace tgx::portio
