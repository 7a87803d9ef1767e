#include "round_trips.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "tgx/kobj.h"

namespace tgx::bench {
namespace {

constexpr const char* kPing = "Global\\bench-ping";
constexpr const char* kPong = "Global\\bench-pong";
// A peer that has not answered by then has failed: give up rather than hang.
constexpr DWORD kAnswerTimeoutMs = 10000;

bool IsEventBlock(int block) { return block % 2 == 0; }

struct Pipes {
  int toChild[2];
  int toParent[2];
};

// The answering side: follows the same schedule of blocks as the timing side.
[[noreturn]] void Answer(const Pipes& pipes, int blocks, int per_block) {
  Handle ping = OpenEventA(EVENT_ALL_ACCESS, FALSE, kPing);
  Handle pong = OpenEventA(EVENT_ALL_ACCESS, FALSE, kPong);
  if (!ping || !pong) _exit(1);
  char byte = 0;
  for (int block = 0; block < blocks; ++block) {
    for (int i = 0; i < per_block; ++i) {
      if (IsEventBlock(block)) {
        if (WaitForSingleObject(ping, kAnswerTimeoutMs) != WAIT_OBJECT_0 || !SetEvent(pong)) {
          _exit(1);
        }
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

// Closes both pipes on every path.
struct PipePair {
  Pipes fds{{-1, -1}, {-1, -1}};
  ~PipePair() {
    for (int fd : {fds.toChild[0], fds.toChild[1], fds.toParent[0], fds.toParent[1]}) {
      if (fd >= 0) close(fd);
    }
  }
};

}  // namespace

double NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

std::optional<RoundTripMedians> MeasureRoundTrips(int blocks, int per_block) {
  Handle ping = CreateEventA(nullptr, FALSE, FALSE, kPing);
  Handle pong = CreateEventA(nullptr, FALSE, FALSE, kPong);
  PipePair pipes;
  if (!ping || !pong || pipe(pipes.fds.toChild) != 0 || pipe(pipes.fds.toParent) != 0) {
    return std::nullopt;
  }
  const pid_t child = fork();
  if (child < 0) return std::nullopt;
  if (child == 0) Answer(pipes.fds, blocks, per_block);
  // The child's ends: with them closed here, a child that dies ends the read.
  close(std::exchange(pipes.fds.toChild[0], -1));
  close(std::exchange(pipes.fds.toParent[1], -1));

  std::vector<double> eventNs, pipeNs;
  eventNs.reserve(static_cast<std::size_t>((blocks + 1) / 2 * per_block));
  pipeNs.reserve(static_cast<std::size_t>(blocks / 2 * per_block));
  char byte = 1;
  bool ok = true;
  for (int block = 0; block < blocks && ok; ++block) {
    for (int i = 0; i < per_block && ok; ++i) {
      const double start = NowNs();
      if (IsEventBlock(block)) {
        ok = SetEvent(ping) && WaitForSingleObject(pong, kAnswerTimeoutMs) == WAIT_OBJECT_0;
        eventNs.push_back(NowNs() - start);
      } else {
        ok = write(pipes.fds.toChild[1], &byte, 1) == 1 &&
             read(pipes.fds.toParent[0], &byte, 1) == 1;
        pipeNs.push_back(NowNs() - start);
      }
    }
  }
  if (!ok) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || eventNs.empty() || pipeNs.empty()) {
    return std::nullopt;
  }
  return RoundTripMedians{Median(eventNs) / 1000, Median(pipeNs) / 1000};
}

}  // namespace tgx::bench
