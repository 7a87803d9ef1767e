// Waiting on and closing handles of any kind.
#include "tgx/handle.h"

#include "kobj_spin.h"

namespace tgx {

DWORD KernelObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

DWORD WaitForSingleObject(const Handle& handle, DWORD milliseconds) {
  if (!handle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return handle.get()->Wait(milliseconds);
}

DWORD SpinThenWait(const Handle& handle, DWORD milliseconds) {
  DWORD result = WAIT_TIMEOUT;
  const auto looked = [&] {
    result = WaitForSingleObject(handle, 0);
    return result != WAIT_TIMEOUT;
  };
  if (milliseconds != 0 && kobj::SpinUntil(looked)) return result;
  return WaitForSingleObject(handle, milliseconds);
}

BOOL CloseHandle(Handle& handle) {
  if (!handle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  handle.reset();
  return TRUE;
}

}  // namespace tgx
