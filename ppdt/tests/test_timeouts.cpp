// Failure time-outs of this test program and of every process it starts
// (clients, workers) are divided, so that waits for a failed peer take
// seconds: the request limit becomes 7.5 s, the worker start limit 750 ms and
// the worker's idle check 125 ms.
#include <cstdlib>

namespace {
[[maybe_unused]] const int kDivisorSet = setenv("TGX_TIMEOUT_DIVISOR", "40", 0);
}  // namespace
