// The rules every process follows for the named kernel objects it shares: which
// form of an object's name to use (local or "Global\"), the Everyone security
// attributes of created objects, and how a named mutex is taken and given back.
#pragma once

#include <cstddef>

#include "tgx/handle.h"
#include "tgx/security.h"
#include "tgx/win32.h"

namespace tgx {

inline constexpr char kGlobalPrefix[] = "Global\\";

// Access masks of the Everyone ACE by kind of object.
inline constexpr DWORD kEveryoneEventAccess = 0x001F0003;
inline constexpr DWORD kEveryoneMutexAccess = 0x001F0001;
inline constexpr DWORD kEveryoneMappingAccess = 0x000F001F;
inline constexpr DWORD kEveryonePortTableAccess = 0x001F001F;
inline constexpr DWORD kEveryoneProcessAccess = 0x001F0FFF;

// --- The name form, first form (channel and port libraries, workers, 1394) ---

// True on Terminal Services systems: NT family with major version 5 or more, or
// NT 4.0 whose "ProductSuite" begins with "Terminal" in any case. False when the
// version cannot be read, on the 9x family, Win32s and NT 3.x.
bool IsTerminalServices();

// The choice between the two forms of every object name, taken once and kept:
// one per process or library load (ProcessObjectNames), written before the
// first named object is touched.
class ObjectNameForm {
 public:
  // Decides now, with IsTerminalServices().
  ObjectNameForm() : global_(IsTerminalServices()) {}
  explicit ObjectNameForm(bool global) : global_(global) {}

  bool global() const { return global_; }
  // One of the two literals stored side by side for an object.
  const char* Select(const char* localName, const char* globalName) const {
    return global_ ? globalName : localName;
  }

 private:
  bool global_;
};

// The form of this process (or of this library load: every module that links
// this library keeps its own), decided at the first call.
const ObjectNameForm& ProcessObjectNames();

// --- The name form, second form (agent service and its client library) ---

// The class of a Windows version: 1 Win32s; 2, 3, 4 the 9x family with minor
// version 0, 10, 90, 5 another 9x; 6 NT 3.51; 7 NT 4.0; 8, 9, 10 NT 5.0, 5.1,
// 5.2; 10 NT with a major version other than 3, 4, 5; 11 any other NT version;
// 0 when the version cannot be read or the platform is unknown.
int ClassifyWindowsVersion();

// Builds object names for one version class. A class below 8 looks in
// "ProductSuite" (REG_MULTI_SZ) for an entry exactly "Terminal Server".
class ObjectNamer {
 public:
  // Classifies the running version now and looks at the product suite.
  ObjectNamer();
  explicit ObjectNamer(int versionClass);

  bool global() const { return global_; }
  // "Global\" + base, or base unchanged, into out (outSize bytes with the NUL).
  // False, with out untouched, when out or base is missing or empty, or the
  // name does not fit.
  bool Make(char* out, std::size_t outSize, const char* base) const;

 private:
  bool global_;
};

// ObjectNamer of this process, classified once at the first call.
bool MakeObjectName(char* out, std::size_t outSize, const char* base);

template <std::size_t N>
bool MakeObjectName(char (&out)[N], const char* base) {
  return MakeObjectName(out, N, base);
}

// --- Security attributes ---

// The storage of Everyone security attributes; the caller owns it and keeps it
// alive until the create call that uses the attributes has returned.
// It points into itself, so it is never copied.
struct EveryoneSecurity {
  EveryoneSecurity() = default;
  EveryoneSecurity(const EveryoneSecurity&) = delete;
  EveryoneSecurity& operator=(const EveryoneSecurity&) = delete;

  SECURITY_ATTRIBUTES attributes;
  SECURITY_DESCRIPTOR descriptor;
  SID everyone;
  alignas(DWORD) BYTE aclBuffer[1024];
};

// Fills storage: length 12, not inheritable, a descriptor whose present, not
// defaulted ACL holds one access-allowed ACE for Everyone with mask. Returns
// the attributes, or null (default security) when any step fails: a failure is
// not an error, the object is then created with default security.
const SECURITY_ATTRIBUTES* MakeEveryoneSecurityAttributes(EveryoneSecurity& storage, DWORD mask);

// --- Taking a named mutex ---

// Holds a named mutex: waits for it without limit; a mutex found abandoned (its
// holder died) counts as taken. Released exactly once: by Unlock or when the
// lock is destroyed, on every path. The handle must outlive the lock.
class NamedMutexLock {
 public:
  explicit NamedMutexLock(const Handle& mutex);
  ~NamedMutexLock() { Unlock(); }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

  // False when the wait failed (no such mutex): nothing is held.
  bool owns() const { return mutex_ != nullptr; }
  explicit operator bool() const { return owns(); }
  // The previous holder died holding the mutex: what it guarded may be half
  // written.
  bool abandoned() const { return abandoned_; }
  void Unlock();

 private:
  const Handle* mutex_ = nullptr;
  bool abandoned_ = false;
};

}  // namespace tgx
