#include "event_loop.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>

#include <cerrno>

namespace printersim {

EventLoop::EventLoop() : epoll_(epoll_create1(EPOLL_CLOEXEC)) {
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  signals_.reset(signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
  if (signals_.valid()) {
    Add(signals_.get(), EPOLLIN, [this](std::uint32_t) {
      signalfd_siginfo info;
      while (read(signals_.get(), &info, sizeof info) == sizeof info) {
      }
      if (on_signal) {
        on_signal();
      } else {
        Stop();
      }
    });
  }
}

EventLoop::~EventLoop() = default;

bool EventLoop::Add(int fd, std::uint32_t events, Handler handler) {
  const std::uint64_t token = next_token_++;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = token;
  if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) return false;
  watches_[token] = std::make_shared<Watch>(Watch{fd, std::move(handler)});
  tokens_[fd] = token;
  return true;
}

void EventLoop::Modify(int fd, std::uint32_t events) {
  auto it = tokens_.find(fd);
  if (it == tokens_.end()) return;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = it->second;
  epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, fd, &ev);
}

void EventLoop::Remove(int fd) {
  auto it = tokens_.find(fd);
  if (it == tokens_.end()) return;
  epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
  watches_.erase(it->second);
  tokens_.erase(it);
}

TimerId EventLoop::AddTimer(Millis delay, std::function<void()> callback) {
  const TimerId id = next_timer_++;
  const auto due = Clock::now() + delay;
  deadlines_.emplace(due, id);
  timers_.emplace(id, std::make_pair(due, std::move(callback)));
  return id;
}

void EventLoop::CancelTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  auto range = deadlines_.equal_range(it->second.first);
  for (auto d = range.first; d != range.second; ++d) {
    if (d->second == id) {
      deadlines_.erase(d);
      break;
    }
  }
  timers_.erase(it);
}

int EventLoop::NextTimeoutMs() const {
  if (deadlines_.empty()) return -1;
  const auto wait = std::chrono::ceil<Millis>(deadlines_.begin()->first - Clock::now());
  return wait.count() < 0 ? 0 : static_cast<int>(std::min<long long>(wait.count(), 60000));
}

void EventLoop::RunDueTimers() {
  const auto now = Clock::now();
  while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
    const TimerId id = deadlines_.begin()->second;
    deadlines_.erase(deadlines_.begin());
    auto it = timers_.find(id);
    if (it == timers_.end()) continue;
    std::function<void()> callback = std::move(it->second.second);
    timers_.erase(it);
    callback();
  }
}

void EventLoop::Run() {
  running_ = true;
  epoll_event events[64];
  while (running_) {
    const int n = epoll_wait(epoll_.get(), events, 64, NextTimeoutMs());
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n && running_; ++i) {
      auto it = watches_.find(events[i].data.u64);
      if (it == watches_.end()) continue;  // removed by an earlier handler
      std::shared_ptr<Watch> watch = it->second;
      watch->handler(events[i].events);
    }
    RunDueTimers();
  }
}

}  // namespace printersim
