#include "port_lock.h"

#include <string>

#include "tgx/kobj.h"
#include "tgx/named_objects.h"

namespace tgx::portio {
namespace {

// Taken when the library is loaded, before any port is opened.
const bool g_globalNames = ProcessObjectNames().global();

}  // namespace

bool UseGlobalNames() { return g_globalNames; }

std::optional<PortLock> PortLock::Take(std::string_view portName, PlatformClass platform) {
  const std::string name =
      std::string(UseGlobalNames() ? kGlobalPrefix : "") + "NBLOCALT_" + std::string(portName);
  EveryoneSecurity storage;
  const SECURITY_ATTRIBUTES* attributes =
      IsNtClass(platform) ? MakeEveryoneSecurityAttributes(storage, kEveryoneMutexAccess) : nullptr;
  Handle mutex = CreateMutexA(attributes, FALSE, name.c_str());
  if (!mutex) return std::nullopt;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another opener holds the port: let go of our handle, keep the error.
    mutex.reset();
    SetLastError(ERROR_ALREADY_EXISTS);
    return std::nullopt;
  }
  return PortLock(std::move(mutex));
}

}  // namespace tgx::portio
