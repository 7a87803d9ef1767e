// The simulator reads and writes every multi-byte field of its protocols
// through the wire's byte-order helpers, never by index arithmetic.
#pragma once

#include "tgx/wire/byte_order.h"

namespace printersim {
namespace wire = ::tgx::wire;
}  // namespace printersim
