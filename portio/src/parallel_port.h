// Parallel printer ports ("LPT" + digit): /dev/lp<digit-1>, opened with the
// access the caller asks for, so that a port refusing reads still opens for
// writing alone.
#pragma once

#include <memory>
#include <string_view>

#include "port.h"

namespace tgx::portio {

// access: VI1284_GENERIC_READ and/or VI1284_GENERIC_WRITE.
std::unique_ptr<Port> OpenParallelPort(std::string_view name, DWORD access);

}  // namespace tgx::portio
