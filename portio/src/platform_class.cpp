#include "port_name.h"
#include "tgx/version.h"

namespace tgx::portio {

PlatformClass CurrentPlatformClass() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return PlatformClass::kOther;
  return ClassifyPlatform(version.dwPlatformId, version.dwMajorVersion);
}

}  // namespace tgx::portio
