// One open port, whatever its kind. Each kind implements the operations the way
// its device or monitor needs; the exported functions only dispatch.
#pragma once

#include <span>

#include "tgx/portio.h"
#include "tgx/win32.h"

namespace tgx::portio {

using CommTimeouts = VI1284_COMMTIMEOUTS;

// Every operation returns TRUE, or FALSE with the last error set. Counts are
// zeroed by the caller before the call.
class Port {
 public:
  virtual ~Port() = default;
  virtual BOOL Read(std::span<BYTE> buffer, DWORD* read) = 0;
  virtual BOOL Write(std::span<const BYTE> data, DWORD* written) = 0;
  virtual BOOL IoControl(DWORD code, std::span<const BYTE> input, std::span<BYTE> output,
                         DWORD* returned) = 0;
  virtual BOOL SetTimeouts(const CommTimeouts& timeouts) = 0;
  // Releases the port (the destructor does the same for a port never closed).
  virtual BOOL Close() = 0;
};

// Failure helper: sets the last error and returns FALSE.
inline BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace tgx::portio
