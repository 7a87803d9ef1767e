// Processes: search order, exit codes, waits, termination, detaching, reaping.
#include "tgx/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "process_test_util.h"
#include "testsupport.h"
#include "tgx/library.h"

namespace tgx {
namespace {

namespace fs = std::filesystem;
using test::ExitCodeAfter;
using test::StartHelper;
using test::WaitForFile;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

BOOL Start(const std::string& commandLine, PROCESS_INFORMATION& info, DWORD flags = 0) {
  return CreateProcessA(nullptr, commandLine.c_str(), nullptr, nullptr, FALSE, flags, nullptr,
                        nullptr, nullptr, &info);
}

// A zombie shows as state "Z" in /proc/<pid>/stat; a reaped process is gone.
bool IsGoneOrRunning(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  if (text.empty()) return true;
  const std::size_t close = text.rfind(')');
  return close == std::string::npos || text.substr(close + 2, 1) != "Z";
}

TEST(CommandLine, SplitsByWindowsRules) {
  EXPECT_EQ(SplitCommandLine("  prog.exe  -LPT_INDEX=2 "),
            (std::vector<std::string>{"prog.exe", "-LPT_INDEX=2"}));
  EXPECT_EQ(SplitCommandLine(R"("C:\dir with space\p.exe" "a b" c"d e"f)"),
            (std::vector<std::string>{R"(C:\dir with space\p.exe)", "a b", "cd ef"}));
  EXPECT_EQ(SplitCommandLine(R"(p a\\\"b c\\"d e" f\\g)"),
            (std::vector<std::string>{"p", R"(a\"b)", R"(c\d e)", R"(f\\g)"}));
  EXPECT_EQ(SplitCommandLine(R"(p "say ""hi""")"), (std::vector<std::string>{"p", R"(say "hi")"}));
  EXPECT_EQ(SplitCommandLine(R"(p "")"), (std::vector<std::string>{"p", ""}));
  EXPECT_TRUE(SplitCommandLine(" \t ").empty());
}

TEST(Process, FindsProgramInOwnDirectoryBeforePath) {
  // The test program lives beside the helper; PATH holds nothing useful.
  ScopedEnv path("PATH", test::MakeTempDir("empty-path").string());
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start("platform_helper_proc.exe exit 7", info)) << GetLastError();
  EXPECT_NE(info.dwProcessId, 0u);
  EXPECT_EQ(GetProcessId(info.hProcess), info.dwProcessId);
  EXPECT_EQ(ExitCodeAfter(info.hProcess, 10000), 7u);
}

TEST(Process, SearchesPathAndReportsMissingPrograms) {
  const fs::path dir = test::MakeTempDir("path");
  fs::copy_file(test::BinDir() / test::kHelper, dir / "tgx_path_only_probe");
  ScopedEnv path("PATH", "/nonexistent:" + dir.string());
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start("tgx_path_only_probe exit 3", info)) << GetLastError();
  EXPECT_EQ(ExitCodeAfter(info.hProcess, 10000), 3u);

  EXPECT_FALSE(Start("tgx_no_such_program_anywhere", info));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(info.hProcess);
  EXPECT_FALSE(Start("   ", info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // A file that is found but cannot be run.
  std::ofstream(dir / "tgx_not_executable") << "data";
  chmod((dir / "tgx_not_executable").c_str(), 0644);
  EXPECT_FALSE(Start("tgx_not_executable", info));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(Process, PassesArgumentsAndApplicationName) {
  const fs::path out = test::MakeTempDir("argv") / "args";
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start("platform_helper_proc argv " + out.string() + R"( "a b" c\"d "")", info));
  EXPECT_EQ(ExitCodeAfter(info.hProcess, 10000), 0u);
  EXPECT_EQ(WaitForFile(out), "a b\nc\"d\n\n");

  // With an application name the command line is all arguments, argv[0] too.
  const fs::path out2 = out.parent_path() / "args2";
  const std::string program = (test::BinDir() / test::kHelper).string();
  ASSERT_TRUE(CreateProcessA(program.c_str(), ("x argv " + out2.string() + " z").c_str(), nullptr,
                             nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info));
  EXPECT_EQ(ExitCodeAfter(info.hProcess, 10000), 0u);
  EXPECT_EQ(WaitForFile(out2), "z\n");
}

TEST(Process, WaitTimesOutThenTerminateSetsExitCode) {
  Handle process = StartHelper("sleep 20000 0");
  ASSERT_TRUE(process);
  EXPECT_EQ(WaitForSingleObject(process, 50), WAIT_TIMEOUT);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  ASSERT_TRUE(TerminateProcess(process, 42));
  EXPECT_EQ(ExitCodeAfter(process, 10000), 42u);
  // Already ended: nothing to terminate.
  EXPECT_FALSE(TerminateProcess(process, 1));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(Process, ProcessCallsRefuseOtherHandles) {
  Handle none;
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeProcess(none, &code));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(TerminateProcess(none, 0));
  EXPECT_EQ(GetProcessId(none), 0u);
}

TEST(Process, DetachedProcessHasOwnSessionAndNullStreams) {
  const fs::path out = test::MakeTempDir("session") / "session";
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start("platform_helper_proc session " + out.string(), info, DETACHED_PROCESS));
  EXPECT_EQ(ExitCodeAfter(info.hProcess, 10000), 0u);
  const std::optional<std::string> text = WaitForFile(out);
  ASSERT_TRUE(text);
  std::istringstream words(*text);
  long sid = 0, pid = 0;
  int devNull = 0;
  words >> sid >> pid >> devNull;
  EXPECT_EQ(sid, pid) << "leads a session of its own";
  EXPECT_EQ(pid, static_cast<long>(info.dwProcessId));
  EXPECT_EQ(devNull, 1);
}

TEST(Process, DetachedProcessOutlivesItsStarter) {
  const fs::path out = test::MakeTempDir("late") / "late";
  Handle starter = StartHelper("start-detached " + out.string() + " 300");
  ASSERT_TRUE(starter);
  ASSERT_EQ(ExitCodeAfter(starter, 10000), 0u);
  // The starter is gone; the detached process still writes its file later.
  const std::optional<std::string> parent = WaitForFile(out);
  ASSERT_TRUE(parent);
  EXPECT_NE(*parent, std::to_string(GetProcessId(starter)));
}

TEST(Process, ClosedHandleLeavesNoZombie) {
  PROCESS_INFORMATION info;
  ASSERT_TRUE(Start("platform_helper_proc sleep 100 0", info));
  const pid_t pid = static_cast<pid_t>(info.dwProcessId);
  info.hProcess.reset();  // Closed while the process still runs.
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 10000 && kill(pid, 0) == 0) Sleep(20);
  EXPECT_NE(kill(pid, 0), 0) << "the ended process was reaped";
  EXPECT_TRUE(IsGoneOrRunning(pid));
}

TEST(Process, SeesEndOfProcessKilledBySignal) {
  Handle process = StartHelper("sleep 20000 0");
  ASSERT_TRUE(process);
  kill(static_cast<pid_t>(GetProcessId(process)), SIGTERM);
  EXPECT_EQ(ExitCodeAfter(process, 10000), 128u + SIGTERM);
}

TEST(Module, ReportsProgramFileAndCutsToBuffer) {
  char path[512];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(std::string(path), fs::read_symlink("/proc/self/exe").string());
  EXPECT_EQ(OwnModuleDirectory(), fs::read_symlink("/proc/self/exe").parent_path().string());

  char small[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), std::string(path, 4));
}

}  // namespace
}  // namespace tgx
