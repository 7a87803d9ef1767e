#include "command_support.h"

#include <signal.h>

#include <chrono>
#include <thread>

#include "tgx/wire/agent_wire.h"

namespace tgx::tools {
namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

constexpr std::chrono::milliseconds kBusyRetry{100};

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read of the input returns
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool Interrupted() { return g_interrupted != 0; }

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

std::int32_t SendAll(AuCbtSocket socket, std::span<const std::uint8_t> data,
                     std::uint64_t busyWaitMs, const std::function<void(std::size_t)>& sent) {
  std::uint64_t busySince = 0;
  while (!data.empty() && !Interrupted()) {
    const std::int32_t taken =
        AuCbtSend(socket, data.data(), static_cast<std::int32_t>(data.size()));
    if (taken < 0) return taken;
    if (taken > 0) {
      busySince = 0;
      data = data.subspan(static_cast<std::size_t>(taken));
      sent(static_cast<std::size_t>(taken));
      continue;
    }
    const std::uint64_t now = NowMs();
    if (busySince == 0) busySince = now;
    if (now - busySince > busyWaitMs) return static_cast<std::int32_t>(agent::result::kBusy);
    std::this_thread::sleep_for(kBusyRetry);
  }
  return 0;
}

}  // namespace tgx::tools
