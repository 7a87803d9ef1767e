// The registry: a store of keys and values in $TGX_REGISTRY_DIR (default
// /var/lib/tgx/registry), with the Win32 calls and their error codes.
//
// Keys are found without regard to ASCII case and keep the case they were
// created with. HKEY_LOCAL_MACHINE is shared by the whole system; HKEY_CURRENT_USER
// is one tree per user. Key paths use "\" between names; an empty name inside a
// path ("a\\b", a leading "\") is refused with ERROR_BAD_PATHNAME, a name longer
// than 255 characters with ERROR_INVALID_PARAMETER. Any other character is
// allowed: names are escaped on disk, so no key name reaches outside the store.
//
// Every update is atomic and survives a crash: the key's file is written whole
// beside the old one, flushed and renamed over it, so a writer killed at any
// moment leaves the old or the new contents. Writers in every process are
// serialised by a lock on the store, and each update reads the key afresh under
// it, so concurrent updates of one key lose nothing. Readers take no lock.
//
// Results are Win32 error codes (as LONG): ERROR_SUCCESS, ERROR_FILE_NOT_FOUND
// (no such key or value), ERROR_ACCESS_DENIED (the handle lacks the right, or a
// key to delete has subkeys), ERROR_INVALID_HANDLE, ERROR_KEY_DELETED (the key
// was deleted while open), ERROR_MORE_DATA (buffer too small), ERROR_NO_MORE_ITEMS
// (enumeration done), ERROR_REGISTRY_CORRUPT (a key file that cannot be read),
// ERROR_INVALID_PARAMETER, or the nearest code of a system error.
#pragma once

#include <cstdint>
#include <utility>

#include "tgx/security.h"
#include "tgx/win32.h"

namespace tgx {

// A key handle: one of the predefined roots, or a key opened by RegOpenKeyExA or
// RegCreateKeyExA (close it with RegCloseKey, or own it with RegKey).
enum class HKEY : std::uintptr_t {};
inline constexpr HKEY HKEY_CLASSES_ROOT{0x80000000u};
inline constexpr HKEY HKEY_CURRENT_USER{0x80000001u};
inline constexpr HKEY HKEY_LOCAL_MACHINE{0x80000002u};
inline constexpr HKEY HKEY_USERS{0x80000003u};

using REGSAM = DWORD;
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Largest value data the store takes (ERROR_INVALID_PARAMETER above it).
inline constexpr DWORD kMaxRegistryValueSize = 1 << 20;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// Opens an existing key below key (subKey null or empty: the key itself again).
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM desired, HKEY* result);
// Opens or creates the key, creating missing keys along the path; disposition
// (optional) tells which. className and attributes are accepted for shape only.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, const char* className,
                     DWORD options, REGSAM desired, const SECURITY_ATTRIBUTES* attributes,
                     HKEY* result, DWORD* disposition);
LONG RegCloseKey(HKEY key);

// Reads a value (name null or empty: the key's default value). With data null,
// *size receives the value's size. With a buffer smaller than the value: nothing
// is copied, *size receives the size needed, ERROR_MORE_DATA. Otherwise the data
// is copied as stored and *size set to its size. type (optional) receives the
// type. data without size is ERROR_INVALID_PARAMETER.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
// Stores size bytes of data as the value (created or replaced), exactly as
// given: a REG_SZ should include its terminating NUL, a REG_MULTI_SZ its two.
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegDeleteValueA(HKEY key, const char* valueName);
// Deletes a key that has no subkeys (one with subkeys: ERROR_ACCESS_DENIED).
LONG RegDeleteKeyA(HKEY key, const char* subKey);

// The index-th value, in the order the values were first set. *nameSize holds
// the name buffer's size in characters on entry and the name's length without
// its NUL on return; a name that does not fit gives ERROR_MORE_DATA. data and
// dataSize follow RegQueryValueExA.
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* dataSize);
// The index-th subkey, in case-insensitive name order; sizes as RegEnumValueA.
// className and lastWrite (optional) receive an empty class and the time of the
// key's last update.
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                   char* className, DWORD* classSize, FILETIME* lastWrite);
// Every update is already on disk when its call returns; this only checks the key.
LONG RegFlushKey(HKEY key);

// Owns an open key; closes it when destroyed.
class RegKey {
 public:
  RegKey() = default;
  explicit RegKey(HKEY key) : key_(key), open_(true) {}
  RegKey(RegKey&& other) noexcept : key_(other.key_), open_(std::exchange(other.open_, false)) {}
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() { reset(); }

  // RegOpenKeyExA / RegCreateKeyExA into *this; the result code as the call's.
  LONG Open(HKEY parent, const char* subKey, REGSAM desired);
  LONG Create(HKEY parent, const char* subKey, REGSAM desired, DWORD* disposition = nullptr);

  explicit operator bool() const { return open_; }
  HKEY get() const { return key_; }
  void reset();

 private:
  HKEY key_{};
  bool open_ = false;
};

}  // namespace tgx
