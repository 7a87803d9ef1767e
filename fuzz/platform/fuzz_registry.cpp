// Key files of any content (a damaged disk, a hand edit): reading, enumerating
// and updating the key give results or ERROR_REGISTRY_CORRUPT, never a crash or
// a result larger than the caller's buffer.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "tgx/registry.h"

namespace {

namespace fs = std::filesystem;

// A private store holding the key "Fuzz" under HKEY_LOCAL_MACHINE; removed at exit.
class Store {
 public:
  Store() {
    char pattern[] = "/tmp/tgx-fuzz-registry-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    dir_ = pattern;
    setenv("TGX_REGISTRY_DIR", pattern, 1);
    if (tgx::RegCreateKeyExA(tgx::HKEY_LOCAL_MACHINE, "Fuzz", 0, nullptr, 0, tgx::KEY_ALL_ACCESS,
                             nullptr, &key_, nullptr) != tgx::ERROR_SUCCESS) {
      std::abort();
    }
  }
  ~Store() {
    tgx::RegCloseKey(key_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  tgx::HKEY key() const { return key_; }
  fs::path file() const { return dir_ / "HKEY_LOCAL_MACHINE" / "fuzz" / "@values"; }

 private:
  fs::path dir_;
  tgx::HKEY key_{};
};

const Store& TheStore() {
  static const Store store;
  return store;
}

void CheckResult(tgx::LONG result, tgx::DWORD size, tgx::DWORD capacity) {
  if (result == tgx::ERROR_SUCCESS && size > capacity) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Store& store = TheStore();
  std::ofstream(store.file(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  tgx::BYTE buffer[64];
  tgx::DWORD length = sizeof buffer;
  CheckResult(tgx::RegQueryValueExA(store.key(), "a", nullptr, nullptr, buffer, &length), length,
              sizeof buffer);
  for (tgx::DWORD index = 0; index < 64; ++index) {
    char name[16];
    tgx::DWORD nameLength = sizeof name;
    length = sizeof buffer;
    const tgx::LONG result = tgx::RegEnumValueA(store.key(), index, name, &nameLength, nullptr,
                                                nullptr, buffer, &length);
    if (result == tgx::ERROR_NO_MORE_ITEMS || result == tgx::ERROR_REGISTRY_CORRUPT) break;
    CheckResult(result, length, sizeof buffer);
    CheckResult(result, nameLength + 1, sizeof name);
  }
  char name[16];
  tgx::DWORD nameLength = sizeof name;
  tgx::RegEnumKeyExA(tgx::HKEY_LOCAL_MACHINE, 0, name, &nameLength, nullptr, nullptr, nullptr,
                     nullptr);
  const tgx::DWORD value = 7;
  tgx::RegSetValueExA(store.key(), "b", 0, tgx::REG_DWORD,
                      reinterpret_cast<const tgx::BYTE*>(&value), sizeof value);
  return 0;
}
