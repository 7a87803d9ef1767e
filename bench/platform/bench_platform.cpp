// Costs of the platform layer's kernel objects:
//   event_roundtrip_median   one process sets an event, the other answers with a second one
//   pipe_roundtrip_median    the same exchange over a pair of pipes, measured in the same run
//   event_to_pipe_ratio      the first over the second
//   mutex_lock_release       an uncontended named mutex taken and released
//   object_open_existing     CreateMutexA of an existing named mutex plus its close
//   object_create_new        CreateMutexA of a new named mutex plus its close (which removes it)
// The two round trips are measured in alternating blocks, so that a change in the
// machine's load during the run affects both alike.
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "round_trips.h"
#include "tgx/kobj.h"

namespace {

using namespace tgx;
using bench::NowNs;

constexpr int kBlocks = 20;
constexpr int kRoundTripsPerBlock = 5000;  // 100,000 of each kind in all
constexpr int kMutexRounds = 2000000;
constexpr int kCreateRounds = 20000;

bool RoundTrips() {
  const auto medians = bench::MeasureRoundTrips(kBlocks, kRoundTripsPerBlock);
  if (!medians) return false;
  std::printf("event_roundtrip_median=%.2f us\n", medians->event_us);
  std::printf("pipe_roundtrip_median=%.2f us\n", medians->pipe_us);
  std::printf("event_to_pipe_ratio=%.2f x\n", medians->event_us / medians->pipe_us);
  return true;
}

bool MutexLockRelease() {
  Handle mutex = CreateMutexA(nullptr, FALSE, "Global\\bench-mutex");
  if (!mutex) return false;
  const double start = NowNs();
  for (int i = 0; i < kMutexRounds; ++i) {
    if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0 || !ReleaseMutex(mutex)) {
      return false;
    }
  }
  std::printf("mutex_lock_release=%.1f ns\n", (NowNs() - start) / kMutexRounds);
  return true;
}

bool CreateOrOpen() {
  constexpr const char* kName = "Global\\bench-object";
  Handle held = CreateMutexA(nullptr, FALSE, kName);
  if (!held) return false;
  double start = NowNs();
  for (int i = 0; i < kCreateRounds; ++i) {
    if (!CreateMutexA(nullptr, FALSE, kName)) return false;
  }
  std::printf("object_open_existing=%.2f us\n", (NowNs() - start) / kCreateRounds / 1000);
  held.reset();
  start = NowNs();
  for (int i = 0; i < kCreateRounds; ++i) {
    if (!CreateMutexA(nullptr, FALSE, kName)) return false;
  }
  std::printf("object_create_new=%.2f us\n", (NowNs() - start) / kCreateRounds / 1000);
  return true;
}

}  // namespace

int main() {
  // A private runtime directory unless the caller chose one.
  char scratch[] = "/dev/shm/tgx-bench-XXXXXX";
  const bool ownRuntime = !getenv("TGX_RUNTIME_DIR");
  if (ownRuntime) {
    if (!mkdtemp(scratch)) return 2;
    setenv("TGX_RUNTIME_DIR", scratch, 1);
  }
  const bool ok = RoundTrips() && MutexLockRelease() && CreateOrOpen();
  if (ownRuntime) {
    const std::string remove = std::string("rm -rf '") + scratch + "'";
    if (std::system(remove.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", scratch);
  }
  if (!ok) std::fprintf(stderr, "bench_platform: a kernel-object call failed\n");
  return ok ? 0 : 1;
}
