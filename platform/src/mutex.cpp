// Named mutexes: a process-shared, robust, recursive pthread mutex in the
// object's file. Robustness gives Windows' abandonment: the kernel marks the
// mutex of an owner thread that ends, or whose process dies, and the next
// locker learns it through EOWNERDEAD.
#include <errno.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "kobj_deadline.h"
#include "kobj_file.h"
#include "tgx/kobj.h"

namespace tgx {
namespace {

using kobj::ObjectFile;
using kobj::ObjectKind;
using kobj::ObjectPage;

class MutexObject final : public KernelObject {
 public:
  explicit MutexObject(std::shared_ptr<ObjectFile> file)
      : file_(std::move(file)), mutex_(&file_->page().mutex.mutex) {}

  // Each thread's list of the robust mutexes it owns is linked through the
  // mutexes' own memory, and glibc and the kernel walk it: unmapping a mutex
  // that a thread of this process still owns would break the list (and later
  // unlocks would write to the unmapped page). Such a page stays mapped.
  ~MutexObject() override {
    if (OwnedInThisProcess()) file_->KeepPageMapped();
  }

  DWORD Wait(DWORD milliseconds) override {
    int result;
    if (milliseconds == 0) {
      result = pthread_mutex_trylock(mutex_);
    } else if (milliseconds == INFINITE) {
      result = pthread_mutex_lock(mutex_);
    } else {
      const timespec deadline = kobj::DeadlineAfter(milliseconds);
      result = pthread_mutex_clocklock(mutex_, CLOCK_MONOTONIC, &deadline);
    }
    switch (result) {
      case 0: return WAIT_OBJECT_0;
      case EBUSY:
      case ETIMEDOUT: return WAIT_TIMEOUT;
      case EOWNERDEAD:
        // Left unmarked, the mutex would become unusable for everybody once unlocked.
        pthread_mutex_consistent(mutex_);
        return WAIT_ABANDONED;
      default: SetLastError(Win32ErrorFromErrno(result)); return WAIT_FAILED;
    }
  }

  BOOL Release() {
    const int result = pthread_mutex_unlock(mutex_);
    if (result == 0) return TRUE;
    SetLastError(result == EPERM ? ERROR_NOT_OWNER : Win32ErrorFromErrno(result));
    return FALSE;
  }

 private:
  bool OwnedInThisProcess() const {
    const int owner = __atomic_load_n(&mutex_->__data.__owner, __ATOMIC_RELAXED);
    const int thread = owner & FUTEX_TID_MASK;
    return thread != 0 && syscall(SYS_tgkill, getpid(), thread, 0) == 0;
  }

  std::shared_ptr<ObjectFile> file_;
  pthread_mutex_t* mutex_;
};

// A new mutex; owned by the calling thread when `owned`, before anybody else can see it.
DWORD SetUpMutex(ObjectPage& page, bool owned) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  const int result = pthread_mutex_init(&page.mutex.mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
  if (result == 0 && owned) return Win32ErrorFromErrno(pthread_mutex_lock(&page.mutex.mutex));
  return Win32ErrorFromErrno(result);
}

}  // namespace

Handle CreateMutexA(const SECURITY_ATTRIBUTES* attributes, BOOL initialOwner, const char* name) {
  // As on Windows, only the creator of a new mutex can own it from the start.
  const ObjectFile::Request request{
      ObjectKind::kMutex, FileModeFor(attributes), 0,
      [initialOwner](ObjectPage& page) { return SetUpMutex(page, initialOwner != FALSE); }};
  return CreateObjectHandle<MutexObject>(name, request);
}

Handle OpenMutexA(DWORD, BOOL, const char* name) {
  return OpenObjectHandle<MutexObject>(name, ObjectKind::kMutex);
}

BOOL ReleaseMutex(const Handle& mutex) {
  auto* object = mutex.as<MutexObject>();
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return object->Release();
}

}  // namespace tgx
