#include "interrupt_timer.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace tgx::portio {
namespace {

// Real-time signals below this one are left to the threading library and to
// programs that take the first ones.
constexpr int kFirstCandidate = 2;
// A watch that found nothing armed for this many ticks parks until the next arming.
constexpr int kIdleTicksBeforeParking = 20;

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// The watch thread and the timers it looks after.
class Watch {
 public:
  static Watch& Get() {
    static Watch watch;
    return watch;
  }

  // The signal taken for interrupting; 0 when none is free.
  int signal() const { return signal_; }

  bool Add(InterruptTimer* timer, DWORD* error) {
    std::lock_guard lock(mutex_);
    if (!StartLocked()) {
      *error = ERROR_NO_SYSTEM_RESOURCES;
      return false;
    }
    timers_.push_back(timer);
    return true;
  }

  void Remove(InterruptTimer* timer) {
    std::lock_guard lock(mutex_);
    timers_.erase(std::remove(timers_.begin(), timers_.end(), timer), timers_.end());
  }

  // After a timer was armed: a parked watch is woken. (The timer's state is
  // stored before parked_ is read, and parked_ before the watch reads the
  // states, so one of the two sides sees the other.)
  void Armed() {
    if (running_.load() && !parked_.load()) return;
    std::lock_guard lock(mutex_);
    StartLocked();
    wake_ = true;
    wakeup_->notify_one();
  }

  // A scope whose timer fired ends: no signal is sent after this, and every
  // one sent has been taken before the thread goes on.
  void Settle(InterruptTimer* timer) {
    std::uint64_t sent = 0;
    {
      std::lock_guard lock(mutex_);
      timer->state_.store(InterruptTimer::WithKind(timer->state_.load(), InterruptTimer::kIdle));
      sent = timer->sent_;
    }
    // A signal sent to this thread is taken on its way back from a system
    // call; one the thread has come to block since is taken here.
    while (timer->delivered_.load() < sent) {
      sigset_t blocked;
      pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
      if (sigismember(&blocked, signal_)) {
        sigset_t ours;
        sigemptyset(&ours);
        sigaddset(&ours, signal_);
        const timespec now{};
        if (sigtimedwait(&ours, nullptr, &now) == signal_) timer->delivered_.fetch_add(1);
      }
      sched_yield();
    }
  }

 private:
  Watch() : signal_(ClaimSignal()) {
    pthread_atfork([] { Get().mutex_.lock(); }, [] { Get().mutex_.unlock(); },
                   [] { Get().ForkedChild(); });
  }

  ~Watch() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      wakeup_->notify_one();
    }
    if (running_.load()) pthread_join(thread_, nullptr);
  }

  // In the child of fork only the forking thread lives on, without the watch:
  // it starts again on the next arming, for that thread's timer alone.
  void ForkedChild() {
    running_.store(false);
    parked_.store(false);
    wake_ = false;
    // Never destroyed: destroying waits for a waiter that is gone.
    abandoned_ = wakeup_.release();
    wakeup_ = std::make_unique<std::condition_variable>();
    const pthread_t self = pthread_self();
    timers_.erase(
        std::remove_if(timers_.begin(), timers_.end(),
                       [self](InterruptTimer* t) { return !pthread_equal(t->thread_, self); }),
        timers_.end());
    mutex_.unlock();
  }

  // Starts the watch thread unless it runs; false when it cannot.
  bool StartLocked() {
    if (running_.load()) return true;
    // The watch takes no signal meant for the program's own threads.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const bool started = pthread_create(&thread_, nullptr, &Watch::RunThread, this) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    running_.store(started);
    return started;
  }

  static void* RunThread(void* watch) {
    static_cast<Watch*>(watch)->Run();
    return nullptr;
  }

  static void Interrupted(int, siginfo_t* info, void*) {
    static_cast<InterruptTimer*>(info->si_value.sival_ptr)->delivered_.fetch_add(1);
  }

  static int ClaimSignal() {
    for (int candidate = SIGRTMIN + kFirstCandidate; candidate <= SIGRTMAX; ++candidate) {
      struct sigaction current {};
      if (sigaction(candidate, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_sigaction = Interrupted;
      sigemptyset(&action.sa_mask);
      // No SA_RESTART: the interrupted call must return.
      action.sa_flags = SA_SIGINFO;
      if (sigaction(candidate, &action, nullptr) == 0) return candidate;
    }
    return 0;
  }

  void Run() {
    std::unique_lock lock(mutex_);
    int idleTicks = 0;
    while (!stopping_) {
      const bool armed = Scan();
      idleTicks = armed ? 0 : idleTicks + 1;
      if (idleTicks < kIdleTicksBeforeParking) {
        wakeup_->wait_for(lock, InterruptTimer::kTick, [this] { return stopping_; });
        continue;
      }
      parked_.store(true);
      if (!Scan()) {
        wakeup_->wait(lock, [this] { return stopping_ || wake_; });
      }
      wake_ = false;
      parked_.store(false);
      idleTicks = 0;
    }
  }

  // Fires the timers whose time is up and signals every fired one that is
  // still in its scope (again each tick: a signal that came between two calls
  // did not interrupt either). Returns whether any timer is armed or fired.
  bool Scan() {
    const std::int64_t now = Now();
    bool active = false;
    for (InterruptTimer* timer : timers_) {
      std::uint64_t state = timer->state_.load();
      if (InterruptTimer::KindOf(state) == InterruptTimer::kIdle) continue;
      active = true;
      if (InterruptTimer::KindOf(state) == InterruptTimer::kArmed) {
        if (now < timer->deadline_.load()) continue;
        // Fails when that scope has ended meanwhile (or a newer one begun).
        if (!timer->state_.compare_exchange_strong(
                state, InterruptTimer::WithKind(state, InterruptTimer::kFired))) {
          continue;
        }
      }
      ++timer->sent_;
      sigval value{};
      value.sival_ptr = timer;
      if (pthread_sigqueue(timer->thread_, signal_, value) != 0) --timer->sent_;
    }
    return active;
  }

  const int signal_;
  std::mutex mutex_;
  // Made anew in a child of fork, where the old one still counts the parent's
  // watch as a waiter.
  std::unique_ptr<std::condition_variable> wakeup_ = std::make_unique<std::condition_variable>();
  std::condition_variable* abandoned_ = nullptr;
  std::vector<InterruptTimer*> timers_;
  pthread_t thread_{};
  std::atomic<bool> running_{false};
  std::atomic<bool> parked_{false};
  bool wake_ = false;
  bool stopping_ = false;
};

InterruptTimer* InterruptTimer::ForThisThread(DWORD* error) {
  thread_local std::unique_ptr<InterruptTimer> timer;
  if (timer) return timer.get();
  Watch& watch = Watch::Get();
  if (watch.signal() == 0) {
    *error = ERROR_NO_SYSTEM_RESOURCES;
    return nullptr;
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, watch.signal());
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::unique_ptr<InterruptTimer> made(new InterruptTimer());
  made->thread_ = pthread_self();
  if (!watch.Add(made.get(), error)) return nullptr;
  timer = std::move(made);
  return timer.get();
}

InterruptTimer::~InterruptTimer() { Watch::Get().Remove(this); }

InterruptTimer::Scope::Scope(InterruptTimer& timer, DWORD milliseconds) : timer_(timer) {
  if (milliseconds == INFINITE) return;
  armed_ = WithKind(timer_.state_.load() + kScopeOne, kArmed);
  timer_.deadline_.store(Now() + std::int64_t{milliseconds} * 1000000);
  timer_.state_.store(armed_);
  Watch::Get().Armed();
}

InterruptTimer::Scope::~Scope() {
  if (armed_ == 0) return;
  std::uint64_t state = armed_;
  if (timer_.state_.compare_exchange_strong(state, WithKind(armed_, kIdle))) return;
  Watch::Get().Settle(&timer_);
}

bool InterruptTimer::Scope::Expired() const { return KindOf(timer_.state_.load()) == kFired; }

}  // namespace tgx::portio
