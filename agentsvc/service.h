// The service process: its run (single-instance guard, networking, the 1394
// library, the main loop with the session server) and the two ways it is
// managed: as a systemd service (the NT service mode) or as a background
// process with a start-up registry value (the 9x mode).
#pragma once

#include "tgx/win32.h"

namespace tgx::agent::service {

inline constexpr char kServiceName[] = "TGXDeviceAgentService";
inline constexpr char kDisplayName[] = "TGX Device Agent Service";
// Also the base name of the single-instance mutex.
inline constexpr char kMainWindowClass[] = "Arvona TGXPrinter Local Service";
inline constexpr char kRunServicesKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Runservices";

inline constexpr int kExitSuccess = 0;
// The only failure code; a Linux exit status keeps its low 8 bits (28).
inline constexpr int kExitFailure = 1052;

// Service states as the status reports name them.
inline constexpr DWORD SERVICE_STOPPED = 1;
inline constexpr DWORD SERVICE_START_PENDING = 2;
inline constexpr DWORD SERVICE_STOP_PENDING = 3;
inline constexpr DWORD SERVICE_RUNNING = 4;

// NT service mode when systemd runs the system (/run/systemd/system exists),
// else background mode. Tests choose with TGX_SERVICE_MODE=systemd|background.
enum class RunMode { kSystemd, kBackground };
RunMode DetectRunMode();

// The service's status reports to systemd (sd_notify over $NOTIFY_SOCKET).
class StatusReporter {
 public:
  // While debugging nothing is reported and every report counts as done.
  explicit StatusReporter(bool debug) : debug_(debug) {}
  bool Report(DWORD state, DWORD exit_code, DWORD wait_hint_ms);

 private:
  bool debug_;
  DWORD check_point_ = 1;
};

// Runs the service until its main loop is closed (a close request, SIGTERM or
// SIGINT). `reporter`, when given, reports the stop as it begins.
void Run(StatusReporter* reporter);

// The program: handles its command line and returns the exit code.
int Main(int argc, const char* const* argv);

}  // namespace tgx::agent::service
