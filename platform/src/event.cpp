// Named events: a state word in the object's file that waiters sleep on as a
// futex, with an absolute monotonic deadline. A futex word has no hidden
// bookkeeping that a waiter killed asleep could leave behind, unlike a
// process-shared condition variable.
#include <errno.h>
#include <linux/futex.h>
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

void FutexWake(std::atomic<std::uint32_t>& word, int count) {
  syscall(SYS_futex, FutexWord(word), FUTEX_WAKE, count, nullptr, nullptr, 0);
}

class EventObject final : public KernelObject {
 public:
  explicit EventObject(std::shared_ptr<ObjectFile> file)
      : file_(std::move(file)), state_(file_->page().event) {}

  DWORD Wait(DWORD milliseconds) override {
    if (TryTake()) return WAIT_OBJECT_0;
    if (milliseconds == 0) return WAIT_TIMEOUT;
    timespec deadline{};
    if (milliseconds != INFINITE) deadline = kobj::DeadlineAfter(milliseconds);
    while (true) {
      state_.waiters.fetch_add(1);
      const long result =
          FutexWait(state_.signalled, 0, milliseconds == INFINITE ? nullptr : &deadline);
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

  void Set() {
    state_.signalled.store(1);
    if (state_.waiters.load() != 0) FutexWake(state_.signalled, state_.manualReset ? INT_MAX : 1);
  }

  void Reset() { state_.signalled.store(0); }

 private:
  // A manual-reset event stays signalled for every waiter; an auto-reset event's
  // signal goes to the one waiter that swaps it out.
  bool TryTake() {
    if (state_.manualReset) return state_.signalled.load() != 0;
    std::uint32_t signalled = 1;
    return state_.signalled.load(std::memory_order_relaxed) == 1 &&
           state_.signalled.compare_exchange_strong(signalled, 0);
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
                                      page.event.signalled.store(initialState ? 1 : 0);
                                      return ERROR_SUCCESS;
                                    }};
  std::shared_ptr<ObjectFile> file;
  bool existed = false;
  if (DWORD error = ObjectFile::Create(name, request, file, existed)) {
    SetLastError(error);
    return Handle();
  }
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return Handle(std::make_unique<EventObject>(std::move(file)));
}

Handle OpenEventA(DWORD, BOOL, const char* name) {
  std::shared_ptr<ObjectFile> file;
  if (DWORD error = ObjectFile::Open(name, ObjectKind::kEvent, file)) {
    SetLastError(error);
    return Handle();
  }
  SetLastError(ERROR_SUCCESS);
  return Handle(std::make_unique<EventObject>(std::move(file)));
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
