// Time-out arithmetic shared by the device kinds.
#pragma once

#include <cstddef>

#include "tgx/win32.h"

namespace tgx::portio {

// A total time-out: constant + count × multiplier ms, saturating at INFINITE.
inline DWORD TotalTimeout(DWORD constant, DWORD multiplier, std::size_t count) {
  const unsigned long long total = constant + static_cast<unsigned long long>(multiplier) * count;
  return total >= INFINITE ? INFINITE : static_cast<DWORD>(total);
}

}  // namespace tgx::portio
