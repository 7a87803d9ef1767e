// Exclusive control: programs that drive one printer agree on a mutex name
// and take turns holding it. Independent of the port functions; works whether
// or not the library is initialised.
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

#include "tgx/kobj.h"
#include "tgx/named_objects.h"
#include "tgx/ppdt.h"

namespace tgx::ppdt {
namespace {

// The handles this process created, by value: a value that is not one of
// them is refused without being touched. Shared ownership keeps a mutex
// alive for a thread still waiting on it while another closes the handle.
class ExclusiveHandles {
 public:
  PPDT_EXCLUSIVE_HANDLE Add(Handle mutex) {
    auto record = std::make_shared<Handle>(std::move(mutex));
    std::lock_guard lock(lock_);
    PPDT_EXCLUSIVE_HANDLE value = record.get();
    handles_.emplace(value, std::move(record));
    return value;
  }
  std::shared_ptr<Handle> Find(PPDT_EXCLUSIVE_HANDLE value) {
    std::lock_guard lock(lock_);
    auto it = handles_.find(value);
    return it == handles_.end() ? nullptr : it->second;
  }
  bool Remove(PPDT_EXCLUSIVE_HANDLE value) {
    std::lock_guard lock(lock_);
    return handles_.erase(value) != 0;
  }

 private:
  std::mutex lock_;
  std::map<PPDT_EXCLUSIVE_HANDLE, std::shared_ptr<Handle>> handles_;
};

ExclusiveHandles g_exclusiveHandles;
// Set while this process holds an exclusive-control right: one flag for the
// process, whichever handle or thread took it.
std::atomic<bool> g_holdsRight{false};

}  // namespace
}  // namespace tgx::ppdt

using namespace tgx;
using namespace tgx::ppdt;

extern "C" {

PPDT_EXCLUSIVE_HANDLE PPDT_CreateExclusiveHandle(const char* name, uint32_t number) {
  char mutexName[512];
  const int length =
      std::snprintf(mutexName, sizeof mutexName, "%sQRS_PPDT1394_%s_%X",
                    IsTerminalServices() ? kGlobalPrefix : "", name ? name : "", number);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof mutexName) return nullptr;
  EveryoneSecurity security;
  Handle mutex = CreateMutexA(MakeEveryoneSecurityAttributes(security, kEveryoneMutexAccess), FALSE,
                              mutexName);
  if (!mutex) return nullptr;
  return g_exclusiveHandles.Add(std::move(mutex));
}

int32_t PPDT_CloseExclusiveHandle(PPDT_EXCLUSIVE_HANDLE exclusiveHandle) {
  if (!exclusiveHandle) return 0;
  return g_exclusiveHandles.Remove(exclusiveHandle) ? 1 : 0;
}

int32_t PPDT_AcquireExclusiveControlRight(PPDT_EXCLUSIVE_HANDLE exclusiveHandle) {
  if (!exclusiveHandle) return 0;
  const std::shared_ptr<Handle> mutex = g_exclusiveHandles.Find(exclusiveHandle);
  if (!mutex) return 0;
  const DWORD wait = WaitForSingleObject(*mutex, INFINITE);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return 0;
  g_holdsRight = true;
  return 1;
}

int32_t PPDT_ReleaseExclusiveControlRight(PPDT_EXCLUSIVE_HANDLE exclusiveHandle) {
  if (!exclusiveHandle) return 0;
  const std::shared_ptr<Handle> mutex = g_exclusiveHandles.Find(exclusiveHandle);
  if (!mutex) return 0;
  ReleaseMutex(*mutex);
  g_holdsRight = false;
  return 1;
}

int32_t PPDT_ConfirmContinuation(PPDT_EXCLUSIVE_HANDLE exclusiveHandle) {
  if (!exclusiveHandle) return 1;
  const std::shared_ptr<Handle> mutex = g_exclusiveHandles.Find(exclusiveHandle);
  if (!mutex) return 1;  // as a failed wait
  switch (WaitForSingleObject(*mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: ReleaseMutex(*mutex); return 1;
    case WAIT_TIMEOUT: return g_holdsRight ? 1 : 0;
    default: return 1;
  }
}

}  // extern "C"
