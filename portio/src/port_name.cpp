#include "port_name.h"

#include <algorithm>

namespace tgx::portio {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool AllDigits(std::string_view text) { return std::all_of(text.begin(), text.end(), IsDigit); }

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ToUpper(x) == ToUpper(y);
         });
}

PlatformClass ClassifyPlatform(DWORD platformId, DWORD majorVersion) {
  if (platformId == kPlatformWin32Windows) {
    return majorVersion == 4 ? PlatformClass::kWin9x4 : PlatformClass::kOther;
  }
  if (platformId == kPlatformWin32Nt) {
    if (majorVersion <= 3) return PlatformClass::kOther;
    return majorVersion == 4 ? PlatformClass::kNt4 : PlatformClass::kNt5Plus;
  }
  return PlatformClass::kOther;
}

PortKind ClassifyPortName(std::string_view name, PlatformClass platform) {
  if (ParallelPortDigit(name)) return PortKind::kParallel;
  if (name.size() == 6 && StartsWithIgnoreCase(name, "USB") && AllDigits(name.substr(3))) {
    return PortKind::kUsb;
  }
  return IsNtClass(platform) ? PortKind::kNtMonitor : PortKind::k9xMonitor;
}

bool IsUsbPrnPort(std::string_view name) {
  return name.size() == 8 && StartsWithIgnoreCase(name, "USBPRN") && AllDigits(name.substr(6));
}

}  // namespace tgx::portio
