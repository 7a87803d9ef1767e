// Processes: started with posix_spawn, held by pidfd, reaped without fail.
#include "tgx/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "tgx/library.h"

extern char** environ;

namespace tgx {
namespace {

// Direct system calls: glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
int OpenPidfd(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
int SignalPidfd(int pidfd, int signal) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// Reaps the processes whose handles were closed while they still ran. Its
// thread runs only while it has processes to wait for. Never destroyed, so that
// its thread may outlive the statics of an ending process.
class Reaper {
 public:
  static Reaper& Instance() {
    static Reaper* const reaper = new Reaper;
    return *reaper;
  }

  // Takes ownership of pidfd, a child that has not been reaped.
  void Adopt(int pidfd) {
    std::lock_guard lock(mutex_);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = pidfd;
    if (epoll_ < 0 || epoll_ctl(epoll_, EPOLL_CTL_ADD, pidfd, &event) != 0) {
      close(pidfd);  // Nothing can wait for it: it stays a zombie until we exit.
      return;
    }
    ++count_;
    if (!running_) {
      running_ = true;
      std::thread([this] { Run(); }).detach();
    }
  }

 private:
  Reaper() : epoll_(epoll_create1(EPOLL_CLOEXEC)) {}

  void Run() {
    epoll_event events[16];
    for (;;) {
      const int ready = epoll_wait(epoll_, events, 16, -1);
      std::lock_guard lock(mutex_);
      for (int i = 0; i < ready; ++i) {
        const int pidfd = events[i].data.fd;
        siginfo_t info{};
        if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info,
                   WEXITED | WNOHANG) == 0 &&
            info.si_pid == 0) {
          continue;  // Not ended after all.
        }
        epoll_ctl(epoll_, EPOLL_CTL_DEL, pidfd, nullptr);
        close(pidfd);
        --count_;
      }
      if (count_ == 0) {
        running_ = false;
        return;
      }
    }
  }

  std::mutex mutex_;
  const int epoll_;
  std::size_t count_ = 0;
  bool running_ = false;
};

class ProcessObject final : public KernelObject {
 public:
  ProcessObject(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
  ~ProcessObject() override {
    std::lock_guard lock(mutex_);
    if (ReapIfEnded()) {
      close(pidfd_);
    } else {
      Reaper::Instance().Adopt(pidfd_);
    }
  }

  DWORD Wait(DWORD milliseconds) override {
    const DWORD start = GetTickCount();
    for (;;) {
      int timeout = -1;
      if (milliseconds != INFINITE) {
        const DWORD elapsed = GetTickCount() - start;
        timeout = elapsed >= milliseconds ? 0 : static_cast<int>(milliseconds - elapsed);
      }
      pollfd entry{pidfd_, POLLIN, 0};
      const int ready = poll(&entry, 1, timeout);
      if (ready > 0) {
        std::lock_guard lock(mutex_);
        ReapIfEnded();
        return WAIT_OBJECT_0;
      }
      if (ready == 0) return WAIT_TIMEOUT;
      if (errno != EINTR) {
        SetLastErrorFromErrno();
        return WAIT_FAILED;
      }
    }
  }

  DWORD ExitCode() {
    std::lock_guard lock(mutex_);
    return ReapIfEnded() ? exitCode_ : STILL_ACTIVE;
  }

  BOOL Terminate(UINT exitCode) {
    std::lock_guard lock(mutex_);
    if (ReapIfEnded()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    terminateCode_ = exitCode;
    if (SignalPidfd(pidfd_, SIGKILL) != 0) {
      terminateCode_.reset();
      SetLastError(errno == ESRCH ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno));
      return FALSE;
    }
    return TRUE;
  }

  pid_t pid() const { return pid_; }

 private:
  // With mutex_ held. True once the process has ended (and has been reaped).
  bool ReapIfEnded() {
    if (ended_) return true;
    siginfo_t info{};
    if (waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd_), &info,
               WEXITED | WNOHANG) != 0) {
      return false;
    }
    if (info.si_pid == 0) return false;
    ended_ = true;
    if (info.si_code == CLD_EXITED) {
      exitCode_ = static_cast<DWORD>(info.si_status);
    } else if (info.si_status == SIGKILL && terminateCode_) {
      exitCode_ = *terminateCode_;
    } else {
      exitCode_ = 128 + static_cast<DWORD>(info.si_status);
    }
    return true;
  }

  const pid_t pid_;
  const int pidfd_;
  std::mutex mutex_;
  bool ended_ = false;
  DWORD exitCode_ = STILL_ACTIVE;
  std::optional<UINT> terminateCode_;
};

bool EndsWithExe(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return tail == ".exe";
}

// The files that a program name may stand for: "x.exe" is first "x".
std::vector<std::string> ProgramCandidates(const std::string& name) {
  if (EndsWithExe(name)) return {name.substr(0, name.size() - 4), name};
  return {name};
}

// Finds the program file: the path itself when the name holds a "/", else the
// own directory, then PATH. ERROR_SUCCESS with the absolute path, or the error.
DWORD FindProgram(const std::string& name, bool search, const void* starter, std::string& path) {
  std::vector<std::string> directories;
  if (!search || name.find('/') != std::string::npos) {
    directories.push_back(name.front() == '/' ? "" : ".");
  } else {
    if (std::string own = ModuleDirectoryOf(starter); !own.empty()) directories.push_back(own);
    const char* pathList = std::getenv("PATH");
    std::string_view rest = pathList ? pathList : "/usr/local/bin:/usr/bin:/bin";
    for (;;) {
      const std::size_t colon = rest.find(':');
      const std::string_view entry = rest.substr(0, colon);
      directories.emplace_back(entry.empty() ? "." : entry);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  DWORD error = ERROR_FILE_NOT_FOUND;
  for (const std::string& directory : directories) {
    for (const std::string& candidate : ProgramCandidates(name)) {
      std::string file = directory.empty() ? candidate : directory + "/" + candidate;
      struct stat status {};
      if (stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
      if (access(file.c_str(), X_OK) != 0) {
        error = ERROR_ACCESS_DENIED;
        continue;
      }
      if (file.front() != '/') {
        char* absolute = realpath(file.c_str(), nullptr);
        if (!absolute) continue;
        file = absolute;
        std::free(absolute);
      }
      path = std::move(file);
      return ERROR_SUCCESS;
    }
  }
  return error;
}

std::vector<std::string> SplitEnvironmentBlock(const char* block) {
  std::vector<std::string> entries;
  for (const char* entry = block; *entry; entry += entries.back().size() + 1) {
    entries.emplace_back(entry);
  }
  return entries;
}

std::vector<char*> PointerArray(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// posix_spawn attributes and file actions, released on every path.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Returns 0 or an errno value.
  int Prepare(DWORD creationFlags, BOOL inheritHandles, const char* currentDirectory) {
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (creationFlags & DETACHED_PROCESS) {
      flags |= POSIX_SPAWN_SETSID;
    } else if (creationFlags & CREATE_NEW_PROCESS_GROUP) {
      flags |= POSIX_SPAWN_SETPGROUP;
    }
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) {
      sigaddset(&defaults, signal);
    }
    int error = posix_spawnattr_setflags(&attributes_, flags);
    if (!error) error = posix_spawnattr_setsigmask(&attributes_, &none);
    if (!error) error = posix_spawnattr_setsigdefault(&attributes_, &defaults);
    if (!error && (flags & POSIX_SPAWN_SETPGROUP)) {
      error = posix_spawnattr_setpgroup(&attributes_, 0);
    }
    if (!error && (creationFlags & DETACHED_PROCESS)) {
      error = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
      if (!error) error = posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
      if (!error) error = posix_spawn_file_actions_adddup2(&actions_, 1, 2);
    }
    if (!error && !inheritHandles) error = posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    if (!error && currentDirectory && *currentDirectory) {
      error = posix_spawn_file_actions_addchdir_np(&actions_, currentDirectory);
    }
    return error;
  }

  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

DWORD SpawnError(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES: return ERROR_ACCESS_DENIED;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    default: return Win32ErrorFromErrno(error);
  }
}

ProcessObject* AsProcess(const Handle& handle) {
  ProcessObject* process = handle.as<ProcessObject>();
  if (!process) SetLastError(ERROR_INVALID_HANDLE);
  return process;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  };
  skipBlanks();
  if (i == line.size()) return arguments;
  // The program name: quotes group, backslashes are plain characters.
  std::string program;
  bool quoted = false;
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      break;
    } else {
      program += c;
    }
  }
  arguments.push_back(std::move(program));
  for (;;) {
    skipBlanks();
    if (i == line.size()) break;
    std::string argument;
    quoted = false;
    while (i < line.size()) {
      const char c = line[i];
      if (c == '\\') {
        std::size_t end = i;
        while (end < line.size() && line[end] == '\\') ++end;
        const std::size_t count = end - i;
        if (end < line.size() && line[end] == '"') {
          argument.append(count / 2, '\\');
          if (count % 2 == 1) {
            argument += '"';
            ++end;
          }
        } else {
          argument.append(count, '\\');
        }
        i = end;
      } else if (c == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          argument += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else if (!quoted && (c == ' ' || c == '\t')) {
        break;
      } else {
        argument += c;
        ++i;
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

void GetStartupInfoA(STARTUPINFOA* startupInfo) {
  if (startupInfo) *startupInfo = STARTUPINFOA{};
}

BOOL CreateProcessA(const char* applicationName, const char* commandLine,
                    const SECURITY_ATTRIBUTES*, const SECURITY_ATTRIBUTES*, BOOL inheritHandles,
                    DWORD creationFlags, const char* environment, const char* currentDirectory,
                    const STARTUPINFOA*, PROCESS_INFORMATION* processInformation,
                    const void* starter) {
  if (!processInformation) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *processInformation = PROCESS_INFORMATION{};
  std::vector<std::string> arguments = SplitCommandLine(commandLine ? commandLine : "");
  const bool hasApplication = applicationName && *applicationName;
  if (hasApplication && arguments.empty()) arguments.emplace_back(applicationName);
  if (arguments.empty() || arguments.front().empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string program;
  if (const DWORD error = FindProgram(hasApplication ? applicationName : arguments.front(),
                                      !hasApplication, starter, program);
      error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }

  std::vector<std::string> environmentEntries;
  if (environment) environmentEntries = SplitEnvironmentBlock(environment);
  std::vector<char*> argv = PointerArray(arguments);
  std::vector<char*> envp = PointerArray(environmentEntries);

  SpawnSetup setup;
  if (const int error = setup.Prepare(creationFlags, inheritHandles, currentDirectory)) {
    SetLastError(Win32ErrorFromErrno(error));
    return FALSE;
  }
  pid_t pid = 0;
  if (const int error = posix_spawn(&pid, program.c_str(), setup.actions(), setup.attributes(),
                                    argv.data(), environment ? envp.data() : environ)) {
    SetLastError(SpawnError(error));
    return FALSE;
  }
  // The child is ours and unreaped, so its pid cannot be reused before this.
  // A pidfd is close-on-exec from the start.
  const int pidfd = OpenPidfd(pid);
  if (pidfd < 0) {
    const DWORD error = SetLastErrorFromErrno();
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    SetLastError(error);
    return FALSE;
  }
  processInformation->hProcess = Handle(std::make_unique<ProcessObject>(pid, pidfd));
  processInformation->dwProcessId = static_cast<DWORD>(pid);
  processInformation->dwThreadId = static_cast<DWORD>(pid);
  return TRUE;
}

BOOL GetExitCodeProcess(const Handle& process, DWORD* exitCode) {
  ProcessObject* object = AsProcess(process);
  if (!object) return FALSE;
  if (!exitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *exitCode = object->ExitCode();
  return TRUE;
}

BOOL TerminateProcess(const Handle& process, UINT exitCode) {
  ProcessObject* object = AsProcess(process);
  return object ? object->Terminate(exitCode) : FALSE;
}

DWORD GetProcessId(const Handle& process) {
  ProcessObject* object = AsProcess(process);
  return object ? static_cast<DWORD>(object->pid()) : 0;
}

}  // namespace tgx
