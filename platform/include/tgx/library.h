// Loading libraries by file name and finding modules' files (LoadLibraryA,
// GetProcAddress, FreeLibrary, GetModuleFileNameA).
//
// A library that the design names "name.dll" (or plain "name") is the shared
// object lib<name>.so. It is looked for first in the directory of the loading
// module (the program or shared library whose code makes the call), then by the
// normal dlopen search. A name holding a "/" is loaded from
// that path as given. Libraries are loaded with RTLD_NOW | RTLD_LOCAL, so a
// missing symbol shows at load time as it does on Windows.
#pragma once

#include <string>
#include <utility>

#include "tgx/win32.h"

namespace tgx {

// A loaded module (a dlopen handle). Null means the program itself where the
// Win32 call allows it (GetModuleFileNameA).
using HMODULE = struct ModuleOpaque*;
using FARPROC = void (*)();

namespace detail {
namespace {
// An address inside the module (program or shared library) whose code includes
// this header. As a default argument it is taken at the call site, so the
// calling module is known however the platform code itself is linked or shared.
inline const void* CallingModule() {
  static char anchor;
  return &anchor;
}
}  // namespace
}  // namespace detail

// Null on failure with the last error ERROR_MOD_NOT_FOUND (no such library) or
// ERROR_BAD_EXE_FORMAT (found but could not be loaded: not a library, missing
// dependency or symbol).
HMODULE LoadLibraryA(const char* fileName, const void* loader = detail::CallingModule());
// Null with ERROR_PROC_NOT_FOUND when the module exports no such name, or
// ERROR_INVALID_HANDLE for a null module. Lookups by ordinal are not supported.
FARPROC GetProcAddress(HMODULE module, const char* procName);
BOOL FreeLibrary(HMODULE module);

// The full path of a module's file (null: the running program), copied as
// Windows XP and later do: on success the length without the NUL; when the
// buffer is too small the path is cut to size - 1 characters plus the NUL, the
// result is size and the last error ERROR_INSUFFICIENT_BUFFER. 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size);

// The shared-object file name that a design library name stands for:
// "chanlibNT.dll" and "chanlibNT" give "libchanlibNT.so"; a name that already
// ends in ".so" or holds a "/" is returned unchanged.
std::string LibraryFileName(const char* name);

// The absolute path of the file of the module (program or shared library) whose
// code or data holds address; empty when unknown.
std::string ModulePathOf(const void* address);
// The directory of that module, without a final "/"; empty when unknown.
std::string ModuleDirectoryOf(const void* address);
// The "own directory" of the calling program or library.
inline std::string OwnModuleDirectory(const void* caller = detail::CallingModule()) {
  return ModuleDirectoryOf(caller);
}

// Owns a loaded library; frees it when destroyed.
class Module {
 public:
  Module() = default;
  explicit Module(HMODULE module) : module_(module) {}
  Module(Module&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
  Module& operator=(Module&& other) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  ~Module() { reset(); }

  // LoadLibraryA into a Module; empty on failure (last error set).
  static Module Load(const char* fileName, const void* loader = detail::CallingModule()) {
    return Module(LoadLibraryA(fileName, loader));
  }

  explicit operator bool() const { return module_ != nullptr; }
  HMODULE get() const { return module_; }
  HMODULE release() { return std::exchange(module_, nullptr); }
  void reset();

  // The exported function or object of that name as type T (a function pointer
  // or a pointer to data); null with the last error set when missing.
  template <class T>
  T Proc(const char* name) const {
    return reinterpret_cast<T>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_ = nullptr;
};

}  // namespace tgx
