// The two builds of the channel library and its worker: for the NT family and
// for the 9x family. One source serves both; the few differences ask this.
#pragma once

namespace tgx::chanlib {

enum class Family { kNt, k9x };

}  // namespace tgx::chanlib
