// Waiting on and closing handles of any kind.
#include "tgx/handle.h"

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

BOOL CloseHandle(Handle& handle) {
  if (!handle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  handle.reset();
  return TRUE;
}

}  // namespace tgx
