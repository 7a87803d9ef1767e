// What a port name denotes, and which family of system the library runs as.
#pragma once

#include <optional>
#include <string_view>

#include "tgx/port_name.h"
#include "tgx/win32.h"

namespace tgx::portio {

// The system classes the library distinguishes (PlatformClass): they decide how
// a monitor port is reached and how the exclusive-use lock is secured.
enum class PlatformClass : int {
  kOther = 0,    // 9x other than 4.x, NT 3.x and older, unknown platforms
  kWin9x4 = 1,   // 9x family, major version 4
  kNt4 = 2,      // NT 4
  kNt5Plus = 3,  // NT 5 and later
};

// GetVersionExA's platform identifiers.
inline constexpr DWORD kPlatformWin32Windows = 1;
inline constexpr DWORD kPlatformWin32Nt = 2;

PlatformClass ClassifyPlatform(DWORD platformId, DWORD majorVersion);
// The class of the running system, asked on every open (tests override the
// reported version).
PlatformClass CurrentPlatformClass();

inline bool IsNtClass(PlatformClass c) {
  return c == PlatformClass::kNt4 || c == PlatformClass::kNt5Plus;
}

enum class PortKind { kParallel, kUsb, kNtMonitor, k9xMonitor };

// "LPT" (any case), one digit, then ":" or the end: parallel. "USB" (any case)
// and exactly three digits: USB. Anything else: the monitor kind of the class.
PortKind ClassifyPortName(std::string_view name, PlatformClass platform);

// The digit of a parallel port name ("LPT3:" gives 3).
using ::tgx::ParallelPortDigit;

// "USBPRN" in any case followed by two digits: the 9x USB printer ports.
bool IsUsbPrnPort(std::string_view name);

// Case-insensitive comparison of ASCII names.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace tgx::portio
