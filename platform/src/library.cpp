// Libraries by file name, and the files of loaded modules.
#include "tgx/library.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

namespace tgx {
namespace {

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         std::equal(suffix.begin(), suffix.end(), text.end() - suffix.size(),
                    [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

std::string ProgramPath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

}  // namespace

std::string LibraryFileName(const char* name) {
  std::string_view text(name);
  if (text.find('/') != std::string_view::npos || EndsWithNoCase(text, ".so")) {
    return std::string(text);
  }
  if (EndsWithNoCase(text, ".dll")) text.remove_suffix(4);
  return "lib" + std::string(text) + ".so";
}

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) {
    return {};
  }
  // The main program's link map carries an empty name.
  if (!map->l_name || !*map->l_name) return ProgramPath();
  std::error_code error;
  std::filesystem::path path = std::filesystem::canonical(map->l_name, error);
  return error ? std::string(map->l_name) : path.string();
}

std::string ModuleDirectoryOf(const void* address) {
  const std::string path = ModulePathOf(address);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

HMODULE LoadLibraryA(const char* fileName, const void* loader) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string file = LibraryFileName(fileName);
  constexpr int kFlags = RTLD_NOW | RTLD_LOCAL;
  bool found = false;
  auto attempt = [&](const std::string& path) -> void* {
    if (path.find('/') != std::string::npos) {
      if (access(path.c_str(), F_OK) != 0) return nullptr;
      found = true;
    }
    void* handle = dlopen(path.c_str(), kFlags);
    if (handle) found = true;
    return handle;
  };
  void* handle = nullptr;
  if (file.find('/') != std::string::npos) {
    handle = attempt(file);
  } else {
    const std::string own = ModuleDirectoryOf(loader);
    if (!own.empty()) handle = attempt(own + "/" + file);
    if (!handle && !found) handle = attempt(file);
  }
  if (!handle) {
    SetLastError(found ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // An "ordinal" is a small integer passed where the name goes.
  if (reinterpret_cast<std::uintptr_t>(procName) <= 0xFFFF) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(module, procName);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
  if (!module || dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) {
  std::string path;
  if (!module) {
    path = ProgramPath();
  } else {
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map) {
      path = (map->l_name && *map->l_name) ? map->l_name : ProgramPath();
    }
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (!fileName || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(fileName, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    reset();
    module_ = std::exchange(other.module_, nullptr);
  }
  return *this;
}

void Module::reset() {
  if (module_) FreeLibrary(std::exchange(module_, nullptr));
}

}  // namespace tgx
