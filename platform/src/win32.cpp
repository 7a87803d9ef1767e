// Last error, errno mapping, ticks and sleeping.
#include "tgx/win32.h"

#include <errno.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace tgx {
namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

DWORD Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY: return ERROR_BUSY;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ENODEV:
    case ENXIO: return ERROR_DEVICE_NOT_CONNECTED;
    case EIO: return ERROR_GEN_FAILURE;
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case ECANCELED: return ERROR_OPERATION_ABORTED;
    case EFAULT: return ERROR_NOACCESS;
    case ENOSPC: return ERROR_CANTWRITE;
    default: return ERROR_GEN_FAILURE;
  }
}

DWORD SetLastErrorFromErrno() {
  const DWORD error = Win32ErrorFromErrno(errno);
  SetLastError(error);
  return error;
}

DWORD GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<unsigned long long>(now.tv_sec) * 1000ull +
                  static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
  return static_cast<DWORD>(ms);
}

void Sleep(DWORD milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

namespace {

// The process id, asked of the kernel once per process: event waits and
// signals need it on every call. A child of fork learns its own at once.
std::atomic<pid_t> g_processId{0};

pid_t CachedProcessId() {
  pid_t id = g_processId.load(std::memory_order_relaxed);
  if (id != 0) return id;
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, [] { g_processId.store(getpid()); });
    return true;
  }();
  (void)registered;
  id = getpid();
  g_processId.store(id, std::memory_order_relaxed);
  return id;
}

}  // namespace

DWORD GetCurrentProcessId() { return static_cast<DWORD>(CachedProcessId()); }
DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }

DWORD ScaledTimeout(DWORD milliseconds) {
  if (milliseconds == INFINITE) return INFINITE;
  static const DWORD divisor = [] {
    const char* text = std::getenv("TGX_TIMEOUT_DIVISOR");
    if (!text || !*text) return DWORD{1};
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return (*end == '\0' && value >= 1 && value <= 100000) ? static_cast<DWORD>(value) : DWORD{1};
  }();
  return milliseconds / divisor;
}

}  // namespace tgx
