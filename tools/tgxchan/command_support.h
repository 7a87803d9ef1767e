// What the sub-commands share: interruption by a signal, sending a whole
// buffer on a channel, and milliseconds of the monotonic clock.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "tgx/agentcli.h"

namespace tgx::tools {

inline constexpr int kExitInterrupted = 130;

// From now on SIGINT and SIGTERM set a flag instead of ending the program, and
// interrupt waits for input.
void InstallInterruptHandler();
bool Interrupted();

std::uint64_t NowMs();

// Sends every byte of `data`, calling AuCbtSend again with the rest after a
// partial take and, while the printer is busy, every 100 ms for at most
// `busyWaitMs`. `sent` is called with each accepted count. Returns 0, the
// failure result of AuCbtSend, 0xC010000B when the printer stayed busy, or 0
// with fewer bytes sent when interrupted.
std::int32_t SendAll(AuCbtSocket socket, std::span<const std::uint8_t> data,
                     std::uint64_t busyWaitMs, const std::function<void(std::size_t)>& sent);

}  // namespace tgx::tools
