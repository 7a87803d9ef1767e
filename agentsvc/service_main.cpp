// The program's command line in both run modes: install, remove, stop and start
// through systemd (the NT service mode) or through the start-up registry value
// and a close request to the running instance (the background mode).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "command_line.h"
#include "instance.h"
#include "service.h"
#include "tgx/library.h"
#include "tgx/registry.h"

namespace tgx::agent::service {

namespace {

namespace fs = std::filesystem;

constexpr char kUnitName[] = "TGXDeviceAgentService.service";
constexpr char kDefaultUnitDirectory[] = "/etc/systemd/system";
// The printing system stands where the design depends on the spooler.
constexpr char kPrintingSystemUnit[] = "cups.service";
constexpr int kStopPolls = 30;
constexpr DWORD kStopPollIntervalMs = 1000;
constexpr DWORD kModulePathSize = 512;
constexpr DWORD kStartupValueSize = 1024;

std::string ExecutablePath() {
  char path[kModulePathSize];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
  return n == 0 || n >= sizeof(path) ? std::string() : std::string(path, n);
}

// ---- Background mode ------------------------------------------------------------------

bool WriteStartupValue() {
  const std::string path = ExecutablePath();
  RegKey key;
  if (path.empty() || key.Create(HKEY_LOCAL_MACHINE, kRunServicesKey, KEY_WRITE) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExA(key.get(), kServiceName, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(path.c_str()),
                        static_cast<DWORD>(path.size() + 1)) == ERROR_SUCCESS;
}

bool DeleteStartupValue() {
  RegKey key;
  return key.Open(HKEY_LOCAL_MACHINE, kRunServicesKey, KEY_SET_VALUE) == ERROR_SUCCESS &&
         RegDeleteValueA(key.get(), kServiceName) == ERROR_SUCCESS;
}

bool StartupValueExists() {
  RegKey key;
  BYTE value[kStartupValueSize];
  DWORD size = sizeof(value);
  return key.Open(HKEY_LOCAL_MACHINE, kRunServicesKey, KEY_QUERY_VALUE) == ERROR_SUCCESS &&
         RegQueryValueExA(key.get(), kServiceName, nullptr, nullptr, value, &size) == ERROR_SUCCESS;
}

bool RemoveBackground() {
  CloseRunningInstance();
  return DeleteStartupValue();
}

// ---- systemd mode ---------------------------------------------------------------------

fs::path UnitFile() {
  const char* dir = std::getenv("TGX_SYSTEMD_UNIT_DIR");
  return fs::path(dir && *dir ? dir : kDefaultUnitDirectory) / kUnitName;
}

// Runs systemctl with fixed arguments; its exit status, and its output when asked.
int Systemctl(const std::string& arguments, std::string* output = nullptr) {
  const std::string command = "systemctl " + arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[256];
  while (std::fgets(buffer, sizeof(buffer), pipe)) {
    if (output) *output += buffer;
  }
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

enum class UnitState { kStopped, kNotStopped, kUnknown };

UnitState QueryUnitState() {
  std::string state;
  if (Systemctl(std::string("show -p ActiveState --value ") + kUnitName, &state) != 0) {
    return UnitState::kUnknown;
  }
  while (!state.empty() && std::isspace(static_cast<unsigned char>(state.back()))) state.pop_back();
  if (state == "inactive" || state == "failed") return UnitState::kStopped;
  if (state == "active" || state == "activating" || state == "deactivating" ||
      state == "reloading") {
    return UnitState::kNotStopped;
  }
  return UnitState::kUnknown;
}

// Up to 30 polls a second apart; the stop request goes with the first. True
// once the unit is seen stopped.
bool StopAndWait() {
  for (int round = 0; round < kStopPolls; ++round) {
    const UnitState state = QueryUnitState();
    if (state == UnitState::kUnknown) return false;
    if (state == UnitState::kStopped) return true;
    if (round == 0 && Systemctl(std::string("stop --no-block ") + kUnitName) != 0) return false;
    Sleep(ScaledTimeout(kStopPollIntervalMs));
  }
  return false;
}

bool RemoveSystemd() {
  std::error_code ec;
  if (fs::exists(UnitFile(), ec)) {
    if (!StopAndWait()) return false;
    if (Systemctl(std::string("disable ") + kUnitName) != 0 || !fs::remove(UnitFile(), ec)) {
      return false;
    }
    Systemctl("daemon-reload");
  }
  RemoveBackground();  // its outcome does not count
  return true;
}

bool InstallSystemd(const std::string& description) {
  if (!RemoveSystemd()) return false;
  const std::string path = ExecutablePath();
  if (path.empty()) return false;
  {
    std::ofstream unit(UnitFile(), std::ios::trunc);
    unit << "[Unit]\n"
         << "Description=" << description << "\n"
         << "After=" << kPrintingSystemUnit << "\n"
         << "Wants=" << kPrintingSystemUnit << "\n\n"
         << "[Service]\n"
         << "Type=notify\n"
         << "NotifyAccess=main\n"
         << "ExecStart=" << path << "\n"
         << "TimeoutStopSec=35\n\n"
         << "[Install]\n"
         << "WantedBy=multi-user.target\n";
    if (!unit.flush()) return false;
  }
  return Systemctl("daemon-reload") == 0 && Systemctl(std::string("enable ") + kUnitName) == 0;
}

bool StopSystemd() {
  std::error_code ec;
  return fs::exists(UnitFile(), ec) && StopAndWait();
}

bool StartSystemd() {
  std::error_code ec;
  return fs::exists(UnitFile(), ec) && Systemctl(std::string("start --no-block ") + kUnitName) == 0;
}

// The service main of the NT service mode: state reports around the run.
void RunAsService() {
  StatusReporter reporter(false);
  if (!reporter.Report(SERVICE_START_PENDING, 0, 3000) ||
      !reporter.Report(SERVICE_RUNNING, 0, 1000)) {
    reporter.Report(SERVICE_STOPPED, GetLastError(), 0);
    return;
  }
  Run(&reporter);
  reporter.Report(SERVICE_STOPPED, 0, 0);
}

int ExitCode(bool succeeded) { return succeeded ? kExitSuccess : kExitFailure; }

}  // namespace

constexpr char kUsage[] =
    "Usage: agentsvc [-OPTION | /OPTION]\n"
    "The local agent service: client programs reach printers through it on\n"
    "127.0.0.1, port 50229 (TGX_AGENT_PORT moves it).\n"
    "\n"
    "Options (exact words):\n"
    "  install [TEXT]  install the service (systemd unit, or the start-up value)\n"
    "  remove          remove the service\n"
    "  start           start the installed service\n"
    "  stop            stop the running service\n"
    "  debug           run in the foreground without status reports\n"
    "Without an option the service runs: under systemd as the notify service,\n"
    "otherwise as a background process. Exit status: 0 success, 1052 failure\n"
    "(seen as 28 by a Linux shell, which keeps 8 bits).\n";

int Main(int argc, const char* const* argv) {
  // "--help" alone is answered here; every other text goes to the design's scan.
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::fputs(kUsage, stdout);
    return kExitSuccess;
  }
  const CommandLine command = ParseCommandLine(CommandLineText(argc, argv));
  const bool systemd = DetectRunMode() == RunMode::kSystemd;
  switch (command.option) {
    case Option::kInstall:
      if (systemd) return ExitCode(InstallSystemd(command.description));
      CloseRunningInstance();
      return ExitCode(WriteStartupValue());
    case Option::kRemove: return ExitCode(systemd ? RemoveSystemd() : RemoveBackground());
    case Option::kStop:
      if (systemd) return ExitCode(StopSystemd());
      CloseRunningInstance();
      return kExitSuccess;
    case Option::kStart:
      if (systemd) return ExitCode(StartSystemd());
      if (!StartupValueExists()) return kExitFailure;
      Run(nullptr);  // RegisterServiceProcess does not exist here: nothing to register
      return kExitSuccess;
    case Option::kDebug: {
      StatusReporter quiet(true);
      Run(&quiet);
      return kExitSuccess;
    }
    case Option::kNone:
      if (systemd) {
        RunAsService();
      } else {
        Run(nullptr);
      }
      return kExitSuccess;
  }
  return kExitSuccess;
}

}  // namespace tgx::agent::service
