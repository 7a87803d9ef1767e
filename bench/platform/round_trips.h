// Round trips between two processes through the platform layer's events (one
// process sets an event, the other answers with a second one), beside the same
// exchange over a pair of pipes. The two kinds are measured in alternating
// blocks, so that a change in the machine's load during the run affects both
// alike. Forks: call it before the calling program starts threads.
#pragma once

#include <optional>

namespace tgx::bench {

struct RoundTripMedians {
  double event_us;
  double pipe_us;
};

// CLOCK_MONOTONIC in nanoseconds.
double NowNs();

// `blocks` blocks (half of each kind) of `per_block` round trips; nullopt when
// a call failed.
std::optional<RoundTripMedians> MeasureRoundTrips(int blocks, int per_block);

}  // namespace tgx::bench
