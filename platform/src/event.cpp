// Named events: futex words in the object's file, with an absolute monotonic
// deadline. A futex word has no hidden bookkeeping that a waiter killed asleep
// could leave behind, unlike a process-shared condition variable. Waiters of a
// manual-reset event sleep on its state word; those of an auto-reset event each
// on an entry of its own, so that each SetEvent releases one of them while any
// waits, as many as there were SetEvents, and only with none waiting signals
// the event.
#include <errno.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>

#include "kobj_deadline.h"
#include "kobj_file.h"
#include "tgx/kobj.h"

namespace tgx {
namespace {

using kobj::EventState;
using kobj::ObjectFile;
using kobj::ObjectKind;
using kobj::ObjectPage;

std::uint32_t* FutexWord(std::atomic<std::uint32_t>& word) {
  return reinterpret_cast<std::uint32_t*>(&word);
}

// Sleeps while `word` holds `expected`, until woken or `deadline` (null: none).
long FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, const timespec* deadline) {
  return syscall(SYS_futex, FutexWord(word), FUTEX_WAIT_BITSET, expected, deadline, nullptr,
                 FUTEX_BITSET_MATCH_ANY);
}

// Wakes up to `count` sleepers; the number woken.
long FutexWake(std::atomic<std::uint32_t>& word, int count) {
  return syscall(SYS_futex, FutexWord(word), FUTEX_WAKE, count, nullptr, nullptr, 0);
}

constexpr std::uint32_t kReleased = 1;  // bit 0 of a waiter entry

class EventObject final : public KernelObject {
 public:
  explicit EventObject(std::shared_ptr<ObjectFile> file)
      : file_(std::move(file)), state_(file_->page().event) {}

  DWORD Wait(DWORD milliseconds) override {
    if (TryTake()) return WAIT_OBJECT_0;
    if (milliseconds == 0) return WAIT_TIMEOUT;
    timespec deadline{};
    if (milliseconds != INFINITE) deadline = kobj::DeadlineAfter(milliseconds);
    const timespec* until = milliseconds == INFINITE ? nullptr : &deadline;
    if (!state_.manualReset) {
      const std::uint32_t waiting = WaitingEntry();
      if (std::atomic<std::uint32_t>* entry = ClaimEntry(waiting)) {
        return WaitOnEntry(*entry, waiting, until);
      }
    }
    return WaitOnState(until);
  }

  void Set() {
    if (state_.manualReset) {
      state_.signalled.store(1);
      if (state_.waiters.load() != 0) FutexWake(state_.signalled, INT_MAX);
      return;
    }
    do {
      if (ReleaseAWaiter()) return;
      state_.signalled.store(1);
      if (state_.waiters.load() != 0) FutexWake(state_.signalled, 1);
      // A waiter that made its entry after the look above may have looked at
      // the event before it was signalled: the signal is its.
    } while (HasWaitingEntry() && TryTake());
  }

  // Releases already given to waiters stay theirs.
  void Reset() { state_.signalled.store(0); }

 private:
  // A manual-reset event stays signalled for every waiter; an auto-reset event's
  // signal goes to the one waiter that swaps it out.
  bool TryTake() {
    if (state_.manualReset) return state_.signalled.load() != 0;
    std::uint32_t signalled = 1;
    return state_.signalled.load() == 1 && state_.signalled.compare_exchange_strong(signalled, 0);
  }

  // Sleeps on the state word until a signal is taken or the deadline passes.
  DWORD WaitOnState(const timespec* deadline) {
    while (true) {
      state_.waiters.fetch_add(1);
      const long result = FutexWait(state_.signalled, 0, deadline);
      const int error = errno;
      state_.waiters.fetch_sub(1);
      // Woken, interrupted, spuriously woken or already signalled: look again.
      if (TryTake()) return WAIT_OBJECT_0;
      if (result == 0 || error == EAGAIN || error == EINTR) continue;
      if (error == ETIMEDOUT) return WAIT_TIMEOUT;
      SetLastError(Win32ErrorFromErrno(error));
      return WAIT_FAILED;
    }
  }

  // The entry of a waiter of this process not yet released.
  static std::uint32_t WaitingEntry() { return GetCurrentProcessId() << 1; }

  // A free waiter entry, now the caller's as `waiting`; null when all are taken.
  std::atomic<std::uint32_t>* ClaimEntry(std::uint32_t waiting) {
    for (std::atomic<std::uint32_t>& entry : state_.waiterEntries) {
      std::uint32_t free = 0;
      if (entry.compare_exchange_strong(free, waiting)) return &entry;
    }
    return nullptr;
  }

  // Sleeps on the caller's entry, claimed as `waiting`, until a SetEvent
  // releases it or the deadline passes; the entry is free again on return.
  // `waiting` is not read back from the entry: a SetEvent may have released it
  // already, and sleeping on the released value would sleep through it.
  DWORD WaitOnEntry(std::atomic<std::uint32_t>& entry, std::uint32_t waiting,
                    const timespec* deadline) {
    // A SetEvent that looked for waiters before the entry was made signalled the
    // event instead.
    if (TryTake()) {
      if (Leave(entry, waiting)) Set();  // a release came too: not this waiter's to keep
      return WAIT_OBJECT_0;
    }
    while (true) {
      const long result = FutexWait(entry, waiting, deadline);
      const int error = errno;
      if (result == 0 || error == EAGAIN || error == EINTR) {
        if (entry.load() == waiting) continue;  // not released: woken spuriously
        entry.store(0);
        return WAIT_OBJECT_0;
      }
      // A release that came as the wait ended counts.
      if (Leave(entry, waiting)) return WAIT_OBJECT_0;
      if (error == ETIMEDOUT) return WAIT_TIMEOUT;
      SetLastError(Win32ErrorFromErrno(error));
      return WAIT_FAILED;
    }
  }

  // Frees the caller's entry; true when a SetEvent had released it.
  static bool Leave(std::atomic<std::uint32_t>& entry, std::uint32_t waiting) {
    std::uint32_t expected = waiting;
    if (entry.compare_exchange_strong(expected, 0)) return false;
    entry.store(0);
    return true;
  }

  static bool IsWaiting(std::uint32_t entry) { return entry != 0 && !(entry & kReleased); }

  // Releases one waiter with an entry whose process is alive, freeing the
  // entries of processes that died waiting; false when there is none.
  bool ReleaseAWaiter() {
    for (std::atomic<std::uint32_t>& entry : state_.waiterEntries) {
      std::uint32_t waiting = entry.load();
      if (!IsWaiting(waiting)) continue;
      if (!entry.compare_exchange_strong(waiting, waiting | kReleased)) continue;
      // A waiter woken from its sleep has the release. One not asleep either
      // is about to look at its entry and finds it released, or died waiting:
      // only then is its process asked after, and the release taken back.
      if (FutexWake(entry, 1) > 0) return true;
      const auto process = static_cast<pid_t>(waiting >> 1);
      if (kill(process, 0) == 0 || errno != ESRCH) return true;
      std::uint32_t released = waiting | kReleased;
      entry.compare_exchange_strong(released, 0);
    }
    return false;
  }

  bool HasWaitingEntry() const {
    for (const std::atomic<std::uint32_t>& entry : state_.waiterEntries) {
      if (IsWaiting(entry.load())) return true;
    }
    return false;
  }

  std::shared_ptr<ObjectFile> file_;
  EventState& state_;
};

EventObject* AsEvent(const Handle& handle) {
  auto* event = handle.as<EventObject>();
  if (!event) SetLastError(ERROR_INVALID_HANDLE);
  return event;
}

}  // namespace

Handle CreateEventA(const SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState,
                    const char* name) {
  const ObjectFile::Request request{ObjectKind::kEvent, FileModeFor(attributes), 0,
                                    [&](ObjectPage& page) {
                                      page.event.manualReset = manualReset ? 1 : 0;
                                      page.event.waiters.store(0);
                                      for (auto& entry : page.event.waiterEntries) entry.store(0);
                                      page.event.signalled.store(initialState ? 1 : 0);
                                      return ERROR_SUCCESS;
                                    }};
  return CreateObjectHandle<EventObject>(name, request);
}

Handle OpenEventA(DWORD, BOOL, const char* name) {
  return OpenObjectHandle<EventObject>(name, ObjectKind::kEvent);
}

BOOL SetEvent(const Handle& event) {
  EventObject* object = AsEvent(event);
  if (!object) return FALSE;
  object->Set();
  return TRUE;
}

BOOL ResetEvent(const Handle& event) {
  EventObject* object = AsEvent(event);
  if (!object) return FALSE;
  object->Reset();
  return TRUE;
}

}  // namespace tgx
