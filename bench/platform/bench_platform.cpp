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
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tgx/kobj.h"

namespace {

using namespace tgx;

constexpr int kBlocks = 20;
constexpr int kRoundTripsPerBlock = 5000;  // 100,000 of each kind in all
constexpr int kMutexRounds = 2000000;
constexpr int kCreateRounds = 20000;

constexpr const char* kPing = "Global\\bench-ping";
constexpr const char* kPong = "Global\\bench-pong";

double NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

bool IsEventBlock(int block) { return block % 2 == 0; }

struct Pipes {
  int toChild[2];
  int toParent[2];
};

// The answering side: follows the same schedule of blocks as the timing side.
[[noreturn]] void Answer(const Pipes& pipes) {
  Handle ping = OpenEventA(EVENT_ALL_ACCESS, FALSE, kPing);
  Handle pong = OpenEventA(EVENT_ALL_ACCESS, FALSE, kPong);
  if (!ping || !pong) _exit(1);
  char byte = 0;
  for (int block = 0; block < kBlocks; ++block) {
    for (int i = 0; i < kRoundTripsPerBlock; ++i) {
      if (IsEventBlock(block)) {
        if (WaitForSingleObject(ping, INFINITE) != WAIT_OBJECT_0 || !SetEvent(pong)) _exit(1);
      } else if (read(pipes.toChild[0], &byte, 1) != 1 || write(pipes.toParent[1], &byte, 1) != 1) {
        _exit(1);
      }
    }
  }
  _exit(0);
}

double Median(std::vector<double>& samples) {
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

bool RoundTrips() {
  Handle ping = CreateEventA(nullptr, FALSE, FALSE, kPing);
  Handle pong = CreateEventA(nullptr, FALSE, FALSE, kPong);
  Pipes pipes{};
  if (!ping || !pong || pipe(pipes.toChild) != 0 || pipe(pipes.toParent) != 0) return false;
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) Answer(pipes);

  std::vector<double> eventNs, pipeNs;
  eventNs.reserve(kBlocks / 2 * kRoundTripsPerBlock);
  pipeNs.reserve(kBlocks / 2 * kRoundTripsPerBlock);
  char byte = 1;
  bool ok = true;
  for (int block = 0; block < kBlocks && ok; ++block) {
    for (int i = 0; i < kRoundTripsPerBlock && ok; ++i) {
      const double start = NowNs();
      if (IsEventBlock(block)) {
        ok = SetEvent(ping) && WaitForSingleObject(pong, INFINITE) == WAIT_OBJECT_0;
        eventNs.push_back(NowNs() - start);
      } else {
        ok = write(pipes.toChild[1], &byte, 1) == 1 && read(pipes.toParent[0], &byte, 1) == 1;
        pipeNs.push_back(NowNs() - start);
      }
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  const double eventUs = Median(eventNs) / 1000;
  const double pipeUs = Median(pipeNs) / 1000;
  std::printf("event_roundtrip_median=%.2f us\n", eventUs);
  std::printf("pipe_roundtrip_median=%.2f us\n", pipeUs);
  std::printf("event_to_pipe_ratio=%.2f x\n", eventUs / pipeUs);
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
