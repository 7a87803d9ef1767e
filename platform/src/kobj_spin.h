// Brief spinning before a wait falls asleep. A request handed to another
// process is often answered within microseconds; looking for the answer that
// long costs less than sleeping and being woken (two context switches and a
// wake-up across processors), and does not pay on a single processor, where
// the answer cannot come while the waiter spins.
#pragma once

#include <time.h>
#include <unistd.h>

#include <cstdint>

namespace tgx::kobj {

inline constexpr std::int64_t kSpinNanoseconds = 50'000;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  __asm__ __volatile__("yield");
#endif
}

inline std::int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Looks for `ready()` for up to kSpinNanoseconds; whether it became true.
template <typename Ready>
bool SpinUntil(Ready ready) {
  static const bool pays = sysconf(_SC_NPROCESSORS_ONLN) > 1;
  if (!pays) return false;
  const std::int64_t until = MonotonicNanoseconds() + kSpinNanoseconds;
  for (unsigned look = 1;; ++look) {
    CpuRelax();
    if (ready()) return true;
    if (look % 32 == 0 && MonotonicNanoseconds() >= until) return false;
  }
}

}  // namespace tgx::kobj
