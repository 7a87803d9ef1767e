#include "interrupt_timer.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <mutex>

namespace tgx::portio {
namespace {

// Real-time signals below this one are left to the threading library and to
// programs that take the first ones.
constexpr int kFirstCandidate = 2;

// Its only work is to be there: a caught signal interrupts the blocking call.
void Interrupted(int) {}

// The signal this library interrupts calls with; 0 when none is free.
int InterruptSignal() {
  static int signal = 0;
  static std::once_flag chosen;
  std::call_once(chosen, [] {
    for (int candidate = SIGRTMIN + kFirstCandidate; candidate <= SIGRTMAX; ++candidate) {
      struct sigaction current {};
      if (sigaction(candidate, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = Interrupted;
      sigemptyset(&action.sa_mask);
      action.sa_flags = 0;  // no SA_RESTART: the interrupted call must return
      if (sigaction(candidate, &action, nullptr) == 0) {
        signal = candidate;
        return;
      }
    }
  });
  return signal;
}

itimerspec OneShot(DWORD milliseconds) {
  itimerspec spec{};
  spec.it_value.tv_sec = static_cast<time_t>(milliseconds / 1000);
  spec.it_value.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  return spec;
}

}  // namespace

InterruptTimer* InterruptTimer::ForThisThread(DWORD* error) {
  thread_local std::unique_ptr<InterruptTimer> timer;
  if (timer) return timer.get();
  const int signal = InterruptSignal();
  if (signal == 0) {
    *error = ERROR_NO_SYSTEM_RESOURCES;
    return nullptr;
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = signal;
  event._sigev_un._tid = gettid();
  timer_t id{};
  if (timer_create(CLOCK_MONOTONIC, &event, &id) != 0) {
    *error = errno == EAGAIN ? ERROR_NO_SYSTEM_RESOURCES : Win32ErrorFromErrno(errno);
    return nullptr;
  }
  timer.reset(new InterruptTimer(id));
  return timer.get();
}

InterruptTimer::~InterruptTimer() { timer_delete(id_); }

InterruptTimer::Scope::Scope(InterruptTimer& timer, DWORD milliseconds)
    : timer_(timer), armed_(milliseconds != INFINITE) {
  if (!armed_) return;
  const itimerspec spec = OneShot(milliseconds);
  timer_settime(timer_.id_, 0, &spec, nullptr);
}

InterruptTimer::Scope::~Scope() {
  if (!armed_) return;
  // Disarming also settles a signal already sent: it is taken on the way back
  // from this call, never by a later one.
  const itimerspec off{};
  timer_settime(timer_.id_, 0, &off, nullptr);
}

bool InterruptTimer::Scope::Expired() const {
  if (!armed_) return false;
  itimerspec left{};
  if (timer_gettime(timer_.id_, &left) != 0) return true;
  return left.it_value.tv_sec == 0 && left.it_value.tv_nsec == 0;
}

}  // namespace tgx::portio
