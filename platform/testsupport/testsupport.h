// Helpers shared by every test program (and the benchmarks that run the same
// set-ups): private directories per process and the location of the built
// programs. The test main calls MakeScratch before the first test.
#pragma once

#include <filesystem>
#include <string>

namespace tgx::test {

// Makes this process's scratch directory in `parent` and points
// TGX_RUNTIME_DIR, TGX_REGISTRY_DIR and TGX_DEVICE_ROOT below it; false when it
// cannot be made.
bool MakeScratch(const std::filesystem::path& parent = "/tmp");
// Removes the scratch directory (only in the process that made it).
void RemoveScratch();

// The directory that holds every built program, library and plug-in.
std::filesystem::path BinDir();

// The private scratch directory of this test process (removed at exit). The test
// main points TGX_RUNTIME_DIR, TGX_REGISTRY_DIR and TGX_DEVICE_ROOT below it.
std::filesystem::path ScratchDir();

// A fresh, empty directory below ScratchDir().
std::filesystem::path MakeTempDir(const std::string& prefix);

// Copies a built program or library from BinDir() into dir (as newName when
// given), with the platform library it loads beside it, so that the copy finds
// only what dir holds.
void CopyBuilt(const std::string& name, const std::filesystem::path& dir,
               const std::string& newName = "");

}  // namespace tgx::test
