// Test main: every test process gets its own runtime, registry and device
// directories, so that test cases run side by side without seeing each other's
// named objects, registry values or devices.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <system_error>

#include "testsupport.h"

namespace fs = std::filesystem;

namespace tgx::test {
namespace {
fs::path g_scratch;
std::atomic<unsigned> g_counter{0};
}  // namespace

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

namespace {

class ScratchEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    std::error_code ec;
    if (getpid() == owner_) fs::remove_all(tgx::test::g_scratch, ec);
  }
  pid_t owner_ = getpid();
};

void SetDefault(const char* name, const fs::path& value) {
  fs::create_directories(value);
  setenv(name, value.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  char pattern[] = "/tmp/tgx-test-XXXXXX";
  if (!mkdtemp(pattern)) return 2;
  tgx::test::g_scratch = pattern;
  SetDefault("TGX_RUNTIME_DIR", tgx::test::g_scratch / "run");
  SetDefault("TGX_REGISTRY_DIR", tgx::test::g_scratch / "registry");
  SetDefault("TGX_DEVICE_ROOT", tgx::test::g_scratch / "root");
  ::testing::AddGlobalTestEnvironment(new ScratchEnvironment);
  return RUN_ALL_TESTS();
}
