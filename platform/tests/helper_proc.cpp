// Helper program of the process, registry and message-loop tests. The first
// argument picks the role; see each case below.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "registry_pattern.h"
#include "tgx/kobj.h"
#include "tgx/msgthread.h"
#include "tgx/process.h"
#include "tgx/registry.h"

namespace tgx {
namespace {

void WriteFile(const char* path, const std::string& text) {
  const std::string temp = std::string(path) + ".part";
  std::ofstream(temp) << text;
  std::rename(temp.c_str(), path);  // Readers see the whole text or nothing.
}

bool IsDevNull(int fd) {
  struct stat a {
  }, b{};
  return fstat(fd, &a) == 0 && stat("/dev/null", &b) == 0 && a.st_rdev == b.st_rdev &&
         S_ISCHR(a.st_mode);
}

// Rewrites one value in a loop until killed: each write is a self-checking
// pattern (see registry_pattern.h).
int RegistryLoop(const char* valueName) {
  RegKey key;
  if (key.Create(HKEY_LOCAL_MACHINE, test::kCrashKey, KEY_ALL_ACCESS) != 0) return 2;
  for (unsigned round = 0;; ++round) {
    const std::string data = test::RegistryPattern(round);
    if (RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1)) != 0) {
      return 3;
    }
  }
}

// Writes <prefix>0 .. <prefix><count-1> into one key, each holding its index.
int RegistryMany(const char* prefix, int count) {
  RegKey key;
  if (key.Create(HKEY_LOCAL_MACHINE, test::kConcurrentKey, KEY_ALL_ACCESS) != 0) {
    return 2;
  }
  for (DWORD i = 0; i < static_cast<DWORD>(count); ++i) {
    const std::string name = prefix + std::to_string(i);
    if (RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i),
                       sizeof i) != 0) {
      return 3;
    }
  }
  return 0;
}

// Runs a main loop that closes on SIGTERM: exit code 0 only through WM_CLOSE.
int MainLoop(const char* file) {
  MessageLoop loop =
      MessageLoop::Create([file](MessageLoop& self, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_CLOSE) {
          WriteFile(file, "closed");
          self.Quit(0);
        }
        return 0;
      });
  if (!loop || !loop.PostOnTerminationSignals(WM_CLOSE)) return 2;
  WriteFile(file, "ready");
  return loop.Run();
}

}  // namespace
}  // namespace tgx

int main(int argc, char** argv) {
  using namespace tgx;
  const std::string role = argc > 1 ? argv[1] : "";
  if (role == "exit" && argc == 3) return std::atoi(argv[2]);
  if (role == "sleep" && argc == 4) {
    Sleep(static_cast<DWORD>(std::atoi(argv[2])));
    return std::atoi(argv[3]);
  }
  if (role == "argv" && argc >= 3) {  // argv <file> args...: one argument a line.
    std::string text;
    for (int i = 3; i < argc; ++i) text += std::string(argv[i]) + "\n";
    WriteFile(argv[2], text);
    return 0;
  }
  if (role == "session" && argc == 3) {  // session <file>: "<sid> <pid> <std on /dev/null>"
    const bool devNull = IsDevNull(0) && IsDevNull(1) && IsDevNull(2);
    WriteFile(argv[2], std::to_string(getsid(0)) + " " + std::to_string(getpid()) + " " +
                           (devNull ? "1" : "0"));
    return 0;
  }
  if (role == "start-detached" && argc == 4) {  // Starts "late" detached and ends at once.
    const std::string command =
        std::string("platform_helper_proc.exe late ") + argv[2] + " " + argv[3];
    PROCESS_INFORMATION info;
    return CreateProcessA(nullptr, command.c_str(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                          nullptr, nullptr, nullptr, &info)
               ? 0
               : 2;
  }
  if (role == "late" && argc == 4) {  // late <file> <ms>: waits, then writes its ppid.
    Sleep(static_cast<DWORD>(std::atoi(argv[3])));
    WriteFile(argv[2], std::to_string(getppid()));
    return 0;
  }
  if (role == "regloop" && argc == 3) return RegistryLoop(argv[2]);
  if (role == "regmany" && argc == 4) return RegistryMany(argv[2], std::atoi(argv[3]));
  if (role == "mainloop" && argc == 3) return MainLoop(argv[2]);
  if (role == "abandon" && argc == 3) {  // Takes a named mutex and dies holding it.
    Handle mutex = CreateMutexA(nullptr, FALSE, argv[2]);
    if (!mutex || WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) return 2;
    _exit(0);
  }
  std::fprintf(stderr, "platform_helper_proc: unknown role\n");
  return 100;
}
