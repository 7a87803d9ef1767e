// The per-port worker program: started by the channel library with the port
// index on its command line, it executes the port's command records until no
// library process keeps it alive any more, or it is told to end.
#pragma once

#include <optional>

#include "chanlib/family.h"

namespace tgx::chanport {

inline constexpr int kExitOrderly = 0;
inline constexpr int kExitCannotStart = 2;
inline constexpr unsigned kIdleCheckMs = 10000;

// The port index from the first argument holding "-LPT_INDEX=" followed by
// decimal digits; null when there is none or the number is not 0 to 4.
std::optional<int> PortIndexFromArguments(int argc, const char* const* argv);

// Runs the worker; returns its exit code.
int RunWorker(int argc, const char* const* argv, chanlib::Family family);

}  // namespace tgx::chanport
