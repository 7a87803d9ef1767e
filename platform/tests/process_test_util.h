// Small helpers of the multi-process tests: starting the helper program and
// waiting for the files it writes.
#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "testsupport.h"
#include "tgx/process.h"

namespace tgx::test {

inline constexpr char kHelper[] = "platform_helper_proc";

// Starts the helper program (by full path) with arguments; empty on failure.
inline Handle StartHelper(const std::string& arguments, DWORD flags = 0) {
  const std::string command = (BinDir() / kHelper).string() + " " + arguments;
  PROCESS_INFORMATION info;
  if (!CreateProcessA(nullptr, command.c_str(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                      nullptr, &info)) {
    return Handle();
  }
  return std::move(info.hProcess);
}

// Waits for a process and returns its exit code (nothing if it did not end).
inline std::optional<DWORD> ExitCodeAfter(const Handle& process, DWORD milliseconds) {
  if (WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return std::nullopt;
  return code;
}

// The file's text once it exists (the helper writes files whole), or nothing
// after the time-out.
inline std::optional<std::string> WaitForFile(const std::filesystem::path& path,
                                              DWORD milliseconds = 10000) {
  const DWORD start = GetTickCount();
  while (!std::filesystem::exists(path)) {
    if (GetTickCount() - start > milliseconds) return std::nullopt;
    Sleep(10);
  }
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace tgx::test
