#include "testsupport.h"

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace tgx::test {
namespace {

fs::path g_scratch;
pid_t g_owner = 0;
std::atomic<unsigned> g_counter{0};

void SetDefault(const char* name, const fs::path& value) {
  fs::create_directories(value);
  setenv(name, value.c_str(), 1);
}

}  // namespace

bool MakeScratch(const fs::path& parent) {
  std::string pattern = (parent / "tgx-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return false;
  g_scratch = pattern;
  g_owner = getpid();
  SetDefault("TGX_RUNTIME_DIR", g_scratch / "run");
  SetDefault("TGX_REGISTRY_DIR", g_scratch / "registry");
  SetDefault("TGX_DEVICE_ROOT", g_scratch / "root");
  return true;
}

void RemoveScratch() {
  // A forked child that returns through the same path leaves the directory alone.
  if (g_scratch.empty() || getpid() != g_owner) return;
  std::error_code ec;
  fs::remove_all(g_scratch, ec);
}

fs::path BinDir() {
  if (const char* dir = std::getenv("TGX_BIN_DIR"); dir && *dir) return dir;
  return fs::read_symlink("/proc/self/exe").parent_path();
}

fs::path ScratchDir() { return g_scratch; }

fs::path MakeTempDir(const std::string& prefix) {
  fs::path dir = g_scratch / (prefix + "-" + std::to_string(g_counter++));
  fs::create_directories(dir);
  return dir;
}

void CopyBuilt(const std::string& name, const fs::path& dir, const std::string& newName) {
  fs::copy_file(BinDir() / name, dir / (newName.empty() ? name : newName));
  const char* platform = "libtgx_platform.so";
  if (!fs::exists(dir / platform)) fs::copy_file(BinDir() / platform, dir / platform);
}

}  // namespace tgx::test
