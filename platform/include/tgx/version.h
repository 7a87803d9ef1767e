// The Windows version this system reports (GetVersionExA).
//
// Linux reports itself as the NT family, version 10.0. Tests move it with
// TGX_PLATFORM_VERSION="<platform id>.<major>.<minor>[.<build>]", for example
// "1.4.10" (Windows 98), "2.4.0" (NT 4.0), "2.3.51" (NT 3.51), "2.5.0" (Windows
// 2000), "0.3.10" (Win32s). A value that is not of that form makes GetVersionExA
// fail with ERROR_INVALID_DATA, so that the callers' failure branch can be run
// too. The variable is read on every call: whoever keeps a decision keeps it.
//
// The product suite that goes with a version (the "ProductSuite" value that NT
// 4.0 with Terminal Server carries) is not made up here: it is read from the
// registry store, value "ProductSuite" of the key
// "SYSTEM\CurrentControlSet\Control\ProductOptions" under HKEY_LOCAL_MACHINE,
// where tests write it.
#pragma once

#include "tgx/win32.h"

namespace tgx {

inline constexpr DWORD VER_PLATFORM_WIN32s = 0;
inline constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  char szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record keeps its Windows size");

// Fills the record; dwOSVersionInfoSize must be 148 on entry, else the call
// fails with ERROR_INSUFFICIENT_BUFFER. szCSDVersion is empty.
BOOL GetVersionExA(OSVERSIONINFOA* versionInfo);

}  // namespace tgx
