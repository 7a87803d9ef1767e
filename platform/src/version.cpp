// The reported Windows version: NT 10.0, or what TGX_PLATFORM_VERSION says.
#include "tgx/version.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tgx {
namespace {

struct ReportedVersion {
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  DWORD major = 10;
  DWORD minor = 0;
  DWORD build = 0;
};

// "<platform id>.<major>.<minor>[.<build>]", each part a decimal number.
bool ParseVersion(std::string_view text, ReportedVersion& version) {
  DWORD parts[4] = {};
  std::size_t count = 0;
  const char* cursor = text.data();
  const char* const end = text.data() + text.size();
  while (count < 4) {
    auto [next, error] = std::from_chars(cursor, end, parts[count]);
    if (error != std::errc() || next == cursor) return false;
    ++count;
    cursor = next;
    if (cursor == end) break;
    if (*cursor != '.') return false;
    ++cursor;
  }
  if (cursor != end || count < 3 || parts[0] > VER_PLATFORM_WIN32_NT) return false;
  version = ReportedVersion{parts[0], parts[1], parts[2], parts[3]};
  return true;
}

}  // namespace

BOOL GetVersionExA(OSVERSIONINFOA* versionInfo) {
  if (!versionInfo || versionInfo->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  ReportedVersion version;
  if (const char* text = std::getenv("TGX_PLATFORM_VERSION"); text && *text) {
    if (!ParseVersion(text, version)) {
      SetLastError(ERROR_INVALID_DATA);
      return FALSE;
    }
  }
  versionInfo->dwMajorVersion = version.major;
  versionInfo->dwMinorVersion = version.minor;
  versionInfo->dwBuildNumber = version.build;
  versionInfo->dwPlatformId = version.platformId;
  std::memset(versionInfo->szCSDVersion, 0, sizeof(versionInfo->szCSDVersion));
  return TRUE;
}

}  // namespace tgx
