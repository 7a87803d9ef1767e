// The outcome of one device or connection request, in Win32 terms.
#pragma once

#include <cstddef>

#include "tgx/win32.h"

namespace tgx::portio {

// error is ERROR_SUCCESS or the Win32 error; bytes is what moved either way. A
// request that hit its time-out is ERROR_OPERATION_ABORTED (a cancelled
// request), with whatever moved before it.
struct IoResult {
  DWORD error = ERROR_SUCCESS;
  std::size_t bytes = 0;
  bool ok() const { return error == ERROR_SUCCESS; }
};

}  // namespace tgx::portio
