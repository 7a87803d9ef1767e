// Bytes from a host, as they may come: through the printer's packet engine
// (packets, transaction commands, credit, management packets on 0x20/0x30,
// registrations) and, for the same bytes taken as device controls, the IEEE
// 1394 device. Nothing may crash, hang or grow without bound.
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>

#include "config.h"
#include "ppdt_device.h"
#include "printer.h"
#include "printersim/wire.h"
#include "session.h"

namespace {

// Timers run when the input is used up, in order, so that delayed answers and
// credit retries are exercised too.
class QueuedScheduler : public printersim::Scheduler {
 public:
  printersim::TimerId AddTimer(printersim::Millis, std::function<void()> callback) override {
    timers_[next_] = std::move(callback);
    return next_++;
  }
  void CancelTimer(printersim::TimerId id) override { timers_.erase(id); }
  void RunAll() {
    for (int rounds = 0; rounds < 64 && !timers_.empty(); ++rounds) {
      auto it = timers_.begin();
      auto callback = std::move(it->second);
      timers_.erase(it);
      callback();
    }
  }

 private:
  printersim::TimerId next_ = 1;
  std::map<printersim::TimerId, std::function<void()>> timers_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // First byte: credit policy, answer delay and chunking; the rest is the stream.
  const std::uint8_t mode = data[0];
  const std::span<const std::uint8_t> stream(data + 1, size - 1);

  printersim::PrinterConfig config;
  config.name = "fuzz";
  config.credit = static_cast<printersim::CreditPolicy>(mode % 3);
  config.credit_window = static_cast<std::uint16_t>(1 + (mode >> 2) % 8);
  config.answer_delay_ms = (mode & 0x20) ? 5 : 0;
  config.max_packet = (mode & 0x40) ? 64 : 4096;
  config.answers[5] = {1, 2, 3};
  QueuedScheduler scheduler;
  printersim::Printer printer(config, scheduler);
  std::size_t written = 0;
  {
    printersim::Session session(
        printer, "fuzz", [&](std::span<const std::uint8_t> bytes) { written += bytes.size(); });
    const std::size_t chunk = 1 + (mode >> 3);
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      session.FromHost(stream.subspan(at, std::min(chunk, stream.size() - at)));
    }
    const std::uint8_t payload[] = {0xAA};
    session.Notify(payload);
    scheduler.RunAll();
    session.HostClosed();
  }

  // The same bytes as 1394 device controls: code, input length, then input.
  printersim::PpdtDevice device(printer);
  std::size_t at = 0;
  while (at + 6 <= stream.size()) {
    const std::uint32_t code = 0x00222F00u | stream[at] | (stream[at + 1] & 0x80u ? 0x160000u : 0u);
    const std::size_t length = std::min<std::size_t>(stream[at + 2], stream.size() - at - 6);
    const auto input = stream.subspan(at + 6, length);
    device.Control(code, input, stream[at + 3], input);
    at += 6 + length;
  }
  return 0;
}
