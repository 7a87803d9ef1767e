// The name form, the Everyone security attributes and the named-mutex lock.
#include "tgx/named_objects.h"

#include <strings.h>

#include <cstring>
#include <utility>
#include <vector>

#include "tgx/kobj.h"
#include "tgx/registry.h"
#include "tgx/version.h"

namespace tgx {
namespace {

constexpr char kProductOptionsKey[] = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr char kProductSuiteValue[] = "ProductSuite";

// The version record, or false when it cannot be read.
bool ReadVersion(OSVERSIONINFOA& version) {
  version = OSVERSIONINFOA{};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) != FALSE;
}

// First form: the first text of "ProductSuite", read into 256 bytes that start
// as an empty string, begins with "Terminal" in any case.
bool SuiteBeginsWithTerminal() {
  constexpr char kTerminal[] = "Terminal";
  char suite[256] = "";
  RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kProductOptionsKey, KEY_QUERY_VALUE) == ERROR_SUCCESS) {
    DWORD size = sizeof suite;
    if (RegQueryValueExA(key.get(), kProductSuiteValue, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(suite), &size) != ERROR_SUCCESS) {
      suite[0] = '\0';
    }
  }
  suite[sizeof suite - 1] = '\0';
  suite[sizeof kTerminal - 1] = '\0';
  return strcasecmp(suite, kTerminal) == 0;
}

// Second form: some entry of "ProductSuite" (REG_MULTI_SZ, read whole) is
// exactly "Terminal Server".
bool SuiteListsTerminalServer() {
  RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kProductOptionsKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), kProductSuiteValue, nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      type != REG_MULTI_SZ || size == 0) {
    return false;
  }
  std::vector<char> suite(size + 2, '\0');  // Two spare NULs end even a cut list.
  if (RegQueryValueExA(key.get(), kProductSuiteValue, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(suite.data()), &size) != ERROR_SUCCESS) {
    return false;
  }
  for (const char* entry = suite.data(); *entry; entry += std::strlen(entry) + 1) {
    if (std::strcmp(entry, "Terminal Server") == 0) return true;
  }
  return false;
}

int ClassifyNt(DWORD major, DWORD minor) {
  if (major == 3) return minor == 51 ? 6 : 11;
  if (major == 4) return minor == 0 ? 7 : 11;
  if (major == 5) {
    switch (minor) {
      case 0: return 8;
      case 1: return 9;
      case 2: return 10;
      default: return 11;
    }
  }
  return 10;
}

int Classify9x(DWORD minor) {
  switch (minor) {
    case 0: return 2;
    case 10: return 3;
    case 90: return 4;
    default: return 5;
  }
}

}  // namespace

bool IsTerminalServices() {
  OSVERSIONINFOA version;
  if (!ReadVersion(version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT ||
      version.dwMajorVersion <= 3) {
    return false;
  }
  if (version.dwMajorVersion >= 5) return true;
  return SuiteBeginsWithTerminal();
}

const ObjectNameForm& ProcessObjectNames() {
  static const ObjectNameForm form;
  return form;
}

int ClassifyWindowsVersion() {
  OSVERSIONINFOA version;
  if (!ReadVersion(version)) return 0;
  switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32s: return 1;
    case VER_PLATFORM_WIN32_WINDOWS: return Classify9x(version.dwMinorVersion);
    case VER_PLATFORM_WIN32_NT: return ClassifyNt(version.dwMajorVersion, version.dwMinorVersion);
    default: return 0;
  }
}

ObjectNamer::ObjectNamer() : ObjectNamer(ClassifyWindowsVersion()) {}

ObjectNamer::ObjectNamer(int versionClass)
    : global_(versionClass >= 8 || SuiteListsTerminalServer()) {}

bool ObjectNamer::Make(char* out, std::size_t outSize, const char* base) const {
  if (!out || outSize == 0 || !base || !*base) return false;
  const std::size_t prefix = global_ ? sizeof kGlobalPrefix - 1 : 0;
  const std::size_t length = std::strlen(base);
  if (prefix + length + 1 > outSize) return false;
  std::memcpy(out, kGlobalPrefix, prefix);
  std::memcpy(out + prefix, base, length + 1);
  return true;
}

bool MakeObjectName(char* out, std::size_t outSize, const char* base) {
  static const ObjectNamer namer;
  return namer.Make(out, outSize, base);
}

const SECURITY_ATTRIBUTES* MakeEveryoneSecurityAttributes(EveryoneSecurity& storage, DWORD mask) {
  auto* acl = reinterpret_cast<ACL*>(storage.aclBuffer);
  if (!InitializeSecurityDescriptor(&storage.descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !InitializeAcl(acl, sizeof storage.aclBuffer, ACL_REVISION) ||
      !InitializeSid(&storage.everyone, &SECURITY_WORLD_SID_AUTHORITY, 1)) {
    return nullptr;
  }
  *GetSidSubAuthority(&storage.everyone, 0) = SECURITY_WORLD_RID;
  if (!AddAccessAllowedAce(acl, ACL_REVISION, mask, &storage.everyone) ||
      !SetSecurityDescriptorDacl(&storage.descriptor, TRUE, acl, FALSE)) {
    return nullptr;
  }
  storage.attributes.nLength = 12;
  storage.attributes.lpSecurityDescriptor = &storage.descriptor;
  storage.attributes.bInheritHandle = FALSE;
  return &storage.attributes;
}

NamedMutexLock::NamedMutexLock(const Handle& mutex) {
  const DWORD result = WaitForSingleObject(mutex, INFINITE);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
    mutex_ = &mutex;
    abandoned_ = result == WAIT_ABANDONED;
  }
}

void NamedMutexLock::Unlock() {
  if (const Handle* mutex = std::exchange(mutex_, nullptr)) ReleaseMutex(*mutex);
}

}  // namespace tgx
