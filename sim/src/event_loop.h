// A single-threaded epoll loop with timers: the simulator's one thread waits
// here for every descriptor and every delayed answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "scheduler.h"
#include "tgx/unique_fd.h"

namespace printersim {

class EventLoop : public Scheduler {
 public:
  using Handler = std::function<void(std::uint32_t events)>;

  EventLoop();
  ~EventLoop() override;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  bool ok() const { return epoll_.valid(); }

  // Watches fd for the epoll events; the handler may remove any watch, its own included.
  bool Add(int fd, std::uint32_t events, Handler handler);
  void Modify(int fd, std::uint32_t events);
  void Remove(int fd);

  TimerId AddTimer(Millis delay, std::function<void()> callback) override;
  void CancelTimer(TimerId id) override;

  // Runs until Stop(); SIGINT and SIGTERM call on_signal (which usually stops).
  void Run();
  void Stop() { running_ = false; }
  std::function<void()> on_signal;

 private:
  using Clock = std::chrono::steady_clock;
  struct Watch {
    int fd;
    Handler handler;
  };
  int NextTimeoutMs() const;
  void RunDueTimers();

  tgx::UniqueFd epoll_;
  tgx::UniqueFd signals_;
  std::uint64_t next_token_ = 1;
  std::map<std::uint64_t, std::shared_ptr<Watch>> watches_;  // token -> watch
  std::map<int, std::uint64_t> tokens_;                      // fd -> token
  TimerId next_timer_ = 1;
  std::multimap<Clock::time_point, TimerId> deadlines_;
  std::map<TimerId, std::pair<Clock::time_point, std::function<void()>>> timers_;
  bool running_ = false;
};

}  // namespace printersim
