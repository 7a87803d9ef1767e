// Loading libraries by design name, from the loader's own directory first.
#include "tgx/library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testsupport.h"

namespace tgx {
namespace {

namespace fs = std::filesystem;

using ProbeLoadFn = unsigned (*)(const char*);
using ProbeStartFn = unsigned (*)(const char*, unsigned*);

TEST(Library, MapsDesignNamesToSharedObjects) {
  EXPECT_EQ(LibraryFileName("chanlibNT.dll"), "libchanlibNT.so");
  EXPECT_EQ(LibraryFileName("portio.DLL"), "libportio.so");
  EXPECT_EQ(LibraryFileName("ppdtlib"), "libppdtlib.so");
  EXPECT_EQ(LibraryFileName("libx.so"), "libx.so");
  EXPECT_EQ(LibraryFileName("/opt/a.dll"), "/opt/a.dll");
}

TEST(Library, LoadsFromOwnDirectoryAndFindsExports) {
  Module module = Module::Load("platform_testlib_probe.dll");
  ASSERT_TRUE(module) << GetLastError();
  auto answer = module.Proc<int (*)()>("ProbeAnswer");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(module.Proc<int (*)()>("NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(module.get(), reinterpret_cast<const char*>(3)), nullptr);

  char path[512];
  ASSERT_GT(GetModuleFileNameA(module.get(), path, sizeof path), 0u);
  EXPECT_EQ(fs::path(path).filename(), "libplatform_testlib_probe.so");
}

TEST(Library, ReportsMissingAndBrokenLibraries) {
  EXPECT_EQ(LoadLibraryA("tgx_no_such_library.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryA(""), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  const fs::path dir = test::MakeTempDir("broken");
  std::ofstream(dir / "libbroken.so") << "not a library";
  EXPECT_EQ(LoadLibraryA((dir / "libbroken.so").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
  EXPECT_FALSE(FreeLibrary(nullptr));
}

// A library in a directory of its own finds the libraries and programs beside
// it, although neither the program's directory nor any search path holds them.
TEST(Library, LibrarySearchesItsOwnDirectory) {
  const fs::path dir = test::MakeTempDir("own");
  fs::copy_file(test::BinDir() / "libplatform_testlib_probe.so", dir / "libprobe_copy.so");
  fs::copy_file(test::BinDir() / "libplatform_testlib_probe.so", dir / "libprobe_twin.so");
  fs::copy_file(test::BinDir() / "platform_helper_proc", dir / "probe_twin_helper");

  Module module = Module::Load((dir / "libprobe_copy.so").c_str());
  ASSERT_TRUE(module) << GetLastError();
  EXPECT_EQ(ModuleDirectoryOf(reinterpret_cast<const void*>(module.Proc<int (*)()>("ProbeAnswer"))),
            fs::canonical(dir).string());

  auto load = module.Proc<ProbeLoadFn>("ProbeLoad");
  auto start = module.Proc<ProbeStartFn>("ProbeStart");
  ASSERT_TRUE(load && start);
  EXPECT_EQ(load("probe_twin.dll"), 0u);
  EXPECT_EQ(Module::Load("probe_twin.dll").get(), nullptr) << "not beside the test program";

  unsigned exitCode = 0;
  EXPECT_EQ(start("probe_twin_helper.exe exit 9", &exitCode), 0u);
  EXPECT_EQ(exitCode, 9u);
}

}  // namespace
}  // namespace tgx
