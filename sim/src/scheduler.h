// Timers as the protocol engine sees them: the event loop implements Scheduler,
// tests and the fuzzer may supply their own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>

namespace printersim {

using Millis = std::chrono::milliseconds;
using TimerId = std::uint64_t;

class Scheduler {
 public:
  virtual ~Scheduler() = default;
  virtual TimerId AddTimer(Millis delay, std::function<void()> callback) = 0;
  virtual void CancelTimer(TimerId id) = 0;
};

// Timers that belong to one owner: every timer still pending when the group is
// destroyed is cancelled, so a callback never outlives the object it captures.
class TimerGroup {
 public:
  explicit TimerGroup(Scheduler& scheduler) : scheduler_(scheduler) {}
  ~TimerGroup() { CancelAll(); }
  TimerGroup(const TimerGroup&) = delete;
  TimerGroup& operator=(const TimerGroup&) = delete;

  // The callback may destroy the group itself.
  TimerId After(Millis delay, std::function<void()> callback) {
    auto slot = std::make_shared<TimerId>(0);
    const TimerId id = scheduler_.AddTimer(delay, [this, slot, cb = std::move(callback)] {
      pending_.erase(*slot);
      cb();
    });
    *slot = id;
    pending_.insert(id);
    return id;
  }
  void Cancel(TimerId id) {
    if (pending_.erase(id)) scheduler_.CancelTimer(id);
  }
  void CancelAll() {
    for (TimerId id : pending_) scheduler_.CancelTimer(id);
    pending_.clear();
  }

 private:
  Scheduler& scheduler_;
  std::set<TimerId> pending_;
};

}  // namespace printersim
