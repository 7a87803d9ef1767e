// A time limit on one blocking system call of the calling thread: when the
// time is up, the thread is sent a signal whose handler does nothing, so that
// the call returns early with what it moved so far (or EINTR). This is how a
// device write waits inside the kernel, as fast as a plain blocking write, and
// still gives up at its time-out like an overlapped request that is cancelled.
//
// Arming and disarming cost no system call: a watch thread, started on first
// use and parked while nothing is armed, looks at the armed limits every
// kTick and signals the threads whose time is up. It signals a thread only
// between its Scope's start and end, so no call outside a Scope is ever
// interrupted. The library takes one real-time signal that nobody else
// handles, the first free one from SIGRTMIN + 2.
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "tgx/win32.h"

namespace tgx::portio {

// Not enough of a system resource (here: threads or signals).
inline constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;

class InterruptTimer {
 public:
  // A limit is enforced at most this late (and what scheduling adds).
  static constexpr std::chrono::milliseconds kTick{5};

  // The calling thread's timer, made on first use; null with *error set when
  // the system has no thread or no free signal for it.
  static InterruptTimer* ForThisThread(DWORD* error);

  ~InterruptTimer();
  InterruptTimer(const InterruptTimer&) = delete;
  InterruptTimer& operator=(const InterruptTimer&) = delete;

  // The limit of one call: armed for milliseconds (INFINITE: not at all) until
  // the scope ends. A scope begins and ends on its timer's own thread.
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
    std::uint64_t armed_ = 0;  // the state this scope armed; 0: none
  };

 private:
  friend class Watch;
  // The state word: what the timer does in its low bits, the number of its
  // latest scope above them, so that the watch never fires a newer scope on
  // the evidence of an older one.
  enum Kind : std::uint64_t { kIdle, kArmed, kFired };
  static constexpr std::uint64_t kKindBits = 3;
  static constexpr std::uint64_t kScopeOne = 4;
  static Kind KindOf(std::uint64_t state) { return static_cast<Kind>(state & kKindBits); }
  static std::uint64_t WithKind(std::uint64_t state, Kind kind) {
    return (state & ~kKindBits) | kind;
  }

  InterruptTimer() = default;

  std::atomic<std::uint64_t> state_{kIdle};
  std::atomic<std::int64_t> deadline_{0};    // steady-clock nanoseconds
  std::uint64_t sent_ = 0;                   // signals sent, under the watch's lock
  std::atomic<std::uint64_t> delivered_{0};  // signals taken by the handler
  pthread_t thread_{};                       // the owner
};

}  // namespace tgx::portio
